#include "clustering/engine.h"

#include "datagen.h"
#include "engine_cases.h"
#include "reference_engine.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cstdlib>
#include <random>

using namespace kelvara;
using namespace kelvara::test;

namespace {

using Groups = std::vector<std::optional<QStringList>>;

QStringList L(std::initializer_list<const char16_t*> items) {
    QStringList out;
    for (const char16_t* s : items) {
        out.append(QString::fromUtf16(s));
    }
    return out;
}

const Collation& russian() {
    static const Collation c{QLocale(QLocale::Russian, QLocale::Russia)};
    return c;
}

// Both engines on the same lines: they must agree, and the result is returned.
Outcome bothEngines(const std::vector<LineSpec>& lines, bool hard, int k,
                    const Collation& c = Collation::program()) {
    TestRun a = makeRun(lines, c);
    TestRun b = makeRun(lines, c);
    const Outcome want = runWith(referenceEngine(), a, hard, k, c);
    const Outcome got = runWith(fastEngine(), b, hard, k, c);
    EXPECT_EQ(got, want) << (hard ? "hard" : "soft") << " k=" << k << "\nreference:\n"
                         << describe(want) << "\nengine:\n"
                         << describe(got) << "\nlines:\n"
                         << dump(lines);
    return got;
}

}  // namespace

TEST(GetCombinations, GivesEveryCombinationInPositionOrder) {
    const QStringList abc = L({u"a", u"b", u"c", u"d"});
    EXPECT_EQ(GetCombinations(abc, 2, 0), L({u"a|b", u"a|c", u"a|d", u"b|c", u"b|d", u"c|d"}));
    EXPECT_EQ(GetCombinations(abc, 3, 1), L({u"b|c|d"}));
    EXPECT_EQ(GetCombinations(abc, 1, 2), L({u"c", u"d"}));
    EXPECT_TRUE(GetCombinations(abc, 5, 0).isEmpty());
    EXPECT_TRUE(GetCombinations(abc, 1, 4).isEmpty());
    QStringList ten;
    for (int i = 0; i < 10; ++i) {
        ten.append(QString::number(i));
    }
    const int counts[] = {10, 45, 120, 210, 252, 210, 120, 45, 10, 1};
    for (int k = 1; k <= 10; ++k) {
        const QStringList combos = GetCombinations(ten, k, 0);
        EXPECT_EQ(combos.size(), counts[k - 1]) << k;
        const std::vector<std::vector<int>> positions = combinationPositions(10, k);
        ASSERT_EQ(qsizetype(positions.size()), combos.size());
        for (size_t x = 0; x < positions.size(); ++x) {
            QStringList parts;
            for (int p : positions[x]) {
                parts.append(ten[p]);
            }
            EXPECT_EQ(parts.join(u'|'), combos[qsizetype(x)]);
        }
    }
}

// The cases worth pinning down by hand; both engines must give exactly these groups.
struct HandCase {
    const char* name;
    bool hard;
    int k;
    std::vector<LineSpec> lines;
    Groups want;
};

class EngineCases : public ::testing::TestWithParam<HandCase> {};

TEST_P(EngineCases, GiveTheseGroups) {
    const HandCase& hc = GetParam();
    const Outcome o = bothEngines(hc.lines, hc.hard, hc.k);
    EXPECT_EQ(o.groups, hc.want) << describe(o);
    EXPECT_EQ(o.status, gsSuccess);
    EXPECT_EQ(o.total, int(hc.lines.size()));
    EXPECT_EQ(o.done, o.total);
}

