#include "tree/tree_commands.h"

#include "tree/tree_notation.h"

#include <gtest/gtest.h>
#include <QAbstractItemModelTester>
#include <QSignalSpy>

using namespace kelvara;
using namespace kelvara::tree_notation;

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

class TreeCommandsTest : public ::testing::Test {
protected:
    ClusterTreeModel model;
    // Every command below also runs under the model checker.
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

struct DeleteCase {
    const char* name;
    const char* tree;
    std::vector<const char*> selection;
    bool selected;
    const char* expected;
    int deleted;
};

class DeleteClustersTest : public TreeCommandsTest,
                           public ::testing::WithParamInterface<DeleteCase> {};

}  // namespace

TEST_P(DeleteClustersTest, PhrasesGoToTheUnsortedBucket) {
    const DeleteCase& c = GetParam();
    setupTree(model, c.tree);
    QModelIndexList sel;
    for (const char* p : c.selection) {
        sel.append(at(model, p));
    }
    int asked = 0;
    const int deleted = DeleteClusters(model, sel, c.selected, [&] {
        ++asked;
        return true;
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(deleted, c.deleted);
    EXPECT_EQ(dump(model), q(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteClustersTest,
    ::testing::Values(
        DeleteCase{"ClusterWithOneOfItsPhrasesSelected",
                   "A(a1, a2) | B(b1) | [U](x)",
                   {"A/a2", "A"},
                   true,
                   "B(b1) | [U](x, a1, a2)",
                   1},
        DeleteCase{"BucketAloneIsReplacedAtTheEnd",
                   "[U](x, y) | A(a1) | B(b1)",
                   {"[U]"},
                   true,
                   "A(a1) | B(b1) | [U](x, y)",
                   1},
        DeleteCase{"EmptyBucketThenClusterWithPhrases",
                   "[U]() | A(a1, a2) | B(b1)",
                   {"A", "[U]"},
                   true,
                   "B(b1) | [U](a1, a2)",
                   2},
        DeleteCase{
            "EmptyClusterWithoutBucketMakesNoBucket", "A() | B(b1)", {"A"}, true, "B(b1)", 1},
        DeleteCase{"NoBucketYet", "A(a1) | B(b1)", {"A"}, true, "B(b1) | [U](a1)", 1},
        DeleteCase{"BucketAndClusterAfterIt",
                   "[U](x) | A(a1) | B(b1)",
                   {"[U]", "A"},
                   true,
                   "B(b1) | [U](x, a1)",
                   2},
        DeleteCase{"ClusterThenBucketHoldingItsPhrases",
                   "A(a1) | [U](x) | B(b1)",
                   {"A", "[U]"},
                   true,
                   "B(b1) | [U](x, a1)",
                   2},
        DeleteCase{"OnlyAnExactCaptionIsTheBucket",
                   "[ Неотсортированные ](x) | A(a1)",
                   {"A"},
                   true,
                   "[ Неотсортированные ](x) | [U](a1)",
                   1},
        // A phrase whose query reads like the bucket's caption is no bucket: phrases never
        // get children.
        DeleteCase{"APhraseIsNeverTheBucket",
                   "A(a1) | B([ неотсортированные ])",
                   {"A"},
                   true,
                   "B([ неотсортированные ]) | [U](a1)",
                   1},
        DeleteCase{"CheckedClustersKeepTheirPhrasesChecks",
                   "A*(a1*, a2*) | B(b1*) | [U](x)",
                   {"B"},
                   false,
                   "B(b1*) | [U](x, a1*, a2*)",
                   1},
        DeleteCase{"SelectedPhrasesAloneDeleteNothing",
                   "A(a1) | B(b1)",
                   {"A/a1", "B/b1"},
                   true,
                   "A(a1) | B(b1)",
                   0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TreeCommandsTest, DeleteAsksOnlyWithCandidatesAndCancelChangesNothing) {
    setupTree(model, "A(a1*) | B(b1)");
    int asked = 0;
    auto no = [&] {
        ++asked;
        return false;
    };
    EXPECT_EQ(DeleteClusters(model, {}, true, no), 0);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(DeleteClusters(model, {}, false, no), 0);  // a checked phrase is a candidate
    EXPECT_EQ(asked, 1);
    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    EXPECT_EQ(DeleteClusters(model, select(model, {"A"}), true, no), 0);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(layouts.count(), 0);
    EXPECT_EQ(dump(model), q("A(a1*) | B(b1)"));
}

TEST_F(TreeCommandsTest, NewClustersAreNumberedByTheClusterCount) {
    setupTree(model, "A(a1) | B(b1) | C(c1) | [U](x)");
    QModelIndex made = MovePhrases(model, {}, select(model, {"A/a1"}), true);
    EXPECT_EQ(model.nodeOf(made), model.cluster(4));
    EXPECT_EQ(dump(model), q("A() | B(b1) | C(c1) | [U](x) | Новая категория #5(a1)"));

    DeleteClusters(model, select(model, {"B"}), true, [] { return true; });
    EXPECT_EQ(dump(model), q("A() | C(c1) | [U](x, b1) | Новая категория #5(a1)"));
    // Nothing checked: the new cluster is made all the same, and gets the same name.
    MovePhrases(model, {}, {}, false);
    EXPECT_EQ(dump(model),
              q("A() | C(c1) | [U](x, b1) | Новая категория #5(a1) | Новая категория #5()"));
    EXPECT_EQ(model.countText(), q("Кластеров: 5, запросов: 4"));
}

TEST_F(TreeCommandsTest, MoveSelectedSkipsClustersAndPhrasesOfSelectedClusters) {
    setupTree(model, "A(a1*, a2) | B(b1, b2) | C()");
    // a1 and a2 go with their selected cluster A, so they stay; the cluster is skipped.
    MovePhrases(model, at(model, "C"), select(model, {"B/b2", "A/a1", "A", "A/a2"}), true);
    EXPECT_EQ(dump(model), q("A(a1*, a2) | B(b1) | C(b2)"));
    // Selected phrases keep their checks; moving into their own cluster puts them at its end.
    MovePhrases(model, at(model, "A"), select(model, {"A/a1"}), true);
    EXPECT_EQ(dump(model), q("A(a2, a1*) | B(b1) | C(b2)"));
    // A phrase is no target.
    EXPECT_FALSE(MovePhrases(model, at(model, "B/b1"), select(model, {"A/a2"}), true).isValid());
    EXPECT_EQ(dump(model), q("A(a2, a1*) | B(b1) | C(b2)"));
}

TEST_F(TreeCommandsTest, MoveCheckedTakesEveryCheckedPhraseAndUnchecksIt) {
    setupTree(model, "A(a1*, a2) | B*(b1*) | C(c1)");
    // Whatever is selected.
    MovePhrases(model, at(model, "C"), select(model, {"A/a2"}), false);
    EXPECT_EQ(dump(model), q("A(a2) | B*() | C(c1, a1, b1)"));
}

TEST_F(TreeCommandsTest, PopupMenuStateFollowsSelectionAndChecks) {
    struct Case {
        const char* tree;
        std::vector<const char*> selection;
        bool rename, deleteSelected, deleteChecked, moveSelected, moveChecked;
    } cases[] = {
        {"A(a1) | B(b1)", {}, false, false, false, false, false},
        {"A(a1) | B(b1)", {"B", "A/a1"}, false, false, false, true, false},  // A/a1 is first
        {"A(a1) | B(b1)", {"A/a1", "A"}, true, true, false, false, false},
        {"A(a1*) | B(b1*)", {"B"}, true, true, false, false, true},  // only phrases checked
        {"A(a1) | B*()", {"B/b1"}, false, false, true, false, false},
        {"A*(a1*) | B()", {"A/a1"}, false, false, true, true, true},
    };
    for (const Case& c : cases) {
        setupTree(model, c.tree);
        QModelIndexList sel;
        for (const char* p : c.selection) {
            sel.append(at(model, p));
        }
        const PopupMenuState s = PopupMenu1Popup(model, sel);
        const std::string where = std::string(c.tree) + " / " + std::to_string(sel.size());
        EXPECT_EQ(s.renameEnabled, c.rename) << where;
        EXPECT_EQ(s.deleteSelectedEnabled, c.deleteSelected) << where;
        EXPECT_EQ(s.deleteCheckedEnabled, c.deleteChecked) << where;
        EXPECT_EQ(s.moveSelectedVisible, c.moveSelected) << where;
        EXPECT_EQ(s.moveCheckedVisible, c.moveChecked) << where;
    }

    // Every cluster is a target, the bucket and the phrases' own cluster too.
    setupTree(model, "A(a1) | [U](x) | B()");
    const PopupMenuState s = PopupMenu1Popup(model, select(model, {"A/a1"}));
    ASSERT_EQ(s.targets.size(), 4u);
    EXPECT_EQ(s.targets[0].caption, q("Создать новую категорию"));
    EXPECT_TRUE(s.targets[0].newCluster);
    EXPECT_EQ(s.targets[0].imageIndex, 1);
    const char* names[] = {"A", "[U]", "B"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s.targets[size_t(i) + 1].caption, captionOf(q(names[i])));
        EXPECT_EQ(s.targets[size_t(i) + 1].imageIndex, 11);
        EXPECT_FALSE(s.targets[size_t(i) + 1].newCluster);
        EXPECT_EQ(s.targets[size_t(i) + 1].cluster, at(model, names[i]));
    }
}

TEST_F(TreeCommandsTest, DropIsAllowedOnlyOnAClusterWithAPhraseFirstInTheSelection) {
    setupTree(model, "A(a1, a2) | B(b1) | C()");
    struct Case {
        const char* under;  // null: the empty area below the rows
        std::vector<const char*> selection;
        bool allowed;
    } cases[] = {
        {"C", {"A/a1"}, true},
        {"A", {"A/a1"}, true},        // its own cluster
        {"B", {"A/a1", "B"}, true},   // a selected cluster is still a target
        {"B/b1", {"A/a1"}, false},    // a phrase row
        {nullptr, {"A/a1"}, false},   // empty space
        {"C", {"A"}, false},          // dragging a cluster
        {"C", {"B/b1", "A"}, false},  // a cluster first in tree order
        {"C", {}, false},             // nothing selected
    };
    for (const Case& c : cases) {
        QModelIndexList sel;
        for (const char* p : c.selection) {
            sel.append(at(model, p));
        }
        const QModelIndex under = c.under ? at(model, c.under) : QModelIndex();
        EXPECT_EQ(dropAllowed(model, under, sel), c.allowed) << (c.under ? c.under : "(none)");
        if (!c.allowed) {
            EXPECT_EQ(dropPhrases(model, under, sel), 0);
        }
    }
    EXPECT_EQ(dump(model), q("A(a1, a2) | B(b1) | C()"));
}

TEST_F(TreeCommandsTest, DropMovesCheckedPhrasesInsteadOfTheDraggedOnes) {
    setupTree(model, "A(a1, a2) | B(b1*) | C*(c1*)");
    EXPECT_EQ(dropPhrases(model, at(model, "A"), select(model, {"A/a1"})), 2);
    EXPECT_EQ(dump(model), q("A(a1, a2, b1, c1) | B() | C*()"));
    // Nothing checked any more: the dragged phrases move, clusters among them stay.
    EXPECT_EQ(dropPhrases(model, at(model, "B"), select(model, {"A/a2", "C", "A/a1"})), 2);
    EXPECT_EQ(dump(model), q("A(b1, c1) | B(a1, a2) | C*()"));
    // On its own cluster: to the end.
    EXPECT_EQ(dropPhrases(model, at(model, "A"), select(model, {"A/b1"})), 1);
    EXPECT_EQ(dump(model), q("A(c1, b1) | B(a1, a2) | C*()"));
}

TEST_F(TreeCommandsTest, RenameStoresTheTextUnchanged) {
    setupTree(model, "A(a1)");
    EXPECT_TRUE(RenameCluster(model, at(model, "A"), q(" ")));
    EXPECT_FALSE(RenameCluster(model, at(model, " /a1"), q("x")));
    EXPECT_EQ(dump(model), q(" (a1)"));
}
