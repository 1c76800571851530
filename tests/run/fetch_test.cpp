#include "run/fetch.h"

#include "search/fake_transport.h"
#include "support/service_double.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using test::ServiceAnswer;
using test::ServiceDouble;

constexpr Stamp kNow = 739'000 * kMsPerDay;

void put(ResultStore& store, const QString& query, Stamp stamp, const QString& url) {
    auto entry = std::make_unique<TSerpEntry>(stamp);
    entry->Urls.add(url);
    store.add(query, std::move(entry));
}

SearchContext contextFor(std::shared_ptr<HttpTransport> transport) {
    SearchContext c;
    c.transport = std::move(transport);
    c.clock = [] { return kNow; };
    c.codePage = "windows-1251";
    c.pause = [](int) {};
    return c;
}

TEST(FetchMissing, AsksOnlyWhatIsNotFreshAndStoresTheAnswers) {
    ServiceDouble service;
    service.setResponder([](const QString& q) {
        return q == u"nothing" ? ServiceAnswer::error(15, u"no results"_qs)
                               : ServiceAnswer::urls({u"https://new/"_qs + q});
    });
    ResultStore store;
    put(store, u"fresh"_qs, kNow - kFreshnessMs + 1, u"https://old/fresh"_qs);
    put(store, u"stale"_qs, kNow - kFreshnessMs, u"https://old/stale"_qs);
    const QStringList queries{u"Fresh"_qs, u"stale"_qs, u"new"_qs, u"nothing"_qs, u"NEW"_qs};

    std::vector<std::pair<int, int>> progress;
    SearchContext context = contextFor(std::make_shared<CurlTransport>());
    context.progress = [&](int done, int total) { progress.emplace_back(done, total); };
    const FetchOutcome out =
        fetchMissing(store, queries, service.searchUrl() + u"&lr=2"_qs, context);

    EXPECT_EQ(out.kind, FetchStatus::Kind::Success);
    EXPECT_EQ(out.total, 4);
    EXPECT_EQ(out.answered, 4);
    EXPECT_EQ(progress.front(), std::make_pair(0, 4));
    EXPECT_EQ(progress.back(), std::make_pair(4, 4));
    QStringList asked;
    for (const auto& r : service.requests()) {
        asked.append(r.query);
    }
    EXPECT_EQ(asked, (QStringList{u"stale"_qs, u"new"_qs, u"nothing"_qs, u"NEW"_qs}));

    // The fresh entry stays; the stale one is replaced; the store keeps the first spelling's.
    EXPECT_EQ(findEntry(store, u"fresh")->Urls.texts(), QStringList{u"https://old/fresh"_qs});
    EXPECT_EQ(findEntry(store, u"stale")->Urls.texts(), QStringList{u"https://new/stale"_qs});
    EXPECT_EQ(findEntry(store, u"stale")->Stamp, kNow);
    EXPECT_EQ(findEntry(store, u"new")->Urls.texts(), QStringList{u"https://new/new"_qs});
    ASSERT_NE(findEntry(store, u"nothing"), nullptr);  // "nothing found" is kept too
    EXPECT_TRUE(findEntry(store, u"nothing")->Urls.empty());
    EXPECT_EQ(store.size(), 4);

    // The run's lines: fresh first, then the answered ones, the second spelling on
    // an entry of its own.
    ASSERT_EQ(out.work.lines.size(), 5u);
    EXPECT_EQ(out.work.lines[0].text, u"Fresh"_qs);
    EXPECT_EQ(out.work.lines[0].entry, findEntry(store, u"fresh"));
    EXPECT_EQ(out.work.lines[1].text, u"stale"_qs);
    EXPECT_EQ(out.work.lines[2].text, u"new"_qs);
    EXPECT_EQ(out.work.lines[2].entry, findEntry(store, u"new"));
    EXPECT_EQ(out.work.lines[3].text, u"nothing"_qs);
    EXPECT_EQ(out.work.lines[4].text, u"NEW"_qs);
    ASSERT_EQ(out.work.runEntries.size(), 1u);
    EXPECT_EQ(out.work.lines[4].entry, out.work.runEntries[0].get());
    EXPECT_EQ(out.work.runEntries[0]->Urls.texts(), QStringList{u"https://new/NEW"_qs});
}

TEST(FetchMissing, KeepsWhatItGotWhenTheServiceFails) {
    auto transport = std::make_shared<test::QueueTransport>(
        std::vector<HttpResponse>{test::answered(test::xmlWithUrls({u"https://a/"_qs})),
                                  test::answered(test::xmlWithError(32, u"Limit"_qs))});
    ResultStore store;
    put(store, u"b"_qs, kNow - kFreshnessMs - 5, u"https://old/b"_qs);
    const FetchOutcome out = fetchMissing(store, {u"a"_qs, u"b"_qs, u"c"_qs},
                                          u"http://h/x?k=SECRET&lr=1"_qs, contextFor(transport));
    EXPECT_EQ(out.kind, FetchStatus::Kind::Error);
    EXPECT_EQ(out.error, yrDailyLimit);
    EXPECT_EQ(out.errorText, u"Limit"_qs);
    EXPECT_EQ(out.detail.serviceCode, 32);
    EXPECT_EQ(out.total, 3);
    EXPECT_EQ(out.answered, 1);
    EXPECT_NE(findEntry(store, u"a"), nullptr);
    EXPECT_EQ(findEntry(store, u"b"), nullptr) << "the stale entry went before the fetch";
    EXPECT_EQ(store.size(), 1);
}

TEST(FetchMissing, StopsOnTheFlagAndKeepsTheAnswersSoFar) {
    std::atomic<bool> stop{false};
    auto transport = std::make_shared<test::QueueTransport>(
        std::vector<HttpResponse>{test::answered(test::xmlWithUrls({u"https://a/"_qs}))});
    SearchContext context = contextFor(transport);
    context.progress = [&](int done, int) {
        if (done == 1) {
            stop = true;  // as the batch tool's Ctrl+C handler does
        }
    };
    ResultStore store;
    const FetchOutcome out =
        fetchMissing(store, {u"a"_qs, u"b"_qs}, u"http://h/x?lr=1"_qs, context, &stop);
    EXPECT_EQ(out.kind, FetchStatus::Kind::Stopped);
    EXPECT_EQ(out.answered, 1);
    EXPECT_EQ(transport->requests().size(), 1u);
    EXPECT_NE(findEntry(store, u"a"), nullptr);
}

TEST(FetchMissing, NothingMissingAsksNothing) {
    auto transport = std::make_shared<test::QueueTransport>();
    ResultStore store;
    put(store, u"a"_qs, kNow, u"https://a/"_qs);
    const FetchOutcome out =
        fetchMissing(store, {u"a"_qs, u"A"_qs}, u"http://h/x?lr=1"_qs, contextFor(transport));
    EXPECT_EQ(out.kind, FetchStatus::Kind::Success);
    EXPECT_EQ(out.total, 0);
    EXPECT_TRUE(transport->requests().empty());
    ASSERT_EQ(out.work.lines.size(), 2u);
    EXPECT_EQ(out.work.lines[0].entry, out.work.lines[1].entry);
}

}  // namespace
}  // namespace kelvara
