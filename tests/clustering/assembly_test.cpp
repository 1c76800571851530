#include "clustering/assembly.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

// Groups from lists; an empty list stands for a null slot.
TStringListDynArray groupsOf(const std::vector<QStringList>& lists) {
    TStringListDynArray out;
    for (const QStringList& l : lists) {
        out.push_back(l.isEmpty() ? nullptr : std::make_unique<QStringList>(l));
    }
    return out;
}

std::vector<QStringList> listsOf(const TStringListDynArray& groups) {
    std::vector<QStringList> out;
    for (const auto& g : groups) {
        out.push_back(g ? *g : QStringList{u"<null>"_qs});
    }
    return out;
}

}  // namespace

TEST(Assembly, OrdersBySizeAndGathersSingleQueriesInTheBucket) {
    TStringListDynArray groups = groupsOf({{u"ccc"_qs, u"c"_qs, u"cc"_qs},
                                           {u"single one"_qs},
                                           {u"e1"_qs, u"e2"_qs, u"e"_qs, u"e4"_qs, u"e5"_qs},
                                           {},
                                           {u"bb"_qs, u"b"_qs},
                                           {u"single two"_qs}});
    QStringList names;
    const ClusterList clusters = assembleClusters(groups, &names);
    const ClusterList want = {
        {u"e"_qs, {u"e1"_qs, u"e2"_qs, u"e"_qs, u"e4"_qs, u"e5"_qs}},
        {u"c"_qs, {u"ccc"_qs, u"c"_qs, u"cc"_qs}},
        {u"b"_qs, {u"bb"_qs, u"b"_qs}},
        {unsortedCaption(), {u"single one"_qs, u"single two"_qs}},
    };
    EXPECT_EQ(clusters, want);
    // The groups themselves are compacted and left in the same order, captions beside them.
    EXPECT_EQ(listsOf(groups),
              (std::vector<QStringList>{{u"e1"_qs, u"e2"_qs, u"e"_qs, u"e4"_qs, u"e5"_qs},
                                        {u"ccc"_qs, u"c"_qs, u"cc"_qs},
                                        {u"bb"_qs, u"b"_qs},
                                        {u"single one"_qs},
                                        {u"single two"_qs}}));
    EXPECT_EQ(names, (QStringList{u"e"_qs, u"c"_qs, u"b"_qs, u"single one"_qs, u"single two"_qs}));
    EXPECT_EQ(unsortedCaption(), u"[ неотсортированные ]"_qs);
}

TEST(Assembly, EqualSizesKeepTheirOrder) {
    TStringListDynArray groups = groupsOf({{u"x1"_qs, u"x2"_qs},
                                           {},
                                           {u"y1"_qs, u"y2"_qs},
                                           {u"z1"_qs, u"z2"_qs, u"z3"_qs},
                                           {u"w1"_qs, u"w2"_qs}});
    const ClusterList clusters = assembleClusters(groups);
    ASSERT_EQ(clusters.size(), 4u);
    EXPECT_EQ(clusters[0].caption, u"z1"_qs);
    EXPECT_EQ(clusters[1].caption, u"x1"_qs);
    EXPECT_EQ(clusters[2].caption, u"y1"_qs);
    EXPECT_EQ(clusters[3].caption, u"w1"_qs);
}

// The shortest line in UTF-16 units; the first of equally short ones.
TEST(Assembly, CaptionIsTheFirstShortestLine) {
    struct Case {
        QStringList lines;
        QString caption;
    };
    const std::vector<Case> cases = {
        {{u"twelve chars"_qs, u"five!"_qs, u"nine char"_qs}, u"five!"_qs},
        {{u"long one"_qs, u"abc"_qs, u"xyz"_qs}, u"abc"_qs},
        {{u"😀😀"_qs, u"abc"_qs}, u"abc"_qs},  // two surrogate pairs are four units
        {{u"😀a"_qs, u"abc"_qs}, u"😀a"_qs},   // three units each: the first wins
        {{u"кофе"_qs, u"tea"_qs}, u"tea"_qs},
    };
    for (const Case& c : cases) {
        TStringListDynArray groups = groupsOf({c.lines});
        const ClusterList clusters = assembleClusters(groups);
        ASSERT_EQ(clusters.size(), 1u);
        EXPECT_EQ(clusters[0].caption, c.caption) << c.lines.join(u',').toStdString();
        EXPECT_EQ(clusters[0].phrases, c.lines);
    }
}

TEST(Assembly, BucketOnlyWhenThereAreSingleQueries) {
    {
        TStringListDynArray groups = groupsOf({{u"a"_qs, u"b"_qs}, {}, {u"c"_qs, u"dd"_qs}});
        const ClusterList clusters = assembleClusters(groups);
        ASSERT_EQ(clusters.size(), 2u);
        EXPECT_NE(clusters.back().caption, unsortedCaption());
    }
    {
        TStringListDynArray groups = groupsOf({{u"q2"_qs}, {}, {u"q1"_qs}});
        const ClusterList clusters = assembleClusters(groups);
        EXPECT_EQ(clusters, (ClusterList{{unsortedCaption(), {u"q2"_qs, u"q1"_qs}}}));
    }
    {
        TStringListDynArray groups = groupsOf({{}, {}});
        EXPECT_TRUE(assembleClusters(groups).empty());
        EXPECT_TRUE(groups.empty());
    }
    {
        TStringListDynArray groups;
        QStringList names{u"old"_qs};
        EXPECT_TRUE(assembleClusters(groups, &names).empty());
        EXPECT_TRUE(names.isEmpty());
    }
}
