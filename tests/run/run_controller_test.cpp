// The run, driven through a fake progress window and an in-memory search service.
#include "run/run_controller.h"

#include "run/cache_saver.h"
#include "search/http_transport.h"
#include "support/service_double.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <QUrlQuery>

#include <mutex>
#include <thread>

using namespace kelvara;

namespace {

constexpr Stamp kNow = 739'959 * kMsPerDay;

// Answers each query with the URLs scripted for it; an unscripted query gets status 500.
class ScriptedTransport final : public HttpTransport {
public:
    std::map<QString, QStringList> answers;
    std::map<QString, int> errorCodes;                 // answered with that error element
    std::function<void(const QString& query)> before;  // on the worker's thread, first
    HttpResponse perform(const HttpRequest& request, const AbortCheck&) override {
        const QString url = QString::fromLatin1(request.url);
        const QUrlQuery q(url.mid(url.indexOf(u'?') + 1));
        const QString query = q.queryItemValue(u"query"_qs, QUrl::FullyDecoded);
        if (before) {
            before(query);
        }
        std::lock_guard lock(mutex_);
        asked_.push_back(query);
        regions_.push_back(q.queryItemValue(u"lr"_qs));
        const auto it = answers.find(asked_.back());
        HttpResponse r;
        if (const auto code = errorCodes.find(query); code != errorCodes.end()) {
            r.status = 200;
            r.body = QString::fromUtf8(test::xmlWithError(code->second, u"refused"_qs));
        } else if (it != answers.end()) {
            r.status = 200;
            r.body = QString::fromUtf8(test::xmlWithUrls(it->second));
        }
        return r;
    }
    QStringList asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    QStringList regions() const {
        std::lock_guard lock(mutex_);
        return regions_;
    }

private:
    mutable std::mutex mutex_;
    QStringList asked_;
    QStringList regions_;
};

struct FakeProgress final : ProgressView {
    QStringList log;
    QEventLoop* loop = nullptr;
    bool closedByRun = false;
    void setCaption(const QString& t) override { log << u"caption "_qs + t; }
    void setExplanation(const QString&) override {}
    void setCountText(const QString& t) override { log << u"count "_qs + t; }
    void setCountVisible(bool v) override { log << (v ? u"count shown"_qs : u"count hidden"_qs); }
    void setButtonCaption(const QString&) override {}
    void setProgress(int, int, int) override {}
    void execModal(const std::function<void()>& onShown) override {
        QEventLoop l;
        loop = &l;
        QTimer::singleShot(0, &l, onShown);
        l.exec();
        loop = nullptr;
    }
    void close() override {
        closedByRun = true;
        if (loop) {
            loop->quit();
        }
    }
};

struct FakeErrors final : ErrorView {
    QStringList shown;
    QStringList notices;
    QStringList questions;
    bool answer = true;
    void showError(const QString& text) override { shown << text; }
    void showNotice(const QString& text) override { notices << text; }
    bool confirm(const QString& text) override {
        questions << text;
        return answer;
    }
};

struct TestRun {
    ResultStores stores;
    ResultStore& store = stores.of(213);  // the region of the runs below
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    FakeProgress progress;
    FakeErrors errors;
    std::vector<ClusterList> built;
    std::unique_ptr<RunController> controller;

    TestRun() {
        SearchContext search;
        search.transport = transport;
        search.clock = [] { return kNow; };
        search.codePage = "windows-1251";
        search.pause = [](int) {};
        controller =
            std::make_unique<RunController>(stores, search, progress, errors, UiLanguage::English);
        EXPECT_EQ(controller->pollInterval(), 1000);
        controller->setPollInterval(10);
        QObject::connect(controller.get(), &RunController::clustersBuilt,
                         [this](const ClusterList& c) { built.push_back(c); });
    }
    void remember(const QString& query, const QStringList& urls, Stamp stamp) {
        auto e = std::make_unique<TSerpEntry>(stamp);
        for (const QString& u : urls) {
            e->Urls.add(u);
        }
        store.add(query, std::move(e));
    }
    int threads = 1;
    bool confirmLargeFetch = false;
    void run(const QStringList& lines, std::optional<int> region = 213, int threshold = 2) {
        RunRequest r;
        r.threads = threads;
        r.confirmLargeFetch = confirmLargeFetch;
        r.pricePer1000 = 4;
        r.lines = lines;
        r.serviceUrl = u"http://service/?user=u&key=k"_qs;
        r.regionCode = region;
        r.threshold = threshold;
        controller->Button1Click(r);
    }
    QStringList urlsOf(const QString& q) const {
        const TSerpEntry* e = findEntry(store, q);
        return e ? e->Urls.texts() : QStringList{u"<none>"_qs};
    }
};

const QStringList kShared = {u"http://a.ru/"_qs, u"http://b.ru/"_qs, u"http://c.ru/"_qs};

}  // namespace

