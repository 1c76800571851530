// The fetch at the service's limit: 2,000 queries against the loopback double with 200 ms of
// latency per request and a quota of 50 requests per second. One slot is measured on a few
// hundred queries and scaled; 20 slots with MaxRps 50 fetch all 2,000. Both are compared with the
// floor the quota sets (2,000 / 50 = 40 s). A plain timed program, not Google Benchmark.
//
//   fetch_pool_bench [--queries N] [--single N] [--threads N] [--max-rps R] [--latency MS]
//                    [--quota R]
#include "search/http_transport.h"
#include "search/yandex_worker.h"

#include "support/service_double.h"

#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace kelvara;
using Clock = std::chrono::steady_clock;

struct Outcome {
    double seconds = 0;
    int requests = 0;
    int refused = 0;
    int answered = 0;
    int lost = 0;        // lines without an answer
    int askedTwice = 0;  // queries the service served more than once
    int slowDowns = 0;
};

Outcome fetch(int queries, int threads, double maxRps, int latencyMs, double quota) {
    test::ServiceDouble service;
    service.setLatency(latencyMs);
    service.setQuota(quota, test::ServiceDouble::Refusal::Http429);
    service.setResponder([](const QString& q) {
        return test::ServiceAnswer::urls(
            {u"https://a.example/"_qs + q, u"https://b.example/"_qs + q.right(2)});
    });
    FetchList list;
    for (int i = 0; i < queries; ++i) {
        list.push_back({u"query %1"_qs.arg(i), nullptr});
    }
    SearchContext context;
    context.transport = std::make_shared<CurlTransport>();
    context.threads = threads;
    context.maxRps = maxRps;
    YandexWorker worker(service.searchUrl() + u"&lr=213"_qs, list, std::move(context));
    const Clock::time_point start = Clock::now();
    worker.Execute();
    Outcome o;
    o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    o.requests = service.requestCount();
    o.refused = service.refusedCount();
    o.answered = worker.FSuccessQueries.load();
    o.slowDowns = worker.FSlowDowns.load();
    for (const FetchLine& line : list) {
        o.lost += line.entry ? 0 : 1;
    }
    for (const auto& [query, served] : service.servedPerQuery()) {
        o.askedTwice += served > 1 ? 1 : 0;
    }
    return o;
}

void print(const char* name, const Outcome& o, double scale, double floor) {
    const double seconds = o.seconds * scale;
    std::printf(
        "%-26s %8.1f s%s  %5.2fx floor  requests %5d  refused %4d (%.2f %%)  "
        "slow-downs %3d  lost %d  asked twice %d\n",
        name, seconds, scale != 1 ? " (scaled)" : "         ", seconds / floor, o.requests,
        o.refused, o.requests ? 100.0 * o.refused / o.requests : 0.0, o.slowDowns, o.lost,
        o.askedTwice);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    httpGlobalInit();
    int queries = 2000;
    int single = 300;
    int threads = 20;
    double maxRps = 50;
    int latency = 200;
    double quota = 50;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        const QString& flag = args[i];
        const QString& value = args[i + 1];
        if (flag == u"--queries") {
            queries = value.toInt();
        } else if (flag == u"--single") {
            single = value.toInt();
        } else if (flag == u"--threads") {
            threads = value.toInt();
        } else if (flag == u"--max-rps") {
            maxRps = value.toDouble();
        } else if (flag == u"--latency") {
            latency = value.toInt();
        } else if (flag == u"--quota") {
            quota = value.toDouble();
        } else {
            std::fprintf(stderr, "unknown flag %s\n", qPrintable(flag));
            return 2;
        }
    }
    const double floor = queries / quota;
    std::printf("%d queries, %d ms latency, quota %.0f requests/s: floor %.1f s\n", queries,
                latency, quota, floor);
    if (single > 0) {
        const Outcome one = fetch(single, 1, 0, latency, quota);
        print("1 slot", one, double(queries) / single, floor);
    }
    const Outcome pool = fetch(queries, threads, maxRps, latency, quota);
    char name[64];
    std::snprintf(name, sizeof name, "%d slots, MaxRps %.0f", threads, maxRps);
    print(name, pool, 1, floor);
    const bool ok = pool.lost == 0 && pool.askedTwice == 0 && pool.refused * 100 < pool.requests &&
                    pool.seconds <= 1.15 * floor;
    std::printf("goal (within 1.15x the floor, < 1 %% refused, nothing lost or asked twice): %s\n",
                ok ? "met" : "NOT met");
    return 0;
}
