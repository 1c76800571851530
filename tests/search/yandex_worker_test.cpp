// The worker's rules with an in-memory transport: retry budget, failure kinds, entries, the URL.
#include "search/yandex_worker.h"

#include "fake_transport.h"
#include "support/service_double.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using test::answered;
using test::failedWith;
using test::QueueTransport;

constexpr Stamp kNow = 739'000 * kMsPerDay + 12'345;

FetchList linesOf(const QStringList& texts) {
    FetchList list;
    for (const QString& t : texts) {
        list.push_back({t, nullptr});
    }
    return list;
}

struct Scripted {
    std::shared_ptr<QueueTransport> transport;
    std::vector<int> pauses;
    SearchContext context() {
        SearchContext c;
        c.transport = transport;
        c.clock = [] { return kNow; };
        c.codePage = "windows-1251";
        c.pause = [this](int ms) { pauses.push_back(ms); };
        return c;
    }
};

const QString kBase = u"http://127.0.0.1:1/search/xml?user=u&key=SECRET-KEY-123&lr=213"_qs;

HttpResponse urlsAnswer(const QStringList& urls) {
    return answered(test::xmlWithUrls(urls));
}

TEST(YandexWorker, RetryBudgetIsSharedByEveryFailureKindAndRenewedPerLine) {
    const HttpResponse ok = urlsAnswer({u"https://a/"_qs});
    const HttpResponse html = answered(test::htmlPage());
    const HttpResponse message = answered(test::xmlWithError(20, u"Limit reached"_qs));
    const HttpResponse incomplete = answered("<r><response><results/></response></r>");
    const HttpResponse noConnection{};
    struct Case {
        const char* name;
        int lines;
        std::vector<HttpResponse> attempts;
        TYandexStatus status;
        TYandexError error;
        QString errorText;
        std::vector<int> pauses;
        int answered;
    };
    const Case cases[] = {
        {"first attempt", 1, {ok}, ysSuccess, yrConnect, {}, {}, 1},
        {"503 then 200", 1, {failedWith(503), ok}, ysSuccess, yrConnect, {}, {200}, 1},
        {"fourth attempt succeeds",
         1,
         {noConnection, failedWith(500), failedWith(404), ok},
         ysSuccess,
         yrConnect,
         {},
         {200, 1000, 1000},
         1},
        {"four failed attempts",
         1,
         {failedWith(503)},
         ysError,
         yrConnect,
         {},
         {200, 1000, 1000},
         0},
        {"transport failures", 1, {noConnection}, ysError, yrConnect, {}, {200, 1000, 1000}, 0},
        {"HTML with 200", 1, {html}, ysError, yrDomXml, {}, {200, 1000, 1000}, 0},
        {"missing grouping", 1, {incomplete}, ysError, yrDomXml, {}, {200, 1000, 1000}, 0},
        {"error element",
         1,
         {message},
         ysError,
         yrMessage,
         u"Limit reached"_qs,
         {200, 1000, 1000},
         0},
        {"kinds share one budget; the last decides",
         1,
         {failedWith(503), html, incomplete, message},
         ysError,
         yrMessage,
         u"Limit reached"_qs,
         {200, 1000, 1000},
         0},
        {"error element then answer", 1, {message, ok}, ysSuccess, yrConnect, {}, {200}, 1},
        {"budget starts afresh on the next line",
         2,
         {failedWith(503), failedWith(503), failedWith(503), ok, failedWith(503), html, message,
          ok},
         ysSuccess,
         yrConnect,
         {},
         {200, 1000, 1000, 200, 1000, 1000},
         2},
    };
    for (const Case& c : cases) {
        Scripted run{std::make_shared<QueueTransport>(c.attempts), {}};
        FetchList list =
            linesOf(c.lines == 1 ? QStringList{u"q"_qs} : QStringList{u"q"_qs, u"r"_qs});
        YandexWorker worker(kBase, list, run.context());
        worker.Execute();
        EXPECT_EQ(worker.FStatus.load(), c.status) << c.name;
        if (c.status == ysError) {
            EXPECT_EQ(worker.FErrorCode.load(), c.error) << c.name;
        }
        EXPECT_EQ(worker.ErrorText(), c.errorText) << c.name;
        EXPECT_EQ(run.pauses, c.pauses) << c.name;
        EXPECT_EQ(worker.FSuccessQueries.load(), c.answered) << c.name;
        EXPECT_EQ(worker.FTotalQueries, c.lines) << c.name;
        EXPECT_EQ(int(run.transport->requests().size()),
                  int(c.pauses.size()) + c.answered + (c.status == ysError ? 1 : 0))
            << c.name;
    }
}