TEST(RunController, FreshResultsGoStraightToClustering) {
    TestRun r;
    r.remember(u"one"_qs, kShared, kNow);
    r.remember(u"two"_qs, kShared, kNow - 1000);
    r.run({u"one"_qs, u"TWO"_qs, u"one"_qs});
    EXPECT_TRUE(r.transport->asked().isEmpty());
    ASSERT_EQ(r.built.size(), 1u);
    // The line as typed is the phrase; the repeated line shares its entry and adds nothing.
    ASSERT_EQ(r.built[0].size(), 1u);
    EXPECT_EQ(r.built[0][0].phrases, (QStringList{u"one"_qs, u"TWO"_qs}));
    EXPECT_TRUE(r.progress.closedByRun);
    EXPECT_TRUE(r.progress.log.contains(u"caption Query processing"_qs));
    EXPECT_TRUE(r.progress.log.contains(u"caption Clustering"_qs));
    EXPECT_TRUE(r.progress.log.contains(u"count hidden"_qs));
    EXPECT_FALSE(r.controller->running());
}

TEST(RunController, SevenDaysOldIsFetchedAgainAMillisecondYoungerIsNot) {
    TestRun r;
    r.remember(u"week"_qs, {u"http://old.ru/"_qs}, kNow - kFreshnessMs);
    r.remember(u"almost"_qs, kShared, kNow - kFreshnessMs + 1);
    r.transport->answers[u"week"_qs] = kShared;
    r.run({u"week"_qs, u"almost"_qs});
    EXPECT_EQ(r.transport->asked(), QStringList{u"week"_qs});
    EXPECT_EQ(r.urlsOf(u"week"_qs), kShared);  // the new answer replaced the stale one
    ASSERT_EQ(r.built.size(), 1u);
    EXPECT_EQ(r.built[0][0].phrases, (QStringList{u"almost"_qs, u"week"_qs}));
}

TEST(RunController, AQueryTwiceInOneRunKeepsTheFirstAnswerInTheStore) {
    TestRun r;
    r.transport->answers[u"Кофе"_qs] = kShared;
    r.transport->answers[u"кофе"_qs] = {u"http://other.ru/"_qs};
    r.run({u"Кофе"_qs, u"кофе"_qs});
    EXPECT_EQ(r.transport->asked(), (QStringList{u"Кофе"_qs, u"кофе"_qs}));
    EXPECT_EQ(r.store.size(), 1);
    EXPECT_EQ(r.store[0].text, u"Кофе"_qs);
    EXPECT_EQ(r.urlsOf(u"кофе"_qs), kShared);
}

TEST(RunController, AFailedFetchShowsTheErrorAndKeepsEarlierAnswers) {
    TestRun r;
    r.remember(u"stale"_qs, kShared, kNow - kFreshnessMs - 5);
    r.transport->answers[u"first"_qs] = kShared;  // "stale" is not answered: status 500
    r.run({u"first"_qs, u"stale"_qs, u"never asked"_qs});
    EXPECT_EQ(r.errors.shown,
              QStringList{u"Error: failed to establish connection to the service, Yandex\r\n"
                          u"Query: \"stale\""_qs});
    EXPECT_TRUE(r.built.empty());
    EXPECT_EQ(r.urlsOf(u"first"_qs), kShared);
    EXPECT_EQ(r.urlsOf(u"stale"_qs), QStringList{u"<none>"_qs});  // released when the run began
    EXPECT_FALSE(r.transport->asked().contains(u"never asked"_qs));
}

