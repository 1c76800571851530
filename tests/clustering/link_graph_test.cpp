#include "clustering/link_graph.h"

#include "clustering/link_rules.h"
#include "engine_cases.h"

#include <gtest/gtest.h>

using namespace kelvara;
using namespace kelvara::test;

namespace {

QString u(int n) {
    return u"http://site.ru/"_qs + QString::number(n);
}

// a–x share 3, x–y share 3, y–b share 3; a and b share 1; z shares 2 with a (too few).
std::vector<LineSpec> chainOfThree() {
    return {
        {u"a"_qs, {u(1), u(2), u(3), u(100)}},
        {u"x"_qs, {u(1), u(2), u(3), u(4), u(5), u(6)}},
        {u"y"_qs, {u(4), u(5), u(6), u(7), u(8), u(9)}},
        {u"b"_qs, {u(7), u(8), u(9), u(100)}},
        {u"z"_qs, {u(1), u(2), u(50)}},
    };
}

}  // namespace

TEST(WhyTogether, ADirectLinkListsTheSharedUrls) {
    TestRun run = makeRun(chainOfThree(), Collation::program());
    const LinkGraph graph(run.work, 3, false);
    const WhyTogether w = graph.whyTogether(u"A", u"x");  // letter case ignored
    ASSERT_TRUE(w.known);
    EXPECT_TRUE(w.direct);
    EXPECT_EQ(w.shared, (QStringList{u(1), u(2), u(3)}));
    EXPECT_TRUE(w.chain.empty());
}

TEST(WhyTogether, AChainOfThreeLinksIsTheShortestWay) {
    TestRun run = makeRun(chainOfThree(), Collation::program());
    const LinkGraph graph(run.work, 3, false);
    for (const bool reversed : {false, true}) {
        const WhyTogether w =
            reversed ? graph.whyTogether(u"b", u"a") : graph.whyTogether(u"a", u"b");
        ASSERT_TRUE(w.known);
        EXPECT_FALSE(w.direct);
        EXPECT_EQ(w.shared, QStringList{u(100)});
        ASSERT_EQ(w.chain.size(), 3u);
        const QStringList path = reversed ? QStringList{u"b"_qs, u"y"_qs, u"x"_qs, u"a"_qs}
                                          : QStringList{u"a"_qs, u"x"_qs, u"y"_qs, u"b"_qs};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(w.chain[i].from, path[qsizetype(i)]);
            EXPECT_EQ(w.chain[i].to, path[qsizetype(i) + 1]);
            EXPECT_EQ(w.chain[i].shared.size(), 3);
        }
        EXPECT_EQ(w.chain[1].shared, (QStringList{u(4), u(5), u(6)}));
    }
    // A shortcut shortens the chain: c links a and y directly.
    std::vector<LineSpec> lines = chainOfThree();
    lines.push_back({u"c"_qs, {u(1), u(2), u(3), u(7), u(8), u(9)}});
    TestRun more = makeRun(lines, Collation::program());
    const WhyTogether w = LinkGraph(more.work, 3, false).whyTogether(u"a", u"b");
    ASSERT_EQ(w.chain.size(), 2u);
    EXPECT_EQ(w.chain[0].to, u"c"_qs);
}

TEST(WhyTogether, NoChainUnknownPhrasesAndTheHardMethod) {
    TestRun run = makeRun(chainOfThree(), Collation::program());
    // z shares two URLs with a: not linked at 3, so nothing joins it to b.
    const WhyTogether none = LinkGraph(run.work, 3, false).whyTogether(u"z", u"b");
    EXPECT_TRUE(none.known);
    EXPECT_FALSE(none.direct);
    EXPECT_TRUE(none.chain.empty());
    EXPECT_FALSE(LinkGraph(run.work, 3, false).whyTogether(u"a", u"nobody").known);
    // The hard method has no chains: only what the two share.
    const WhyTogether hard = LinkGraph(run.work, 3, true).whyTogether(u"a", u"b");
    EXPECT_EQ(hard.shared, QStringList{u(100)});
    EXPECT_TRUE(hard.chain.empty());
    // At threshold 2, z is linked to a.
    EXPECT_EQ(LinkGraph(run.work, 2, false).neighbours(LinkGraph(run.work, 2, false).idOf(u"z")),
              (std::vector<int>{0, 1}));
}

