// The worker over real sockets, against the loopback service double.
#include "search/yandex_thread.h"
#include "search/yandex_worker.h"

#include "support/service_double.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <mutex>
#include <thread>

namespace kelvara {
namespace {

using test::ServiceAnswer;
using test::ServiceDouble;

constexpr Stamp kNow = 739'000 * kMsPerDay + 500;

FetchList linesOf(const QStringList& texts) {
    FetchList list;
    for (const QString& t : texts) {
        list.push_back({t, nullptr});
    }
    return list;
}

// The program's transport, trusting the test CA; pauses are recorded and skipped unless asked.
struct Client {
    std::vector<int> pauses;
    bool realPauses = false;
    CurlTransportOptions options;
    Client() { options.caFile = ServiceDouble::caFile(); }
    SearchContext context() {
        SearchContext c;
        c.transport = std::make_shared<CurlTransport>(options);
        c.clock = [] { return kNow; };
        c.codePage = "windows-1251";
        c.pause = [this](int ms) {
            pauses.push_back(ms);
            if (realPauses) {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            }
        };
        return c;
    }
};

QString base(const ServiceDouble& service) {
    return service.searchUrl() + u"&lr=213"_qs;
}

TEST(YandexWorkerOverSockets, EmptyListEndsInSuccessAtOnce) {
    ServiceDouble service;
    Client setup;
    FetchList list;
    YandexWorker worker(base(service), list, setup.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_EQ(worker.FTotalQueries, 0);
    EXPECT_EQ(service.requestCount(), 0);
}

TEST(YandexWorkerOverSockets, AnswersEveryQueryWithSortedMergedUrls) {
    ServiceDouble service;
    service.script(u"купить кофе"_qs,
                   {ServiceAnswer::urls({u"https://shop.example/coffee"_qs,
                                         u"https://Beans.example/"_qs, u"https://beans.example/"_qs,
                                         u"https://arabica.example/buy?a=1&b=2"_qs})});
    service.script(u"a b"_qs, {ServiceAnswer::urls({u"https://ab.example/"_qs})});
    Client setup;
    FetchList list = linesOf({u"купить кофе"_qs, u"a b"_qs});
    YandexWorker worker(base(service), list, setup.context());
    worker.Execute();

    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_EQ(worker.FSuccessQueries.load(), 2);
    ASSERT_TRUE(list[0].entry);
    EXPECT_EQ(list[0].entry->Urls.texts(),
              (QStringList{u"https://arabica.example/buy?a=1&b=2"_qs, u"https://Beans.example/"_qs,
                           u"https://shop.example/coffee"_qs}));
    EXPECT_EQ(list[0].entry->Stamp, kNow);
    ASSERT_TRUE(list[1].entry);
    EXPECT_TRUE(setup.pauses.empty());

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, u"GET"_qs);
    EXPECT_EQ(requests[0].path, u"/search/xml"_qs);
    QStringList names;
    for (const auto& [name, value] : requests[0].params) {
        names.append(name);
    }
    EXPECT_EQ(names, (QStringList{u"user"_qs, u"key"_qs, u"lr"_qs, u"query"_qs, u"l10n"_qs,
                                  u"sortby"_qs, u"filter"_qs, u"groupby"_qs}));
    EXPECT_EQ(requests[0].param(u"groupby"_qs),
              u"attr=d.mode=deep.groups-on-page=10.docs-in-group=1"_qs);
    EXPECT_TRUE(requests[1].target.contains("&query=a%20b&")) << requests[1].target.constData();
}

TEST(YandexWorkerOverSockets, RetriesA503AfterARealPause) {
    ServiceDouble service;
    service.script(u"q"_qs,
                   {ServiceAnswer::withStatus(503), ServiceAnswer::urls({u"https://q/"_qs})});
    Client setup;
    setup.realPauses = true;
    FetchList list = linesOf({u"q"_qs});
    YandexWorker worker(base(service), list, setup.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_TRUE(list[0].entry);
    EXPECT_EQ(setup.pauses, std::vector<int>{200});
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto gap =
        std::chrono::duration_cast<std::chrono::milliseconds>(requests[1].at - requests[0].at);
    RecordProperty("pause_ms", int(gap.count()));
}

TEST(YandexWorkerOverSockets, FourFailuresEndInConnectErrorAndKeepEarlierLines) {
    ServiceDouble service;
    service.script(u"first"_qs, {ServiceAnswer::urls({u"https://1/"_qs})});
    service.script(u"second"_qs, {ServiceAnswer::withStatus(503)});
    service.script(u"third"_qs, {ServiceAnswer::urls({u"https://3/"_qs})});
    Client setup;
    FetchList list = linesOf({u"first"_qs, u"second"_qs, u"third"_qs});
    YandexWorker worker(base(service), list, setup.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysError);
    EXPECT_EQ(worker.FErrorCode.load(), yrConnect);
    EXPECT_EQ(worker.ErrorText(), QString());
    EXPECT_EQ(worker.FSuccessQueries.load(), 1);
    EXPECT_EQ(setup.pauses, (std::vector<int>{200, 1000, 1000}));
    EXPECT_TRUE(list[0].entry);
    EXPECT_FALSE(list[1].entry);
    EXPECT_FALSE(list[2].entry);
    EXPECT_EQ(service.requestCount(), 5) << "the third query is never asked";
}

TEST(YandexWorkerOverSockets, ServiceErrorsAndBrokenAnswers) {
    struct Case {
        const char* name;
        ServiceAnswer answer;
        TYandexStatus status;
        TYandexError error;
        QString text;
        int requests;
    };
    ServiceAnswer cut = ServiceAnswer::urls({u"https://a/"_qs, u"https://b/"_qs});
    cut.body.chop(cut.body.size() / 3);
    const Case cases[] = {
        {"unknown cause, retried", ServiceAnswer::error(20, u"Внутренняя ошибка"_qs), ysError,
         yrMessage, u"Внутренняя ошибка"_qs, 4},
        {"daily limit, at once", ServiceAnswer::error(32, u"Лимит запросов исчерпан"_qs), ysError,
         yrDailyLimit, u"Лимит запросов исчерпан"_qs, 1},
        {"code 15: nothing found",
         ServiceAnswer::error(15, u"Sorry, there are no results"_qs),
         ysSuccess,
         yrConnect,
         {},
         1},
        {"HTML with status 200", ServiceAnswer::html(), ysError, yrDomXml, {}, 4},
        {"cut-off XML", cut, ysError, yrDomXml, {}, 4},
    };
    for (const Case& c : cases) {
        ServiceDouble service;
        service.script(u"q"_qs, {c.answer});
        Client setup;
        FetchList list = linesOf({u"q"_qs});
        YandexWorker worker(base(service), list, setup.context());
        worker.Execute();
        EXPECT_EQ(worker.FStatus.load(), c.status) << c.name;
        if (c.status == ysError) {
            EXPECT_EQ(worker.FErrorCode.load(), c.error) << c.name;
        } else {
            EXPECT_EQ(worker.FSuccessQueries.load(), 1) << c.name;
        }
        EXPECT_EQ(worker.ErrorText(), c.text) << c.name;
        // Only an answer ("nothing found") gets an entry, and that without URLs.
        EXPECT_EQ(bool(list[0].entry), c.status == ysSuccess) << c.name;
        if (list[0].entry) {
            EXPECT_TRUE(list[0].entry->Urls.empty()) << c.name;
        }
        EXPECT_EQ(service.requestCount(), c.requests) << c.name;
    }
}

TEST(YandexWorkerOverSockets, HttpsWithTheTestCa) {
    ServiceDouble service(ServiceDouble::Tls::Trusted);
    service.script(u"q"_qs, {ServiceAnswer::urls({u"https://secure.example/"_qs})});
    Client setup;
    FetchList list = linesOf({u"q"_qs});
    YandexWorker worker(base(service), list, setup.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
    ASSERT_TRUE(list[0].entry);
    EXPECT_EQ(list[0].entry->Urls.texts(), QStringList{u"https://secure.example/"_qs});
}

TEST(YandexWorkerOverSockets, HttpsWithAnUntrustedCertificateFailsAsConnect) {
    ServiceDouble service(ServiceDouble::Tls::Untrusted);
    service.script(u"q"_qs, {ServiceAnswer::urls({u"https://x/"_qs})});
    Client setup;
    FetchList list = linesOf({u"q"_qs});
    YandexWorker worker(base(service), list, setup.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysError);
    EXPECT_EQ(worker.FErrorCode.load(), yrConnect);
    EXPECT_EQ(service.requestCount(), 0) << "no request may pass an unverified connection";
}

TEST(YandexWorkerOverSockets, RestFormSendsBodyAndHeaderAndReadsTheBase64Answer) {
    ServiceDouble service;
    service.script(u"купить кофе"_qs,
                   {ServiceAnswer::urls({u"https://b.example/"_qs, u"https://a.example/"_qs})});
    service.script(u"broken"_qs, {ServiceAnswer::html()});
    Client setup;
    FetchList list = linesOf({u"купить кофе"_qs, u"broken"_qs});
    YandexWorker worker(service.restUrl() + u"&lr=213"_qs, list, setup.context());
    worker.Execute();

    ASSERT_TRUE(list[0].entry);
    EXPECT_EQ(list[0].entry->Urls.texts(),
              (QStringList{u"https://a.example/"_qs, u"https://b.example/"_qs}));
    EXPECT_EQ(worker.FSuccessQueries.load(), 1);
    EXPECT_EQ(worker.FStatus.load(), ysError);
    EXPECT_EQ(worker.FErrorCode.load(), yrDomXml) << "a 200 that is not JSON with rawData";

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 5u);
    const test::RecordedRequest& r = requests[0];
    EXPECT_EQ(r.method, u"POST"_qs);
    EXPECT_EQ(r.target, "/v2/web/search") << "nothing of the configured query part in the URL";
    EXPECT_EQ(r.header("Authorization"), "Api-Key SECRET-KEY-123");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_FALSE(r.body.contains("SECRET-KEY-123"));
    const QJsonObject body = QJsonDocument::fromJson(r.body).object();
    EXPECT_EQ(body.value(u"query").toObject().value(u"queryText").toString(), u"купить кофе"_qs);
    EXPECT_EQ(body.value(u"folderId").toString(), u"folder-7"_qs);
    EXPECT_EQ(body.value(u"region").toString(), u"213"_qs);
}

TEST(YandexWorkerOverSockets, RestFormErrorElementInsideRawData) {
    ServiceDouble service;
    service.script(u"q"_qs, {ServiceAnswer::error(20, u"Unknown error"_qs)});
    Client setup;
    FetchList list = linesOf({u"q"_qs});
    YandexWorker worker(service.restUrl() + u"&lr=2"_qs, list, setup.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysError);
    EXPECT_EQ(worker.FErrorCode.load(), yrMessage);
    EXPECT_EQ(worker.ErrorText(), u"Unknown error"_qs);
}

// The thread: polled from this thread while it works, stopped during a pause and during an
// answer that never finishes.
bool waitForRequests(const ServiceDouble& service, int n) {
    for (int i = 0; i < 3000 && service.requestCount() < n; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return service.requestCount() >= n;
}

TEST(YandexThread, PollsToAnErrorWhoseKindAndTextAreVisibleWithTheStatus) {
    ServiceDouble service;
    service.script(u"a"_qs, {ServiceAnswer::urls({u"https://a/"_qs})});
    service.script(u"b"_qs, {ServiceAnswer::error(31, u"Key is blocked"_qs)});
    Client setup;
    FetchList list = linesOf({u"a"_qs, u"b"_qs});
    TYandexThread thread(base(service), list, setup.context());
    EXPECT_EQ(thread.FTotalQueries, 2);
    int lastDone = 0;
    while (thread.FStatus.load(std::memory_order_acquire) == ysProcess) {
        const int done = thread.FSuccessQueries.load(std::memory_order_acquire);
        EXPECT_GE(done, lastDone);
        lastDone = done;
        std::this_thread::yield();
    }
    // Read without waiting for the thread: the status announces the kind and the text.
    EXPECT_EQ(thread.FStatus.load(), ysError);
    EXPECT_EQ(thread.FErrorCode.load(), yrRefused);
    EXPECT_EQ(thread.ErrorServiceCode(), 31);
    EXPECT_EQ(thread.ErrorText(), u"Key is blocked"_qs);
    thread.wait();
    EXPECT_TRUE(list[0].entry);
    EXPECT_FALSE(list[1].entry);
}

TEST(YandexThread, TerminationDuringAPauseLeavesTheRestUnasked) {
    ServiceDouble service;
    service.script(u"a"_qs, {ServiceAnswer::withStatus(503)});
    Client setup;
    setup.realPauses = true;
    FetchList list = linesOf({u"a"_qs, u"b"_qs});
    TYandexThread thread(base(service), list, setup.context());
    ASSERT_TRUE(waitForRequests(service, 1));
    thread.Terminate();
    thread.wait();
    EXPECT_EQ(thread.FStatus.load(), ysProcess);
    EXPECT_EQ(thread.FSuccessQueries.load(), 0);
    EXPECT_LE(service.requestCount(), 2);
    EXPECT_FALSE(list[0].entry);
}

TEST(YandexThread, TerminationAbortsAnAnswerThatNeverFinishes) {
    struct Case {
        const char* name;
        ServiceAnswer answer;
    };
    ServiceAnswer hanging = ServiceAnswer::urls({u"https://a/"_qs});
    hanging.neverFinish = true;
    ServiceAnswer slow = ServiceAnswer::urls({u"https://a/"_qs});
    slow.delayMs = 120'000;
    const Case cases[] = {{"body never finishes", hanging}, {"answer never starts", slow}};
    for (const Case& c : cases) {
        ServiceDouble service;
        service.script(u"first"_qs, {ServiceAnswer::urls({u"https://1/"_qs})});
        service.script(u"slow"_qs, {c.answer});
        Client setup;
        setup.options.lowSpeedTimeS = 600;  // only the abort can end the request
        FetchList list = linesOf({u"first"_qs, u"slow"_qs, u"never"_qs});
        TYandexThread thread(base(service), list, setup.context());
        ASSERT_TRUE(waitForRequests(service, 2)) << c.name;
        thread.requestInterruption();  // the Qt way works as well as Terminate()
        // Guard against a hang only; the abort takes about a second at most.
        ASSERT_TRUE(thread.wait(QDeadlineTimer(60'000))) << c.name;
        EXPECT_EQ(thread.FStatus.load(), ysProcess) << c.name;
        EXPECT_EQ(thread.FSuccessQueries.load(), 1) << c.name;
        EXPECT_TRUE(list[0].entry) << c.name;
        EXPECT_FALSE(list[1].entry) << c.name;
        EXPECT_TRUE(setup.pauses.empty()) << c.name << ": the aborted line is not retried";
        EXPECT_EQ(service.requestCount(), 2) << c.name;
    }
}

TEST(YandexThread, ReleasingARunningWorkerStopsAndWaitsForIt) {
    ServiceDouble service;
    ServiceAnswer hanging = ServiceAnswer::urls({u"https://a/"_qs});
    hanging.neverFinish = true;
    service.script(u"q"_qs, {hanging});
    Client setup;
    setup.options.lowSpeedTimeS = 600;
    FetchList list = linesOf({u"q"_qs});
    {
        auto thread = std::make_unique<TYandexThread>(base(service), list, setup.context());
        ASSERT_TRUE(waitForRequests(service, 1));
    }
    EXPECT_FALSE(list[0].entry);
}

// ---- The pool of slots -------------------------------------------------------------------

// Answers every query with URLs of its own after a delay that varies with the query, so that
// parallel slots finish out of list order.
void answerAll(ServiceDouble& service) {
    service.setResponder([](const QString& q) {
        ServiceAnswer a = ServiceAnswer::urls(
            {u"https://"_qs + q + u".example/"_qs, u"https://shared.example/"_qs + q.right(1)});
        a.delayMs = int(qHash(q) % 40);
        return a;
    });
}

QStringList numbered(int n, const QString& prefix = u"q"_qs) {
    QStringList out;
    for (int i = 0; i < n; ++i) {
        out << prefix + QString::number(i);
    }
    return out;
}

TEST(FetchPool, AnyNumberOfSlotsFillsTheSameLines) {
    const QStringList queries = numbered(40);
    std::vector<QStringList> results;
    for (const int threads : {1, 8}) {
        ServiceDouble service;
        answerAll(service);
        Client setup;
        SearchContext context = setup.context();
        context.threads = threads;
        std::vector<size_t> answeredOrder;
        int lastDone = 0;
        bool progressInOrder = true;
        context.answered = [&](size_t index) { answeredOrder.push_back(index); };
        context.progress = [&](int done, int) {
            progressInOrder = progressInOrder && done == lastDone + (done > 0 ? 1 : 0);
            lastDone = done;
        };
        FetchList list = linesOf(queries);
        YandexWorker worker(base(service), list, std::move(context));
        worker.Execute();
        ASSERT_EQ(worker.FStatus.load(), ysSuccess) << threads;
        EXPECT_TRUE(progressInOrder) << threads;
        EXPECT_EQ(answeredOrder.size(), queries.size());
        QStringList lines;
        for (const FetchLine& line : list) {
            ASSERT_TRUE(line.entry);
            lines << line.text + u" "_qs + line.entry->Urls.texts().join(u' ');
        }
        results.push_back(lines);
        for (const auto& [query, served] : service.servedPerQuery()) {
            EXPECT_EQ(served, 1) << query.toStdString() << " asked twice with " << threads;
        }
    }
    EXPECT_EQ(results[0], results[1]);
}

// What each error code of the service does to its query and to the run, with one slot (the order
// is then certain): "after" is asked only when the run goes on.
TEST(FetchPool, ErrorCodesEndTheRunSkipTheQueryOrAnswerIt) {
    struct Case {
        const char* name;
        ServiceAnswer answer;
        TYandexStatus status;
        TYandexError error;  // with ysError
        int code;            // the service code reported (error or skipped)
        bool skipped;
    };
    const Case cases[] = {
        {"32 daily limit", ServiceAnswer::error(32, u"limit"_qs), ysError, yrDailyLimit, 32, false},
        {"42 bad key", ServiceAnswer::error(42, u"key"_qs), ysError, yrRefused, 42, false},
        {"31 folder", ServiceAnswer::error(31, u"folder"_qs), ysError, yrRefused, 31, false},
        {"33 address", ServiceAnswer::error(33, u"ip"_qs), ysError, yrRefused, 33, false},
        {"400 malformed", ServiceAnswer::withStatus(400), ysError, yrRefused, 0, false},
        {"401 no key", ServiceAnswer::withStatus(401), ysError, yrRefused, 0, false},
        {"1 syntax", ServiceAnswer::error(1, u"syntax"_qs), ysSuccess, yrConnect, 1, true},
        {"2 empty", ServiceAnswer::error(2, u"empty"_qs), ysSuccess, yrConnect, 2, true},
        {"18 too long", ServiceAnswer::error(18, u"long"_qs), ysSuccess, yrConnect, 18, true},
        {"15 nothing found", ServiceAnswer::error(15, u"none"_qs), ysSuccess, yrConnect, 0, false},
    };
    for (const Case& c : cases) {
        ServiceDouble service;
        service.script(u"before"_qs, {ServiceAnswer::urls({u"https://b/"_qs})});
        service.script(u"bad"_qs, {c.answer});
        service.script(u"after"_qs, {ServiceAnswer::urls({u"https://a/"_qs})});
        Client setup;
        FetchList list = linesOf({u"before"_qs, u"bad"_qs, u"after"_qs});
        YandexWorker worker(base(service), list, setup.context());
        worker.Execute();
        EXPECT_EQ(worker.FStatus.load(), c.status) << c.name;
        EXPECT_TRUE(list[0].entry) << c.name << ": what was fetched is kept";
        EXPECT_TRUE(setup.pauses.empty()) << c.name << ": no retries";
        const std::vector<SkippedQuery> skipped = worker.Skipped();
        if (c.status == ysError) {
            EXPECT_EQ(worker.FErrorCode.load(), c.error) << c.name;
            EXPECT_EQ(worker.ErrorServiceCode(), c.code) << c.name;
            EXPECT_EQ(worker.ErrorQuery(), u"bad"_qs) << c.name;
            EXPECT_EQ(service.requestCount(), 2) << c.name << ": ended at once";
            EXPECT_FALSE(list[2].entry) << c.name;
        } else {
            EXPECT_TRUE(list[2].entry) << c.name << ": the run goes on";
            EXPECT_EQ(bool(list[1].entry), !c.skipped) << c.name;
            EXPECT_EQ(service.requestCount(), 3) << c.name;
        }
        ASSERT_EQ(skipped.size(), c.skipped ? 1u : 0u) << c.name;
        if (c.skipped) {
            EXPECT_EQ(skipped[0].query, u"bad"_qs);
            EXPECT_EQ(skipped[0].code, c.code);
            EXPECT_FALSE(skipped[0].text.isEmpty());
        }
    }
}

// Over the quota the service refuses (429 or code 55); the pool slows down and asks again
// without spending retries, and every query is answered exactly once.
TEST(FetchPool, AStormOfRefusalsSlowsThePoolAndLosesNothing) {
    for (const auto refusal : {ServiceDouble::Refusal::Http429, ServiceDouble::Refusal::Code55}) {
        for (const bool rest : {false, true}) {
            ServiceDouble service;
            answerAll(service);
            service.setQuota(10, refusal);
            Client setup;
            SearchContext context = setup.context();
            context.threads = 8;
            context.slowDownMs = 50;
            const QStringList queries = numbered(40);
            FetchList list = linesOf(queries);
            const QString url = rest ? service.restUrl() + u"&lr=213"_qs : base(service);
            YandexWorker worker(url, list, std::move(context));
            worker.Execute();
            const std::string name = std::to_string(int(refusal)) + (rest ? " rest" : " get");
            ASSERT_EQ(worker.FStatus.load(), ysSuccess) << name;
            EXPECT_GT(service.refusedCount(), 0) << name;
            EXPECT_GT(worker.FSlowDowns.load(), 0) << name;
            EXPECT_EQ(worker.FRetries.load(), 0) << name;
            EXPECT_TRUE(setup.pauses.empty()) << name;
            const auto served = service.servedPerQuery();
            EXPECT_EQ(served.size(), queries.size()) << name;
            for (const auto& [query, n] : served) {
                EXPECT_EQ(n, 1) << name << " " << query.toStdString();
            }
            for (const FetchLine& line : list) {
                EXPECT_TRUE(line.entry) << name;
            }
        }
    }
}

TEST(FetchPool, RetryAfterHoldsEverySlot) {
    ServiceDouble service;
    answerAll(service);
    service.setQuota(1, ServiceDouble::Refusal::Http429, 1);
    Client setup;
    SearchContext context = setup.context();
    context.threads = 2;
    context.slowDownMs = 1;  // Retry-After must win over this
    FetchList list = linesOf({u"a"_qs, u"b"_qs});
    YandexWorker worker(base(service), list, std::move(context));
    worker.Execute();
    ASSERT_EQ(worker.FStatus.load(), ysSuccess);
    const auto requests = service.requests();
    // The two slots ask at once; the bucket of one serves the first and refuses the second. After
    // that refusal nothing is sent for the second it asked for.
    ASSERT_EQ(service.refusedCount(), 1);
    ASSERT_EQ(requests.size(), 3u);
    const auto firstRefused = requests.begin() + 1;
    for (auto r = firstRefused + 1; r != requests.end(); ++r) {
        EXPECT_GE(
            std::chrono::duration_cast<std::chrono::milliseconds>(r->at - firstRefused->at).count(),
            950);
    }
}

// Stamps each request as the worker hands it to the network, so that a pace is measured where the
// worker sets it and not where a loaded machine happens to deliver it.
class StampingTransport : public HttpTransport {
public:
    explicit StampingTransport(std::shared_ptr<HttpTransport> inner) : inner_(std::move(inner)) {}
    HttpResponse perform(const HttpRequest& request, const AbortCheck& abort) override {
        {
            const std::lock_guard lock(mutex_);
            stamps_.push_back(std::chrono::steady_clock::now());
        }
        return inner_->perform(request, abort);
    }
    std::vector<std::chrono::steady_clock::time_point> stamps() {
        const std::lock_guard lock(mutex_);
        return stamps_;
    }

private:
    std::shared_ptr<HttpTransport> inner_;
    std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> stamps_;
};

TEST(FetchPool, MaxRpsPacesAllSlotsTogether) {
    ServiceDouble service;
    answerAll(service);
    Client setup;
    SearchContext context = setup.context();
    auto stamping = std::make_shared<StampingTransport>(context.transport);
    context.transport = stamping;
    context.threads = 6;
    context.maxRps = 20;
    FetchList list = linesOf(numbered(12));
    YandexWorker worker(base(service), list, std::move(context));
    worker.Execute();
    ASSERT_EQ(worker.FStatus.load(), ysSuccess);
    auto sent = stamping->stamps();
    ASSERT_EQ(sent.size(), 12u);
    std::sort(sent.begin(), sent.end());
    // Twelve requests at 20 per second span at least 11 gaps of 50 ms.
    EXPECT_GE(
        std::chrono::duration_cast<std::chrono::milliseconds>(sent.back() - sent.front()).count(),
        11 * 50 - 20);
}

TEST(FetchPool, RefusedForEverEndsAfterTheBoundKeepingTheAnswers) {
    ServiceDouble service;
    service.script(u"first"_qs, {ServiceAnswer::urls({u"https://1/"_qs})});
    service.script(u"busy"_qs, {ServiceAnswer::withStatus(429)});
    Client setup;
    SearchContext context = setup.context();
    context.threads = 1;
    context.slowDownMs = 10;
    context.throttleGiveUpMs = 300;
    FetchList list = linesOf({u"first"_qs, u"busy"_qs, u"never"_qs});
    YandexWorker worker(base(service), list, std::move(context));
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysError);
    EXPECT_EQ(worker.FErrorCode.load(), yrThrottled);
    EXPECT_EQ(worker.ErrorQuery(), u"busy"_qs);
    EXPECT_TRUE(list[0].entry);
    EXPECT_FALSE(list[2].entry);
    EXPECT_EQ(worker.FRetries.load(), 0);
}

// Cancel with eight slots in flight: every slot ends, the answered lines are kept.
TEST(FetchPool, CancelEndsEverySlotAndKeepsTheAnswers) {
    ServiceDouble service;
    ServiceAnswer slow = ServiceAnswer::urls({u"https://slow/"_qs});
    slow.delayMs = 120'000;
    service.setResponder([slow](const QString& q) {
        return q.startsWith(u"fast") ? ServiceAnswer::urls({u"https://"_qs + q + u"/"_qs}) : slow;
    });
    Client setup;
    setup.options.lowSpeedTimeS = 600;
    SearchContext context = setup.context();
    context.threads = 8;
    QStringList queries = numbered(4, u"fast"_qs) + numbered(20, u"slow"_qs);
    FetchList list = linesOf(queries);
    TYandexThread thread(base(service), list, std::move(context));
    ASSERT_TRUE(waitForRequests(service, 12));
    const auto start = std::chrono::steady_clock::now();
    thread.Terminate();
    ASSERT_TRUE(thread.wait(QDeadlineTimer(60'000)));  // a guard against a hang only
    RecordProperty("cancel_ms", int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count()));
    EXPECT_EQ(thread.FStatus.load(), ysProcess);
    EXPECT_EQ(thread.FSuccessQueries.load(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(list[size_t(i)].entry) << i;
    }
    for (size_t i = 4; i < list.size(); ++i) {
        EXPECT_FALSE(list[i].entry) << i;
    }
}

// ---- The deferred mode ----------------------------------------------------------------------

struct DeferredSetup {
    test::TempDir dir;
    QString path = dir.path(u"operations.txt"_qs);
    Client client;
    SearchContext context(const ServiceDouble& service, int threads = 1) {
        SearchContext c = client.context();
        c.deferred = true;
        c.operations = std::make_shared<OperationStore>(path);
        c.operations->load();
        c.operationsUrl = service.origin();
        c.operationPollMs = 20;
        c.threads = threads;
        return c;
    }
};

QString restBase(const ServiceDouble& service) {
    return service.restUrl() + u"&lr=213"_qs;
}

TEST(FetchDeferred, OperationsAreCreatedPolledAndReadEndToEnd) {
    ServiceDouble service;
    answerAll(service);
    service.setOperationDelay(150);
    DeferredSetup setup;
    const QStringList queries = numbered(6);
    FetchList list = linesOf(queries);
    YandexWorker worker(restBase(service), list, setup.context(service, 3));
    worker.Execute();
    ASSERT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_EQ(service.operationsCreated(), 6);
    EXPECT_EQ(worker.FSent.load(), 6);
    EXPECT_EQ(worker.FReady.load(), 6);
    EXPECT_EQ(worker.FRead.load(), 6);
    for (size_t i = 0; i < list.size(); ++i) {
        ASSERT_TRUE(list[i].entry) << i;
        EXPECT_TRUE(list[i].entry->Urls.texts().contains(u"https://"_qs + queries[int(i)] +
                                                         u".example/"_qs));
    }
    bool polledWithTheKey = false;
    for (const test::RecordedRequest& r : service.requests()) {
        if (r.path.startsWith(u"/operations/")) {
            polledWithTheKey = r.header("Authorization") == "Api-Key SECRET-KEY-123";
        }
        EXPECT_NE(r.path, u"/v2/web/search"_qs) << "no synchronous request";
    }
    EXPECT_TRUE(polledWithTheKey);
    EXPECT_FALSE(QFile::exists(setup.path)) << "every operation read: nothing left to keep";
}

// A run cancelled while the service works: the next run finds the operations in the file and
// reads them without creating them again; the key is never in the file.
TEST(FetchDeferred, ARestartResumesTheOperationsWithoutPayingTwice) {
    ServiceDouble service;
    answerAll(service);
    service.setOperationDelay(600'000);
    DeferredSetup setup;
    const QStringList queries = numbered(5);
    {
        FetchList list = linesOf(queries);
        TYandexThread thread(restBase(service), list, setup.context(service, 2));
        for (int i = 0; i < 3000 && thread.FSent.load() < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(thread.FSent.load(), 5);
        thread.Terminate();
        thread.wait();
        EXPECT_EQ(thread.FStatus.load(), ysProcess);
    }
    const QByteArray file = setup.dir.read(u"operations.txt"_qs);
    EXPECT_EQ(parseOperations(file).size(), 5u);
    EXPECT_FALSE(file.contains("SECRET-KEY-123"));
    EXPECT_FALSE(file.contains("folder-7"));

    service.setOperationDelay(0);
    FetchList list = linesOf(queries);
    YandexWorker worker(restBase(service), list, setup.context(service, 2));
    worker.Execute();
    ASSERT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_EQ(service.operationsCreated(), 5) << "resumed, not created again";
    for (const FetchLine& line : list) {
        EXPECT_TRUE(line.entry);
    }
}

// An operation the service has forgotten is created again once; a query refused inside a done
// operation is skipped like a synchronous one.
TEST(FetchDeferred, AForgottenOperationIsCreatedAgain) {
    ServiceDouble service;
    answerAll(service);
    service.script(u"bad"_qs, {ServiceAnswer::error(1, u"syntax"_qs)});
    service.setOperationDelay(600'000);
    DeferredSetup setup;
    {
        FetchList list = linesOf({u"a"_qs, u"bad"_qs});
        TYandexThread thread(restBase(service), list, setup.context(service));
        for (int i = 0; i < 3000 && thread.FSent.load() < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        thread.Terminate();
        thread.wait();
    }
    service.forgetOperations();
    service.setOperationDelay(0);
    FetchList list = linesOf({u"a"_qs, u"bad"_qs});
    YandexWorker worker(restBase(service), list, setup.context(service));
    worker.Execute();
    ASSERT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_EQ(service.operationsCreated(), 4);
    EXPECT_TRUE(list[0].entry);
    EXPECT_FALSE(list[1].entry);
    ASSERT_EQ(worker.Skipped().size(), 1u);
    EXPECT_EQ(worker.Skipped()[0].code, 1);
}

}  // namespace
}  // namespace kelvara

#if defined(__SANITIZE_THREAD__)
// Qt, built without the thread checker, ends a QThread by waking its wait condition; a waiter
// that finds the thread already finished takes Qt's futex mutex only, which the checker cannot
// follow, and so it reports the wait condition's destruction as racing that wake-up.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QWaitCondition::~QWaitCondition\n";
}
#endif