INSTANTIATE_TEST_SUITE_P(
    ByHand, EngineCases,
    ::testing::Values(
        HandCase{"EmptyWorkListSoft", false, 3, {}, {}},
        HandCase{"EmptyWorkListHard", true, 3, {}, {}},
        HandCase{"NoUrlsAndTooFewSoft",
                 false,
                 3,
                 {{u"a"_qs, {}}, {u"b"_qs, {u"u1"_qs, u"u2"_qs}}, {u"c"_qs, {u"u1"_qs, u"u2"_qs}}},
                 {L({u"a"}), L({u"b"}), L({u"c"})}},
        HandCase{"NoUrlsAndTooFewHard",
                 true,
                 3,
                 {{u"a"_qs, {}}, {u"b"_qs, {u"u1"_qs, u"u2"_qs}}, {u"c"_qs, {u"u1"_qs, u"u2"_qs}}},
                 {L({u"a"}), L({u"b"}), L({u"c"})}},
        HandCase{"ExactlyKSharedSoft",
                 false,
                 3,
                 {{u"b"_qs, {u"u1"_qs, u"u2"_qs, u"u3"_qs, u"x"_qs}},
                  {u"a"_qs, {u"u1"_qs, u"u2"_qs, u"u3"_qs, u"y"_qs}}},
                 {L({u"a", u"b"})}},
        HandCase{
            "ExactlyKSharedHard",
            true,
            2,
            {{u"b"_qs, {u"u1"_qs, u"u2"_qs, u"x"_qs}}, {u"a"_qs, {u"u1"_qs, u"u2"_qs, u"y"_qs}}},
            {L({u"b", u"a"})}},
        // A-B share 3, B-C share 3 others, A-C only 1: single linkage makes one group.
        HandCase{"SoftChain",
                 false,
                 3,
                 {{u"A"_qs, {u"1"_qs, u"2"_qs, u"3"_qs, u"7"_qs}},
                  {u"B"_qs, {u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs, u"5"_qs, u"6"_qs}},
                  {u"C"_qs, {u"4"_qs, u"5"_qs, u"6"_qs, u"7"_qs}}},
                 {L({u"A", u"B", u"C"})}},
        // C's group {A,C} meets D's {B,D}: equally many lines, so C's group moves and its slot
        // empties.
        HandCase{"SoftMergeTie",
                 false,
                 1,
                 {{u"A"_qs, {u"a"_qs}},
                  {u"B"_qs, {u"b"_qs}},
                  {u"C"_qs, {u"a"_qs, u"c"_qs}},
                  {u"D"_qs, {u"b"_qs, u"c"_qs}}},
                 {std::nullopt, L({u"A", u"B", u"C", u"D"})}},
        HandCase{"SoftMergeLargerKeepsItsSlot",
                 false,
                 1,
                 {{u"A"_qs, {u"a"_qs}},
                  {u"E"_qs, {u"a"_qs}},
                  {u"B"_qs, {u"b"_qs}},
                  {u"C"_qs, {u"a"_qs, u"c"_qs}},
                  {u"D"_qs, {u"b"_qs, u"c"_qs}}},
                 {L({u"A", u"B", u"C", u"D", u"E"}), std::nullopt}},
        // Group lines: sorted ignoring case in soft, in recording order in hard.
        HandCase{"SoftLinesSorted",
                 false,
                 1,
                 {{u"b"_qs, {u"u"_qs}}, {u"C"_qs, {u"u"_qs}}, {u"a"_qs, {u"u"_qs}}},
                 {L({u"a", u"b", u"C"})}},
        HandCase{"HardLinesInRecordingOrder",
                 true,
                 1,
                 {{u"b"_qs, {u"u"_qs}}, {u"C"_qs, {u"u"_qs}}, {u"a"_qs, {u"u"_qs}}},
                 {L({u"b", u"a", u"C"})}},
        // Two queries sharing 3 URLs with no third: k = 3 asks for 3 queries.
        HandCase{"HardPairWithoutThirdQuery",
                 true,
                 3,
                 {{u"p"_qs, {u"1"_qs, u"2"_qs, u"3"_qs}}, {u"q"_qs, {u"1"_qs, u"2"_qs, u"3"_qs}}},
                 {L({u"p"}), L({u"q"})}},
        // {A,B,C,D} under 1|2 is placed first; {C,E,F} under 3|4 keeps E and F, served later as
        // a candidate of two; {A,B,G} under 5|6 keeps only G and is dropped.
        HandCase{"HardPartlyPlaced",
                 true,
                 2,
                 {{u"A"_qs, {u"1"_qs, u"2"_qs, u"5"_qs, u"6"_qs}},
                  {u"B"_qs, {u"1"_qs, u"2"_qs, u"5"_qs, u"6"_qs}},
                  {u"C"_qs, {u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs}},
                  {u"D"_qs, {u"1"_qs, u"2"_qs}},
                  {u"E"_qs, {u"3"_qs, u"4"_qs}},
                  {u"F"_qs, {u"3"_qs, u"4"_qs}},
                  {u"G"_qs, {u"5"_qs, u"6"_qs}}},
                 {L({u"A", u"B", u"C", u"D"}), L({u"E", u"F"}), L({u"G"})}},
        // A repeated text: no group holds it twice, and each unplaced occurrence stands alone.
        HandCase{"RepeatedTextSoft",
                 false,
                 2,
                 {{u"x"_qs, {u"1"_qs, u"2"_qs}, 0},
                  {u"y"_qs, {u"1"_qs, u"2"_qs}},
                  {u"X"_qs, {}, 0},
                  {u"z"_qs, {u"8"_qs}},
                  {u"z"_qs, {u"9"_qs}}},
                 {L({u"x", u"y"}), L({u"z"}), L({u"z"})}},
        HandCase{"RepeatedTextHard",
                 true,
                 2,
                 {{u"z"_qs, {u"8"_qs}}, {u"x"_qs, {u"1"_qs}}, {u"z"_qs, {u"9"_qs}}},
                 {L({u"z"}), L({u"x"}), L({u"z"})}}),
    [](const auto& info) { return std::string(info.param.name); });