TEST(WhyTogether, AnswersForTheListsTheRunCompared) {
    // By host, a and b share the shop's host once, however many of its pages each has.
    TestRun run = makeRun({{u"a"_qs, {u"http://shop.ru/1"_qs, u"http://shop.ru/2"_qs}},
                           {u"b"_qs, {u"http://www.shop.ru/3"_qs}}},
                          Collation::program());
    const LinkWork work(run.work, LinkRules{nullptr, true});
    const WhyTogether w = LinkGraph(work.lines(), 1, false).whyTogether(u"a", u"b");
    EXPECT_TRUE(w.direct);
    EXPECT_EQ(w.shared, QStringList{u"shop.ru"_qs});
}

TEST(WeakestLink, ThePhrasesWhoseRemovalSplitsAClusterAreFound) {
    TestRun run = makeRun(chainOfThree(), Collation::program());
    const LinkGraph graph(run.work, 3, false);
    auto ids = [&](std::initializer_list<const char16_t*> texts) {
        std::vector<int> out;
        for (const char16_t* t : texts) {
            out.push_back(graph.idOf(QStringView(t)));
        }
        return out;
    };
    // A chain: the inner phrases hold it together.
    EXPECT_EQ(graph.articulationPoints(ids({u"a", u"x", u"y", u"b"})), ids({u"x", u"y"}));
    // Only the members' own links count: without y, x holds a alone.
    EXPECT_EQ(graph.articulationPoints(ids({u"a", u"x", u"b"})), std::vector<int>{});
    // A ring has no weak phrase: c closes a–x–y–b.
    std::vector<LineSpec> lines = chainOfThree();
    lines.push_back({u"c"_qs, {u(100), u(1), u(2), u(3), u(7), u(8), u(9)}});
    TestRun ring = makeRun(lines, Collation::program());
    const LinkGraph closed(ring.work, 3, false);
    std::vector<int> all;
    for (const char16_t* t : {u"a", u"x", u"y", u"b", u"c"}) {
        all.push_back(closed.idOf(QStringView(t)));
    }
    EXPECT_EQ(closed.articulationPoints(all), std::vector<int>{});
    EXPECT_EQ(closed.articulationPoints(all, 4), std::nullopt);
}

// The graph is made on another thread from copies taken at the start: the entries may change or
// go away meanwhile. Results that differ only in letter case are one result, in ASCII and in
// other scripts alike.
TEST(LinkGraphThread, TheGraphIsMadeFromTheListsAsTheyWereAtTheStart) {
    std::vector<LineSpec> lines = chainOfThree();
    lines[1].urls << u"http://сайт.рф/Путь"_qs;
    lines[2].urls << u"http://сайт.рф/путь"_qs;
    for (QString& url : lines[3].urls) {
        url = url.toUpper();  // b's URLs in capitals
    }
    TestRun run = makeRun(lines, Collation::program());
    const LinkGraphBuild build(run.work, LinkRules{}, 3, false);
    const LinkGraphBuild ignoring(
        run.work, LinkRules{std::make_shared<const HostList>(HostList::parse(u"site.ru")), false},
        1, false);
    for (auto& entry : run.entries) {
        entry->Urls.clear();
    }
    run.entries.clear();

    const WhyTogether w = build.graph().whyTogether(u"a", u"b");
    EXPECT_TRUE(build.ready());
    ASSERT_EQ(w.chain.size(), 3u);
    EXPECT_EQ(w.shared, QStringList{u(100)});
    EXPECT_EQ(w.chain[1].shared, (QStringList{u(4), u(5), u(6), u"http://сайт.рф/Путь"_qs}));
    EXPECT_EQ(w.chain[2].shared.size(), 3);

    const WhyTogether left = ignoring.graph().whyTogether(u"x", u"y");
    EXPECT_EQ(left.shared, QStringList{u"http://сайт.рф/Путь"_qs});
    EXPECT_TRUE(left.direct);
    EXPECT_TRUE(ignoring.graph().whyTogether(u"a", u"x").shared.isEmpty());
}