TEST(RunController, NoRegionSelectedAsksForTheDefaultRegion) {
    TestRun r;
    r.transport->answers[u"q"_qs] = kShared;
    r.run({u"q"_qs}, std::nullopt);
    EXPECT_EQ(r.transport->regions(), QStringList{u"213"_qs});
    EXPECT_EQ(baseUrl(u"http://s/?k=1"_qs, 54), u"http://s/?k=1&lr=54"_qs);
}

// Blank lines are never asked nor clustered; a line given twice is asked once and clustered
// twice; a query answered "nothing found" is stored and lands in the bucket.
TEST(RunController, BlankLinesAreNotAskedAndQueriesWithoutUrlsStay) {
    TestRun r;
    r.transport->answers[u"none"_qs] = {};  // answered, but without a URL
    r.transport->answers[u"a"_qs] = kShared;
    r.transport->answers[u"b"_qs] = kShared;
    r.run({u""_qs, u"a"_qs, u"  "_qs, u"none"_qs, u"b"_qs, u"a"_qs});
    EXPECT_EQ(r.transport->asked(), (QStringList{u"a"_qs, u"none"_qs, u"b"_qs}));
    EXPECT_EQ(r.store.size(), 3);
    EXPECT_EQ(r.urlsOf(u"none"_qs), QStringList());
    ASSERT_EQ(r.built.size(), 1u);
    ASSERT_EQ(r.built[0].size(), 2u);
    EXPECT_EQ(r.built[0][0].caption, u"a"_qs);
    EXPECT_EQ(r.built[0][1], (Cluster{unsortedCaption(), {u"none"_qs}}));

    // Stored, so not paid for again.
    r.run({u"none"_qs});
    EXPECT_EQ(r.transport->asked().size(), 3);
}

namespace {

// A run whose store is saved through a CacheSaver into a temporary cache.txt.
struct SavingRun : TestRun {
    test::TempDir dir;
    CacheSaver saver{dir.path(u"cache.txt"_qs)};
    SavingRun() { controller->setCacheSaver(&saver); }
    QString saved() {
        saver.wait();
        return decodeTextFile(dir.read(u"cache.txt"_qs), AnsiCodec("windows-1251"));
    }
};

}  // namespace

// A fetch that fails (or is cancelled) leaves on disk what it fetched, without waiting for the
// program to shut down; a run that fetched nothing writes nothing.
TEST(RunController, TheEndOfAFetchSavesWhatArrived) {
    SavingRun r;
    r.transport->answers = {{u"a"_qs, kShared}, {u"b"_qs, kShared}};
    r.run({u"a"_qs, u"b"_qs, u"unanswered"_qs});
    ASSERT_EQ(r.errors.shown.size(), 1);
    const QString saved = r.saved();
    EXPECT_TRUE(saved.contains(u";a;http://a.ru/"_qs)) << saved.toStdString();
    EXPECT_TRUE(saved.contains(u";b;http://a.ru/"_qs));
    EXPECT_EQ(r.saver.saves(), 1);

    r.remember(u"fresh"_qs, kShared, kNow);
    r.run({u"fresh"_qs, u"a"_qs});
    EXPECT_EQ(r.saver.saves(), 1);  // all from the store: nothing new to save
}

