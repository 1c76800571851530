#include "clustering/link_rules.h"

#include "clustering/assembly.h"
#include "clustering/engine.h"
#include "engine_cases.h"
#include "reference_engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::shared_ptr<const HostList> hosts(QStringView text) {
    return std::make_shared<const HostList>(HostList::parse(text));
}

ClusterList clustered(const std::vector<LineSpec>& lines, const LinkRules& rules, int k) {
    TestRun run = makeRun(lines, Collation::program());
    const LinkWork work(run.work, rules);
    TStringListDynArray groups;
    GroupingProgress progress;
    runGrouping(work.lines(), groups, false, k, progress);
    return assembleClusters(groups);
}

const Collation& russian() {
    static const Collation c{QLocale(QLocale::Russian, QLocale::Russia)};
    return c;
}

}  // namespace

TEST(HostMatching, UrlPairsAreTheSameResultWhenTheirHostsAreEqual) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool same;
    };
    const Case cases[] = {
        {u"http://shop.ru/a", u"https://shop.ru/b?x=1", true},
        {u"http://www.shop.ru/", u"http://shop.ru", true},
        {u"http://WWW.Shop.RU/", u"http://shop.ru/", true},
        {u"http://shop.ru:8080/", u"http://user:pw@shop.ru/", true},
        {u"http://shop.ru./x", u"http://shop.ru#top", true},
        {u"http://пример.рф/", u"https://xn--e1afmkfd.xn--p1ai/page", true},
        {u"http://ПРИМЕР.РФ/", u"http://www.xn--e1afmkfd.xn--p1ai/", true},
        {u"http://m.shop.ru/", u"http://shop.ru/", false},
        {u"http://shop.ru/", u"http://shop.com/", false},
        {u"http://www2.shop.ru/", u"http://shop.ru/", false},
        {u"http://wwwshop.ru/", u"http://shop.ru/", false},
        {u"shop.ru/path", u"http://shop.ru/", true},
    };
    for (const Case& c : cases) {
        const QString a = QString::fromUtf16(c.a), b = QString::fromUtf16(c.b);
        EXPECT_EQ(urlHostKey(a) == urlHostKey(b), c.same)
            << a.toStdString() << " / " << b.toStdString() << ": " << urlHostKey(a).toStdString()
            << " / " << urlHostKey(b).toStdString();
    }
    EXPECT_EQ(urlHostKey(u"https://www.Shop.ru:443/a"), u"shop.ru"_qs);
    EXPECT_EQ(urlHostKey(u""), QString());
}

TEST(HostMatching, EachHostCountsOncePerQuery) {
    // Two queries with three pages of one shop and one of another share two hosts, not four.
    TestRun run = makeRun({{u"a"_qs,
                            {u"http://shop.ru/1"_qs, u"http://shop.ru/2"_qs,
                             u"http://www.shop.ru/3"_qs, u"http://b.ru/"_qs}},
                           {u"b"_qs, {u"http://shop.ru/9"_qs, u"http://B.ru/x"_qs}}},
                          Collation::program());
    const LinkWork work(run.work, LinkRules{nullptr, true});
    EXPECT_EQ(work.lines()[0].entry->Urls.texts(), (QStringList{u"b.ru"_qs, u"shop.ru"_qs}));
    EXPECT_EQ(work.lines()[1].entry->Urls.texts(), (QStringList{u"b.ru"_qs, u"shop.ru"_qs}));
    // The store's entries keep every URL.
    EXPECT_EQ(run.entries[0]->Urls.size(), 4);
    EXPECT_EQ(run.entries[1]->Urls.size(), 2);
}