// In the line-by-line algorithm, "q" joins the group that already holds "Q" through another
// line, so no line of that group names q's entry; when that group is merged away, q's
// GroupIndex would still name the emptied slot and the next join through q would write into
// it. Every entry that joined a group follows it into the group it merges into.
TEST(EngineFaults, AnEntryJoinedThroughAnEqualTextFollowsItsGroupIntoAMerge) {
    const std::vector<LineSpec> lines = {
        {u"Q"_qs, {u"a"_qs}},          {u"X"_qs, {u"a"_qs, u"b"_qs}}, {u"B"_qs, {u"f"_qs}},
        {u"C"_qs, {u"a"_qs, u"g"_qs}}, {u"D"_qs, {u"f"_qs, u"g"_qs}}, {u"E"_qs, {u"f"_qs}},
        {u"q"_qs, {u"b"_qs, u"h"_qs}}, {u"R"_qs, {u"h"_qs}}};
    const Outcome o = bothEngines(lines, false, 1);
    EXPECT_EQ(o.groups, (Groups{std::nullopt, L({u"B", u"C", u"D", u"E", u"Q", u"R", u"X"})}));
    for (int gi : o.groupIndex) {
        EXPECT_EQ(gi, 1);
    }
}

// Threshold 0 would make the hard method's last bucket -1; it counts as 1.
TEST(EngineFaults, AThresholdBelowOneCountsAsOne) {
    const std::vector<LineSpec> lines = {{u"a"_qs, {u"1"_qs}}, {u"b"_qs, {u"1"_qs}}};
    for (bool hard : {false, true}) {
        for (int k : {0, -3}) {
            const Outcome o = bothEngines(lines, hard, k);
            EXPECT_EQ(o.groups, bothEngines(lines, hard, 1).groups);
            EXPECT_EQ(o.status, gsSuccess);
        }
    }
}

// Different URL sets whose "|"-joined texts read alike must not make one combination key:
// "u|v" + "w" and "u" + "v|w" are not the same three URLs.
TEST(EngineFaults, UrlsHoldingTheSeparatorMakeNoFalseKey) {
    const std::vector<LineSpec> lines = {{u"a"_qs, {u"http://x/u|v"_qs, u"http://x/u|w"_qs}},
                                         {u"b"_qs, {u"http://x/u|v"_qs, u"http://x/u|w"_qs}},
                                         {u"c"_qs, {u"http://x/u"_qs, u"v|http://x/u|w"_qs}},
                                         {u"d"_qs, {u"http://x/u"_qs, u"v|http://x/u|w"_qs}}};
    const Outcome o = bothEngines(lines, true, 2);
    // Equal joined texts are ordered URL by URL: "http://x/u" comes before "http://x/u|v".
    EXPECT_EQ(o.groups, (Groups{L({u"c", u"d"}), L({u"a", u"b"})}));
}