// While a long fetch goes on, what has arrived is saved every little while (here at every poll).
TEST(RunController, ALongFetchSavesAsItGoes) {
    SavingRun r;
    r.controller->setSaveInterval(0);
    r.transport->answers = {{u"a"_qs, kShared}, {u"b"_qs, kShared}, {u"slow"_qs, kShared}};
    bool seenOnDisk = false;
    r.transport->before = [&](const QString& query) {
        if (query != u"slow") {
            return;
        }
        // The answers of a and b are on disk while this request is still open.
        for (int i = 0; i < 1000 && !seenOnDisk; ++i) {
            const QString text =
                decodeTextFile(r.dir.read(u"cache.txt"_qs), AnsiCodec("windows-1251"));
            seenOnDisk = text.contains(u";a;"_qs) && text.contains(u";b;"_qs);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    r.run({u"a"_qs, u"b"_qs, u"slow"_qs});
    EXPECT_TRUE(seenOnDisk);
    ASSERT_EQ(r.built.size(), 1u);
    EXPECT_TRUE(r.saved().contains(u";slow;"_qs));
}

// A query asked for one region is asked again for another; each region keeps its own answer.
TEST(RunController, AnotherRegionAsksAgain) {
    TestRun r;
    r.transport->answers[u"q"_qs] = kShared;
    r.run({u"q"_qs}, 213);
    r.run({u"q"_qs}, 2);
    r.run({u"q"_qs}, 213);
    r.run({u"q"_qs}, 2);
    EXPECT_EQ(r.transport->regions(), (QStringList{u"213"_qs, u"2"_qs}));
    ASSERT_NE(r.stores.find(2), nullptr);
    EXPECT_NE(findEntry(*r.stores.find(2), u"q"), nullptr);
    EXPECT_NE(findEntry(r.store, u"q"), findEntry(*r.stores.find(2), u"q"));
}

// Eight slots: the same clusters as one; a query the service refuses for itself is skipped and
// listed once the run has ended; code 42 ends the run with its own message.
TEST(RunController, EightThreadsClusterAsOneAndListTheSkippedQueries) {
    std::vector<ClusterList> built;
    for (const int threads : {1, 8}) {
        TestRun r;
        r.threads = threads;
        QStringList lines;
        for (int i = 0; i < 30; ++i) {
            const QString q = u"q"_qs + QString::number(i);
            lines << q;
            r.transport->answers[q] = {u"http://t%1.ru/"_qs.arg(i % 4), u"http://a.ru/"_qs,
                                       u"http://own.ru/"_qs + q};
        }
        lines.insert(7, u"bad"_qs);
        r.transport->errorCodes[u"bad"_qs] = 2;
        r.run(lines);
        EXPECT_TRUE(r.errors.shown.isEmpty()) << threads;
        ASSERT_EQ(r.errors.notices.size(), 1) << threads;
        EXPECT_TRUE(r.errors.notices[0].contains(u"\"bad\": code 2, \"refused\""_qs));
        ASSERT_EQ(r.built.size(), 1u) << threads;
        built.push_back(r.built[0]);
    }
    ASSERT_EQ(built[0].size(), built[1].size());
    for (size_t i = 0; i < built[0].size(); ++i) {
        EXPECT_EQ(built[0][i].caption, built[1][i].caption);
        EXPECT_EQ(built[0][i].phrases, built[1][i].phrases);
    }

    TestRun r;
    r.threads = 8;
    r.transport->answers[u"a"_qs] = kShared;
    r.transport->errorCodes[u"b"_qs] = 42;
    r.run({u"a"_qs, u"b"_qs});
    ASSERT_EQ(r.errors.shown.size(), 1);
    EXPECT_TRUE(r.errors.shown[0].contains(u"refuses every request (code 42)"_qs))
        << r.errors.shown[0].toStdString();
    EXPECT_TRUE(r.built.empty());
}

// More than a thousand requests are asked about first (when the setting wants it); a "no" sends
// nothing.
TEST(RunController, ALargeFetchAsksFirst) {
    TestRun r;
    r.confirmLargeFetch = true;
    r.errors.answer = false;
    QStringList lines;
    for (int i = 0; i < 1001; ++i) {
        lines << u"q"_qs + QString::number(i);
    }
    r.run(lines);
    ASSERT_EQ(r.errors.questions.size(), 1);
    EXPECT_TRUE(r.errors.questions[0].contains(u"1001 queries will be asked"_qs));
    EXPECT_TRUE(r.errors.questions[0].contains(u"Cost: about 4.00."_qs))
        << r.errors.questions[0].toStdString();
    EXPECT_TRUE(r.transport->asked().isEmpty());
    r.run(lines.mid(0, 1000));
    EXPECT_EQ(r.errors.questions.size(), 1) << "a thousand is not asked about";
}