TEST(IgnoredHosts, AMarketplaceThatChainedTwoTopicsNoLongerDoes) {
    // Each topic's queries share three pages of their own; across the topics only one coffee
    // page and the marketplace's two pages are shared, which at threshold 3 links them.
    const QString m1 = u"https://market.example/search?q=1"_qs;
    const QString m2 = u"https://www.market.example/item/2"_qs;
    const std::vector<LineSpec> lines = {
        {u"coffee beans"_qs,
         {u"http://coffee.ru/1"_qs, u"http://coffee.ru/2"_qs, u"http://coffee.ru/3"_qs, m1, m2}},
        {u"buy coffee"_qs,
         {u"http://coffee.ru/1"_qs, u"http://coffee.ru/2"_qs, u"http://coffee.ru/3"_qs,
          u"http://beans.ru/"_qs, m1, m2}},
        {u"winter tyres"_qs,
         {u"http://tyres.ru/1"_qs, u"http://tyres.ru/2"_qs, u"http://tyres.ru/3"_qs, m1, m2}},
        {u"tyres price"_qs,
         {u"http://tyres.ru/1"_qs, u"http://tyres.ru/2"_qs, u"http://tyres.ru/3"_qs,
          u"http://coffee.ru/2"_qs, m1, m2}},
    };
    const ClusterList before = clustered(lines, {}, 3);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].phrases.size(), 4);

    for (const QStringView list : {u"market.example"_qs, u"*.market.example"_qs,
                                   u"# shops\nhttps://www.market.example/\n"_qs}) {
        const ClusterList after = clustered(lines, LinkRules{hosts(list), false}, 3);
        ASSERT_EQ(after.size(), 2u) << list.toString().toStdString();
        EXPECT_EQ(after[0].phrases, (QStringList{u"buy coffee"_qs, u"coffee beans"_qs}));
        EXPECT_EQ(after[1].phrases, (QStringList{u"tyres price"_qs, u"winter tyres"_qs}));
    }
    // Without active rules the engine sees the work itself.
    TestRun run = makeRun(lines, Collation::program());
    EXPECT_EQ(&LinkWork(run.work, LinkRules{hosts(u"# nothing"), false}).lines(), &run.work);
}