// Large randomized comparison with the line-by-line algorithm. KELVARA_DIFF_CASES sets the
// number of random work lists (default 600, each run with both methods and a random threshold,
// in two collations).
TEST(EngineDifferential, RandomWorkListsGiveTheReferenceAnswer) {
    const char* env = std::getenv("KELVARA_DIFF_CASES");
    const int cases = env ? std::max(1, std::atoi(env)) : 600;
    const char* seedEnv = std::getenv("KELVARA_DIFF_SEED");
    const std::uint64_t base = seedEnv ? std::strtoull(seedEnv, nullptr, 10) : 20240601;
    int compared = 0;
    for (int n = 0; n < cases; ++n) {
        const std::uint64_t seed = base + std::uint64_t(n);
        std::mt19937_64 rng(seed);
        const std::vector<LineSpec> lines = randomLines(rng, RandomShape{});
        const int kSoft = 1 + int(rng() % (rng() % 2 ? 10 : 4));
        const int kHard = 1 + int(rng() % (rng() % 2 ? 10 : 4));
        const Collation& c = n % 3 == 2 ? russian() : Collation::program();
        for (bool hard : {false, true}) {
            const int k = hard ? kHard : kSoft;
            TestRun a = makeRun(lines, c);
            TestRun b = makeRun(lines, c);
            const Outcome want = runWith(referenceEngine(), a, hard, k, c);
            const Outcome got = runWith(fastEngine(), b, hard, k, c);
            ++compared;
            ASSERT_EQ(got, want) << "seed " << seed << " (KELVARA_DIFF_SEED=" << seed
                                 << " KELVARA_DIFF_CASES=1), " << (hard ? "hard" : "soft")
                                 << " k=" << k << ", " << c.locale().name().toStdString()
                                 << "\nreference:\n"
                                 << describe(want) << "\nengine:\n"
                                 << describe(got) << "\nlines:\n"
                                 << dump(lines);
        }
    }
    RecordProperty("compared", compared);
}

// Imported lists can hold many more than ten URLs; lines that share most of them make the
// engine take its careful way through their many subsets.
TEST(EngineDifferential, LongUrlListsGiveTheReferenceAnswer) {
    for (int n = 0; n < 16; ++n) {
        const std::uint64_t seed = 990000 + std::uint64_t(n);
        std::mt19937_64 rng(seed);
        RandomShape shape;
        shape.maxLines = 5;
        shape.maxUrls = 26;
        shape.maxListLength = 22;
        const std::vector<LineSpec> lines = randomLines(rng, shape);
        const int k = 1 + int(rng() % 4);
        for (bool hard : {false, true}) {
            TestRun a = makeRun(lines, Collation::program());
            TestRun b = makeRun(lines, Collation::program());
            const Outcome want = runWith(referenceEngine(), a, hard, k, Collation::program());
            const Outcome got = runWith(fastEngine(), b, hard, k, Collation::program());
            ASSERT_EQ(got, want) << "seed " << seed << ", " << (hard ? "hard" : "soft")
                                 << " k=" << k << "\nreference:\n"
                                 << describe(want) << "\nengine:\n"
                                 << describe(got) << "\nlines:\n"
                                 << dump(lines);
        }
    }
}