TEST(YandexWorker, AnsweredQueriesGetSortedEntriesAndEmptyAnswersNone) {
    Scripted run{std::make_shared<QueueTransport>(std::vector<HttpResponse>{
                     urlsAnswer({u"https://c.example/"_qs, u"https://A.example/"_qs,
                                 u"https://b.example/"_qs, u"https://a.example/"_qs}),
                     answered(test::xmlWithError(15, u"Sorry, there are no results"_qs)),
                     urlsAnswer({}), urlsAnswer({u"https://z/"_qs})}),
                 {}};
    FetchList list = linesOf({u"one"_qs, u"rare"_qs, u"empty"_qs, u"last"_qs});
    YandexWorker worker(kBase, list, run.context());
    worker.Execute();

    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
    EXPECT_EQ(worker.FSuccessQueries.load(), 4);
    EXPECT_TRUE(run.pauses.empty()) << "code 15 is an answer, not a failure";
    ASSERT_TRUE(list[0].entry);
    EXPECT_EQ(list[0].entry->Urls.texts(),
              (QStringList{u"https://A.example/"_qs, u"https://b.example/"_qs,
                           u"https://c.example/"_qs}));
    EXPECT_EQ(list[0].entry->Stamp, kNow);
    EXPECT_EQ(list[0].entry->GroupIndex, -1);
    // Answers without URLs ("nothing found") are entries too, without URLs.
    for (const size_t i : {1u, 2u}) {
        ASSERT_TRUE(list[i].entry) << i;
        EXPECT_TRUE(list[i].entry->Urls.empty()) << i;
        EXPECT_EQ(list[i].entry->Stamp, kNow) << i;
    }
    ASSERT_TRUE(list[3].entry);
    EXPECT_EQ(list[3].entry->Urls.texts(), QStringList{u"https://z/"_qs});
}

TEST(YandexWorker, FirstLineThatStillFailsStopsTheWorkAndEarlierLinesKeepTheirEntries) {
    Scripted run{std::make_shared<QueueTransport>(
                     std::vector<HttpResponse>{urlsAnswer({u"https://a/"_qs}), failedWith(503)}),
                 {}};
    FetchList list = linesOf({u"a"_qs, u"b"_qs, u"c"_qs});
    YandexWorker worker(kBase, list, run.context());
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysError);
    EXPECT_EQ(worker.FErrorCode.load(), yrConnect);
    EXPECT_EQ(worker.FSuccessQueries.load(), 1);
    EXPECT_TRUE(list[0].entry);
    EXPECT_FALSE(list[1].entry);
    EXPECT_FALSE(list[2].entry);
    const auto requests = run.transport->requests();
    ASSERT_EQ(requests.size(), 5u);
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(test::queryParam(requests[i]), u"b"_qs);
    }
}

TEST(YandexWorker, RequestUrlPassesThroughTheAnsiCodePage) {
    struct Case {
        QByteArray codePage;
        QByteArray expectedStart;
    };
    // "ü" is not in windows-1251 and becomes "?"; windows-1252 has it.
    const Case cases[] = {
        {"windows-1251", "http://h/s?user=J?rgen&lr=2&query=%D0%BA%20x&l10n=ru"},
        {"windows-1252", "http://h/s?user=J\xfcrgen&lr=2&query=%D0%BA%20x&l10n=ru"},
    };
    for (const Case& c : cases) {
        Scripted run{std::make_shared<QueueTransport>(std::vector<HttpResponse>{urlsAnswer({})}),
                     {}};
        SearchContext context = run.context();
        context.codePage = c.codePage;
        FetchList list = linesOf({u"к x"_qs});
        YandexWorker worker(u"http://h/s?user=Jürgen&lr=2"_qs, list, context);
        worker.Execute();
        const auto requests = run.transport->requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].method, HttpRequest::Method::Get);
        EXPECT_TRUE(requests[0].url.startsWith(c.expectedStart)) << requests[0].url.constData();
    }
}

TEST(YandexWorker, EmptyLineIsSentAsAnEmptyQuery) {
    Scripted run{std::make_shared<QueueTransport>(std::vector<HttpResponse>{urlsAnswer({})}), {}};
    FetchList list = linesOf({QString()});
    YandexWorker worker(kBase, list, run.context());
    worker.Execute();
    ASSERT_EQ(run.transport->requests().size(), 1u);
    EXPECT_TRUE(run.transport->requests()[0].url.contains("&lr=213&query=&l10n=ru"));
    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
}