TEST(IgnoredHosts, ListsMatchHostsSubdomainsAndBothFormsOfInternationalNames) {
    const HostList list = HostList::parse(
        u"\uFEFFshop.ru\r\n\r\n   *.wiki.org  # every language\n"
        u"пример.рф\nxn--d1acpjx3f.xn--p1ai\nWWW.Video.com.\n"_qs);
    EXPECT_EQ(list.size(), 5);
    struct Case {
        const char16_t* url;
        bool ignored;
    };
    const Case cases[] = {
        {u"http://shop.ru/x", true},
        {u"https://www.shop.ru/", true},
        {u"http://m.shop.ru/", false},
        {u"http://wiki.org/", true},
        {u"http://en.m.wiki.org/page", true},
        {u"http://notwiki.org/", false},
        {u"http://xn--e1afmkfd.xn--p1ai/", true},
        {u"http://www.ПРИМЕР.рф/", true},
        {u"http://яндекс.рф/", true},
        {u"http://video.com:80/", true},
        {u"http://video.co/", false},
        {u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(list.matchesUrl(QString::fromUtf16(c.url)), c.ignored)
            << QString::fromUtf16(c.url).toStdString();
    }
}

TEST(IgnoredHosts, UnusableLinesAreReportedAndTheRestUsed) {
    const QString longLine(5000, u'a');
    const QString text = u"good.ru\n0.0.0.0 ads.ru\n*\n*.\nbad..ru\nhttp://\n\x01\x02garbage\n"_qs +
                         longLine + u"\na_b-c.ru\n[::1]\nfine.org # trailing comment\n"_qs;
    std::vector<HostListProblem> problems;
    qsizetype count = 0;
    const HostList list = HostList::parse(text, &problems, &count, 3);
    EXPECT_EQ(list.size(), 3);
    EXPECT_TRUE(list.matchesUrl(u"http://good.ru/"));
    EXPECT_TRUE(list.matchesUrl(u"http://a_b-c.ru/"));
    EXPECT_TRUE(list.matchesUrl(u"http://fine.org/"));
    EXPECT_EQ(count, 8);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_EQ(problems[0].text, u"0.0.0.0 ads.ru"_qs);

    HostListFile file;
    file.problems = problems;
    file.problemCount = count;
    const QString en = hostListProblemText(file, u"hosts.txt"_qs, UiLanguage::English);
    EXPECT_TRUE(en.contains(u"8 lines are not host names"));
    EXPECT_TRUE(en.contains(u"line 2: \"0.0.0.0 ads.ru\""));
    EXPECT_TRUE(en.contains(u"and 5 more"));
    EXPECT_TRUE(hostListProblemText(file, u"h"_qs, UiLanguage::Russian).contains(u"и ещё 5"));
    EXPECT_TRUE(hostListProblemText(HostListFile{}, u"h"_qs, UiLanguage::English).isEmpty());

    // A long line is reported without all of its text.
    const HostList alone = HostList::parse(longLine, &problems, &count);
    EXPECT_TRUE(alone.empty());
    EXPECT_EQ(problems.back().kind, HostListProblem::TooLong);
    EXPECT_LT(problems.back().text.size(), 100);
}

TEST(IgnoredHosts, AMillionLinesAreRead) {
    QString text;
    text.reserve(20'000'000);
    for (int i = 0; i < 1'000'000; ++i) {
        text += i % 1000 == 999 ? u"not a host\n"_qs : u"h"_qs + QString::number(i) + u".ru\n"_qs;
    }
    qsizetype count = 0;
    const HostList list = HostList::parse(text, nullptr, &count);
    EXPECT_EQ(list.size(), 999'000);
    EXPECT_EQ(count, 1000);
    EXPECT_TRUE(list.matchesUrl(u"http://h998.ru/"));
    EXPECT_FALSE(list.matchesUrl(u"http://h999.ru/"));
}

// About a third of the host lines, and host matching on or off, drawn from the case's generator.
struct RandomRules {
    QStringList chosen;  // for the failure message
    LinkRules rules;
};
RandomRules randomRules(std::mt19937_64& rng, const QStringList& hostLines) {
    QStringList chosen;
    for (const QString& h : hostLines) {
        if (rng() % 3 == 0) {
            chosen << h;
        }
    }
    LinkRules rules{hosts(chosen.join(u'\n')), rng() % 2 == 0};
    return {chosen, std::move(rules)};
}

TEST(EngineDifferential, FilteredInputGivesTheReferenceAnswer) {
    const char* env = std::getenv("KELVARA_DIFF_CASES");
    const int cases = env ? std::max(1, std::atoi(env)) : 300;
    const QStringList hostLines = {u"s0.ru"_qs,    u"*.ru"_qs,
                                   u"сайт1.рф"_qs, u"xn--80aswg0.xn--p1ai"_qs,
                                   u"q.ru"_qs,     u"*.s3.ru"_qs};
    for (int n = 0; n < cases; ++n) {
        const std::uint64_t seed = 7700 + std::uint64_t(n);
        std::mt19937_64 rng(seed);
        const std::vector<LineSpec> lines = randomLines(rng, RandomShape{});
        const auto [chosen, rules] = randomRules(rng, hostLines);
        const int k = 1 + int(rng() % 4);
        const Collation& c = n % 3 == 2 ? russian() : Collation::program();
        for (bool hard : {false, true}) {
            TestRun a = makeRun(lines, c);
            TestRun b = makeRun(lines, c);
            const LinkWork ra(a.work, rules);
            const LinkWork rb(b.work, rules);
            TStringListDynArray ga, gb;
            GroupingProgress pa, pb;
            test::referenceGrouping(ra.lines(), ga, hard, k, pa, {}, c);
            runGrouping(rb.lines(), gb, hard, k, pb, {}, c);
            const std::string where = "seed " + std::to_string(seed) + (hard ? " hard" : " soft") +
                                      " k=" + std::to_string(k) + " hosts " +
                                      chosen.join(u' ').toStdString() +
                                      (rules.byHost ? " by host" : " by url") + "\n" + dump(lines);
            ASSERT_EQ(ga.size(), gb.size()) << where;
            for (size_t g = 0; g < ga.size(); ++g) {
                ASSERT_EQ(bool(ga[g]), bool(gb[g])) << where;
                if (ga[g]) {
                    ASSERT_EQ(*ga[g], *gb[g]) << where;
                }
            }
            for (size_t i = 0; i < lines.size(); ++i) {
                ASSERT_EQ(ra.lines()[i].entry->GroupIndex, rb.lines()[i].entry->GroupIndex)
                    << where;
                // What the rules keep of this line's URLs, item by item.
                const SortedStrings& was = a.work[i].entry->Urls;
                const SortedStrings& now = ra.lines()[i].entry->Urls;
                SortedStrings want(c);
                for (const auto& u : was) {
                    if (rules.ignored->matchesUrl(u.text)) {
                        continue;
                    }
                    const QString key = urlHostKey(u.text);
                    want.add(rules.byHost && !key.isEmpty() ? key : u.text);
                }
                ASSERT_EQ(now.texts(), want.texts()) << where;
            }
            // Lines that shared an entry share its reduced copy.
            for (size_t i = 0; i < lines.size(); ++i) {
                for (size_t j = i + 1; j < lines.size(); ++j) {
                    ASSERT_EQ(a.work[i].entry == a.work[j].entry,
                              ra.lines()[i].entry == ra.lines()[j].entry)
                        << where;
                }
            }
            // The entries the work came with are as they were.
            TestRun fresh = makeRun(lines, c);
            for (size_t e = 0; e < a.entries.size(); ++e) {
                ASSERT_EQ(a.entries[e]->Urls.texts(), fresh.entries[e]->Urls.texts()) << where;
            }
        }
    }
}

// The engine applies the rules itself while it reads the URLs; its groups must be those of the
// engine on the reduced copies, whichever way it makes its URL ids (fingerprints for ASCII
// texts, ranking once a key is not ASCII).
TEST(EngineDifferential, RulesAppliedInsideTheEngineGiveTheReducedListsAnswer) {
    const char* env = std::getenv("KELVARA_DIFF_CASES");
    const int cases = env ? std::max(1, std::atoi(env)) : 300;
    const QStringList hostLines = {u"s0.ru"_qs, u"*.s1.ru"_qs, u"www.s2.ru"_qs,
                                   u"*.ru"_qs,  u"q.ru"_qs,    u"сайт1.рф"_qs};
    // Another spelling of a URL's host, the same for every occurrence of the URL.
    auto respell = [](const QString& url) {
        switch (qHash(url) % 5) {
            case 0:
                return QString(url).replace(u"http://s"_qs, u"http://www.s"_qs);
            case 1:
                return QString(url).replace(u"http://s"_qs, u"HTTP://WWW.S"_qs);
            case 2:
                return QString(url).replace(u"http://"_qs, QString());  // no scheme
            default:
                return url;
        }
    };
    for (int n = 0; n < cases; ++n) {
        const std::uint64_t seed = 9100 + std::uint64_t(n);
        std::mt19937_64 rng(seed);
        RandomShape shape;
        shape.nonAsciiUrls = n % 4 == 3;
        std::vector<LineSpec> lines = randomLines(rng, shape);
        for (LineSpec& line : lines) {
            for (QString& u : line.urls) {
                u = respell(u);
            }
        }
        const auto [chosen, rules] = randomRules(rng, hostLines);
        const int k = 1 + int(rng() % 4);
        const Collation& c = n % 5 == 4 ? russian() : Collation::program();
        for (bool hard : {false, true}) {
            TestRun a = makeRun(lines, c);
            TestRun b = makeRun(lines, c);
            const LinkWork reduced(a.work, rules);
            TStringListDynArray ga, gb;
            GroupingProgress pa, pb;
            runGrouping(reduced.lines(), ga, hard, k, pa, {}, c);
            runGrouping(b.work, gb, hard, k, pb, {}, c, rules);
            const std::string where = "seed " + std::to_string(seed) + (hard ? " hard" : " soft") +
                                      " k=" + std::to_string(k) + " hosts " +
                                      chosen.join(u' ').toStdString() +
                                      (rules.byHost ? " by host" : " by url") + "\n" + dump(lines);
            ASSERT_EQ(pb.FStatus.load(), gsSuccess) << where;
            ASSERT_EQ(ga.size(), gb.size()) << where;
            for (size_t g = 0; g < ga.size(); ++g) {
                ASSERT_EQ(bool(ga[g]), bool(gb[g])) << where;
                if (ga[g]) {
                    ASSERT_EQ(*ga[g], *gb[g]) << where;
                }
            }
            // The entries keep every URL.
            for (size_t e = 0; e < a.entries.size(); ++e) {
                ASSERT_EQ(b.entries[e]->Urls.texts(), a.entries[e]->Urls.texts()) << where;
            }
        }
    }
}