// Generated topical data with popular URLs, repeats, case variants and empty queries.
TEST(EngineDifferential, GeneratedTopicalDataGivesTheReferenceAnswer) {
    const char* env = std::getenv("KELVARA_DIFF_CASES");
    const int cases = env ? std::max(1, std::atoi(env) / 5) : 40;
    for (int n = 0; n < cases; ++n) {
        std::mt19937_64 rng(7000 + std::uint64_t(n));
        datagen::Params p;
        p.queries = 15 + qsizetype(rng() % 30);
        p.seed = 7000 + std::uint64_t(n);
        p.meanTopicSize = 2 + double(rng() % 12);
        p.topUrlShare = 0.05 + double(rng() % 30) / 100.0;
        p.uniqueUrlShare = double(rng() % 40) / 100.0;
        p.fullListShare = 0.7;
        p.repeatSameEntry = double(rng() % 10) / 100.0;
        p.repeatNewEntry = double(rng() % 10) / 100.0;
        p.caseVariantLines = double(rng() % 10) / 100.0;
        p.caseVariantUrls = double(rng() % 20) / 100.0;
        p.emptyQueries = int(rng() % 3);
        const bool hard = n % 2 == 1;
        const int k = 1 + int(rng() % 6);
        datagen::GeneratedRun a = datagen::generateRun(p);
        datagen::GeneratedRun b = datagen::generateRun(p);
        TStringListDynArray ga;
        TStringListDynArray gb;
        GroupingProgress pa;
        GroupingProgress pb;
        referenceGrouping(a.work, ga, hard, k, pa);
        runGrouping(b.work, gb, hard, k, pb);
        ASSERT_EQ(ga.size(), gb.size()) << "seed " << p.seed << " k=" << k << " hard " << hard;
        for (size_t g = 0; g < ga.size(); ++g) {
            ASSERT_EQ(bool(ga[g]), bool(gb[g])) << "seed " << p.seed << " slot " << g;
            if (ga[g]) {
                ASSERT_EQ(*gb[g], *ga[g])
                    << "seed " << p.seed << " k=" << k << " hard " << hard << " slot " << g;
            }
        }
        for (size_t e = 0; e < a.entries.size(); ++e) {
            ASSERT_EQ(b.entries[e]->GroupIndex, a.entries[e]->GroupIndex) << "seed " << p.seed;
        }
        ASSERT_EQ(pb.FStatus.load(), gsSuccess);
    }
}

// A stop request during the main pass ends the run at once, after the query in hand, with the
// status left at gsProcess; in the hard method no group is made.
TEST(EngineStop, AStopDuringTheMainPassEndsTheRunWithoutSuccess) {
    for (bool hard : {false, true}) {
        for (const bool reference : {true, false}) {
            datagen::Params p;
            p.queries = reference ? 300 : 3000;  // the reference is slow to index
            p.seed = 5;
            datagen::GeneratedRun run = datagen::generateRun(p);
            const Engine engine = reference ? referenceEngine() : fastEngine();
            int asked = 0;
            TStringListDynArray groups;
            GroupingProgress progress;
            engine(
                run.work, groups, hard, 3, progress, [&] { return ++asked > 20; },
                Collation::program());
            EXPECT_EQ(progress.FStatus.load(), gsProcess);
            EXPECT_EQ(progress.FTotalIterations.load(), int(p.queries));
            EXPECT_LT(progress.FSuccessIterations.load(), int(p.queries));
            EXPECT_EQ(asked, 21);  // nothing is asked once the stop is seen
            if (hard) {
                EXPECT_TRUE(groups.empty());
            }
        }
    }
}

// The reference counts one iteration per query; stopping after the 11th query leaves 10 done.
TEST(EngineStop, TheReferenceStopsAfterTheQueryInHand) {
    const std::vector<LineSpec> lines(30, LineSpec{u"q"_qs, {u"u"_qs}});
    TestRun run = makeRun(lines, Collation::program());
    for (bool hard : {false, true}) {
        int asked = 0;
        const Outcome o = runWith(referenceEngine(), run, hard, 1, Collation::program(),
                                  [&] { return ++asked > 10; });
        EXPECT_EQ(o.done, 10);
        EXPECT_EQ(o.status, gsProcess);
    }
}

// A stop asked after the main pass: the hard method skips its later passes.
TEST(EngineStop, AStopBeforeTheBucketPassSkipsIt) {
    const std::vector<LineSpec> lines = {{u"a"_qs, {u"1"_qs}}, {u"b"_qs, {u"1"_qs}}};
    for (const Engine& engine : {referenceEngine(), fastEngine()}) {
        TestRun run = makeRun(lines, Collation::program());
        bool stop = false;
        TStringListDynArray groups;
        GroupingProgress progress;
        // The progress counter reaching the total marks the end of the main pass.
        engine(
            run.work, groups, true, 1, progress,
            [&] {
                if (progress.FSuccessIterations.load() == 2) {
                    stop = true;
                }
                return stop;
            },
            Collation::program());
        EXPECT_EQ(progress.FStatus.load(), gsProcess);
        EXPECT_TRUE(groups.empty());
    }
}
