// The search worker's own cost per request (URL building, code page, parse, entry) for an answer
// of 10 groups, with an in-memory transport; and a whole request against the loopback double.
#include "search/query_encoding.h"
#include "search/yandex_answer.h"
#include "search/yandex_worker.h"

#include "support/service_double.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using namespace kelvara;

QStringList tenUrls(int seed) {
    QStringList urls;
    for (int i = 0; i < 10; ++i) {
        urls.append(u"https://www.site-%1.example.ru/catalog/item-%2/?utm_source=serp"_qs
                        .arg((seed * 7 + i * 13) % 997)
                        .arg(i));
    }
    return urls;
}

QString tenGroupXml() {
    // The double's answer: the shape and size of the service's own (about 8 KB).
    return QString::fromUtf8(test::xmlWithUrls(tenUrls(1)));
}

// Answers every request at once with the same body.
class FixedTransport final : public HttpTransport {
public:
    explicit FixedTransport(QString body) {
        response_.status = 200;
        response_.body = std::move(body);
    }
    HttpResponse perform(const HttpRequest& request, const AbortCheck&) override {
        benchmark::DoNotOptimize(request.url.data());
        return response_;
    }

private:
    HttpResponse response_;
};

FetchList queries(int n) {
    FetchList list;
    list.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        list.push_back({u"купить кофе в зернах недорого %1"_qs.arg(i), nullptr});
    }
    return list;
}

const QString kBase =
    u"https://yandex.ru/search/xml?folderid=b1gexample&apikey=AQVNexamplekey&lr=213"_qs;

void BM_WorkerPerRequestInMemory(benchmark::State& state) {
    const int n = 100;
    SearchContext context;
    context.transport = std::make_shared<FixedTransport>(tenGroupXml());
    context.clock = [] { return Stamp(739'000) * kMsPerDay; };
    context.codePage = "windows-1251";
    for (auto _ : state) {
        state.PauseTiming();
        FetchList list = queries(n);
        state.ResumeTiming();
        YandexWorker worker(kBase, list, context);
        worker.Execute();
        benchmark::DoNotOptimize(list.back().entry.get());
        state.PauseTiming();
        list.clear();  // releasing the entries is the store's cost, not the worker's
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_WorkerPerRequestInMemory)->Unit(benchmark::kMillisecond);

void BM_ReadTenGroupAnswer(benchmark::State& state) {
    const QString xml = tenGroupXml();
    for (auto _ : state) {
        YandexAnswer a = ReadYandexAnswer(xml);
        benchmark::DoNotOptimize(a.urls.data());
    }
    state.SetBytesProcessed(state.iterations() * xml.size() * 2);
}
BENCHMARK(BM_ReadTenGroupAnswer)->Unit(benchmark::kMicrosecond);

void BM_RequestUrlThroughCodePage(benchmark::State& state) {
    const AnsiCodec codec("windows-1251");
    const QString query = u"купить кофе в зернах недорого"_qs;
    for (auto _ : state) {
        QByteArray url = codec.encode(RequestUrl(kBase, query));
        benchmark::DoNotOptimize(url.data());
    }
}
BENCHMARK(BM_RequestUrlThroughCodePage)->Unit(benchmark::kMicrosecond);

// Measures the time spent inside the transport, so that the worker's own share of a real
// request can be told apart.
class TimedTransport final : public HttpTransport {
public:
    explicit TimedTransport(std::shared_ptr<HttpTransport> inner) : inner_(std::move(inner)) {}
    HttpResponse perform(const HttpRequest& request, const AbortCheck& abort) override {
        const auto start = std::chrono::steady_clock::now();
        HttpResponse r = inner_->perform(request, abort);
        spent += std::chrono::steady_clock::now() - start;
        return r;
    }
    std::chrono::steady_clock::duration spent{};

private:
    std::shared_ptr<HttpTransport> inner_;
};

// Whole requests over a loopback socket (libcurl set-up, connection, the double's answer); the
// counter worker_us is the worker's own share per request, outside the transport.
void BM_WorkerPerRequestLoopback(benchmark::State& state) {
    const int n = 20;
    test::ServiceDouble service;
    service.setResponder([](const QString&) { return test::ServiceAnswer::urls(tenUrls(1)); });
    auto timed = std::make_shared<TimedTransport>(std::make_shared<CurlTransport>());
    SearchContext context;
    context.transport = timed;
    context.codePage = "windows-1251";
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        FetchList list = queries(n);
        const auto start = std::chrono::steady_clock::now();
        YandexWorker worker(service.searchUrl() + u"&lr=213"_qs, list, context);
        worker.Execute();
        total += std::chrono::steady_clock::now() - start;
        if (worker.FStatus.load() != ysSuccess) {
            state.SkipWithError("the double did not answer");
            break;
        }
    }
    const double requests = double(state.iterations()) * n;
    state.SetItemsProcessed(int64_t(requests));
    state.counters["worker_us"] =
        std::chrono::duration<double, std::micro>(total - timed->spent).count() / requests;
    state.counters["transport_us"] =
        std::chrono::duration<double, std::micro>(timed->spent).count() / requests;
}
BENCHMARK(BM_WorkerPerRequestLoopback)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    httpGlobalInit();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