TEST(YandexWorker, ErrorTextsNeverCarryTheUrlsQueryPart) {
    // Whatever fails, the worker's text is the service's own words or nothing.
    const std::vector<HttpResponse> failures[] = {
        {failedWith(401)},
        {HttpResponse{0, {}, false, u"Couldn't connect to server"_qs}},
        {answered(test::htmlPage())},
        {answered(test::xmlWithError(32, u"Daily limit exceeded"_qs))},
    };
    for (const auto& attempts : failures) {
        Scripted run{std::make_shared<QueueTransport>(attempts), {}};
        FetchList list = linesOf({u"q"_qs});
        YandexWorker worker(kBase, list, run.context());
        worker.Execute();
        ASSERT_EQ(worker.FStatus.load(), ysError);
        EXPECT_FALSE(worker.ErrorText().contains(u"SECRET"));
        EXPECT_FALSE(worker.ErrorText().contains(u"user="));
    }
}

TEST(YandexWorker, TerminationBeforeTheStartAsksNothing) {
    Scripted run{std::make_shared<QueueTransport>(std::vector<HttpResponse>{urlsAnswer({})}), {}};
    FetchList list = linesOf({u"a"_qs});
    YandexWorker worker(kBase, list, run.context());
    worker.Terminate();
    worker.Execute();
    EXPECT_TRUE(run.transport->requests().empty());
    EXPECT_EQ(worker.FStatus.load(), ysProcess);
    EXPECT_EQ(worker.FSuccessQueries.load(), 0);
}

TEST(YandexWorker, TerminationDuringThePauseLeavesAtTheNextLoopHead) {
    auto transport = std::make_shared<QueueTransport>(std::vector<HttpResponse>{failedWith(503)});
    FetchList list = linesOf({u"a"_qs, u"b"_qs});
    std::vector<int> pauses;
    SearchContext context;
    context.transport = transport;
    context.clock = [] { return kNow; };
    YandexWorker* self = nullptr;
    context.pause = [&](int ms) {
        pauses.push_back(ms);
        self->Terminate();  // as if the user cancelled while the worker sleeps
    };
    YandexWorker worker(kBase, list, context);
    self = &worker;
    worker.Execute();
    EXPECT_EQ(pauses, std::vector<int>{200}) << "the pause runs to its end";
    EXPECT_EQ(transport->requests().size(), 1u);
    EXPECT_EQ(worker.FStatus.load(), ysProcess);
}

TEST(YandexWorker, TerminationAfterTheLastAnswerStillEndsInSuccess) {
    auto transport =
        std::make_shared<QueueTransport>(std::vector<HttpResponse>{urlsAnswer({u"u"_qs})});
    FetchList list = linesOf({u"a"_qs});
    SearchContext context;
    context.transport = transport;
    YandexWorker* self = nullptr;
    context.progress = [&](int done, int) {
        if (done == 1) {
            self->Terminate();
        }
    };
    YandexWorker worker(kBase, list, context);
    self = &worker;
    worker.Execute();
    EXPECT_EQ(worker.FStatus.load(), ysSuccess);
}

TEST(YandexWorker, AFailureOvertakenByTerminationEndsWithoutPauseOrError) {
    auto transport = std::make_shared<QueueTransport>(std::vector<HttpResponse>{failedWith(503)});
    FetchList list = linesOf({u"a"_qs});
    std::atomic<bool> stop{false};
    std::vector<int> pauses;
    SearchContext context;
    context.transport = transport;
    context.pause = [&](int ms) { pauses.push_back(ms); };
    // The stop arrives while the request runs: the transport returns a failure, not an abort.
    YandexWorker worker(kBase, list, context, [&] { return stop.exchange(true); });
    worker.Execute();
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(worker.FStatus.load(), ysProcess);
}

TEST(YandexWorker, ReportsProgressAfterEachAnsweredQuery) {
    auto transport = std::make_shared<QueueTransport>(
        std::vector<HttpResponse>{urlsAnswer({u"u"_qs}), failedWith(503), urlsAnswer({})});
    FetchList list = linesOf({u"a"_qs, u"b"_qs});
    std::vector<std::pair<int, int>> seen;
    SearchContext context;
    context.transport = transport;
    context.pause = [](int) {};
    context.progress = [&](int done, int total) { seen.emplace_back(done, total); };
    YandexWorker worker(kBase, list, context);
    worker.Execute();
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}}));
}

}  // namespace
}  // namespace kelvara
