#include "tree/tree_undo.h"

#include "tree/tree_commands.h"
#include "tree/tree_notation.h"

#include <gtest/gtest.h>
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QUndoStack>

#include <functional>

using namespace kelvara;
using namespace kelvara::tree_notation;

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

// Every node in tree order: undo must bring back the very nodes, or the steps below it on the
// stack would name nodes that are gone.
std::vector<const TreeNode*> nodes(const ClusterTreeModel& model) {
    std::vector<const TreeNode*> out;
    for (const auto& c : model.clusters()) {
        out.push_back(c.get());
        for (const auto& p : c->children) {
            out.push_back(p.get());
        }
    }
    return out;
}

// A view's memory whose state is whatever the test says; it notes what it is told to restore.
struct FakeView : TreeViewMemory {
    TreeViewState now;
    std::vector<TreeViewState> restored;
    TreeViewState saveViewState() const override { return now; }
    void restoreViewState(const TreeViewState& state) override {
        restored.push_back(state);
        now = state;
    }
};

class TreeUndoTest : public ::testing::Test {
protected:
    ClusterTreeModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QUndoStack stack;
    FakeView view;

    void edit(const std::function<void()>& action) { editTree(&stack, model, &view, action); }
};

using Action = std::function<void(ClusterTreeModel&)>;

struct UndoCase {
    const char* name;
    const char* tree;
    Action action;
    const char* after;
};

class UndoEachCommandTest : public TreeUndoTest, public ::testing::WithParamInterface<UndoCase> {};

const auto yes = [] { return true; };

}  // namespace

TEST_P(UndoEachCommandTest, UndoAndRedoGiveTheTreesBeforeAndAfter) {
    const UndoCase& c = GetParam();
    setupTree(model, c.tree);
    const QString before = dump(model);
    const auto nodesBefore = nodes(model);
    edit([&] { c.action(model); });
    ASSERT_EQ(dump(model), q(c.after));
    ASSERT_EQ(stack.count(), 1);  // one step, however many nodes it touched
    const auto nodesAfter = nodes(model);
    const QString countsAfter = model.countText();

    QSignalSpy counts(&model, &ClusterTreeModel::countTextChanged);
    stack.undo();
    EXPECT_EQ(dump(model), before);
    EXPECT_EQ(nodes(model), nodesBefore);
    stack.redo();
    EXPECT_EQ(dump(model), q(c.after));
    EXPECT_EQ(nodes(model), nodesAfter);
    EXPECT_EQ(model.countText(), countsAfter);
    stack.undo();
    EXPECT_EQ(dump(model), before);
    EXPECT_EQ(nodes(model), nodesBefore);
    // The counts label follows the tree both ways, unless neither count changed.
    EXPECT_EQ(counts.count(), countsAfter == model.countText() ? 0 : 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UndoEachCommandTest,
    ::testing::Values(
        UndoCase{"Rename", "A(a1) | B(b1)",
                 [](ClusterTreeModel& m) { RenameCluster(m, at(m, "B"), q("")); }, "A(a1) | (b1)"},
        UndoCase{"DeleteSelectedIntoANewBucket", "A(a1, a2) | B(b1) | C(c1)",
                 [](ClusterTreeModel& m) {
                     DeleteClusters(m, select(m, {"A", "C"}), true, yes);
                 },
                 "B(b1) | [U](a1, a2, c1)"},
        UndoCase{"DeleteTheBucketItself", "[U](x*, y) | A(a1)",
                 [](ClusterTreeModel& m) { DeleteClusters(m, select(m, {"[U]"}), true, yes); },
                 "A(a1) | [U](x*, y)"},
        UndoCase{"DeleteCheckedKeepsTheChecksOfTheirPhrases", "A*(a1*, a2) | [U](x) | B*() | C(c1)",
                 [](ClusterTreeModel& m) { DeleteClusters(m, {}, false, yes); },
                 "[U](x, a1*, a2) | C(c1)"},
        UndoCase{"MoveSelectedToACluster", "A(a1, a2) | B(b1) | C(c1)",
                 [](ClusterTreeModel& m) {
                     MovePhrases(m, at(m, "C"), select(m, {"B/b1", "A/a1"}), true);
                 },
                 "A(a2) | B() | C(c1, a1, b1)"},
        UndoCase{"MoveCheckedToANewClusterUnchecksThem", "A(a1*, a2) | B(b1*)",
                 [](ClusterTreeModel& m) { MovePhrases(m, {}, {}, false); },
                 "A(a2) | B() | Новая категория #3(a1, b1)"},
        UndoCase{"NewClusterWithNothingToMove", "A(a1)",
                 [](ClusterTreeModel& m) { MovePhrases(m, {}, {}, false); },
                 "A(a1) | Новая категория #2()"},
        UndoCase{"MoveWithinItsOwnCluster", "A(a1, a2, a3)",
                 [](ClusterTreeModel& m) { MovePhrases(m, at(m, "A"), select(m, {"A/a1"}), true); },
                 "A(a2, a3, a1)"},
        UndoCase{"DropTheCheckedPhrases", "A(a1, a2) | B(b1*) | C*(c1*)",
                 [](ClusterTreeModel& m) { dropPhrases(m, at(m, "A"), select(m, {"A/a1"})); },
                 "A(a1, a2, b1, c1) | B() | C*()"},
        UndoCase{"DeleteAfterAMoveInOneAction", "A(a1) | B(b1) | [U]()",
                 [](ClusterTreeModel& m) {
                     MovePhrases(m, at(m, "B"), select(m, {"A/a1"}), true);
                     DeleteClusters(m, select(m, {"B", "[U]"}), true, yes);
                 },
                 "A() | [U](b1, a1)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TreeUndoTest, ActionsThatChangeNothingMakeNoStep) {
    setupTree(model, "A(a1, a2*) | B()");
    edit([&] { DeleteClusters(model, select(model, {"A"}), true, [] { return false; }); });
    edit([&] { DeleteClusters(model, select(model, {"A/a1"}), true, yes); });
    edit([&] { RenameCluster(model, at(model, "A"), q("A")); });  // the input box's cancel
    edit([&] { MovePhrases(model, at(model, "A"), select(model, {"A/a2"}), true); });
    edit([&] { dropPhrases(model, at(model, "B/b1"), select(model, {"A/a1"})); });
    EXPECT_EQ(stack.count(), 0);
    EXPECT_EQ(dump(model), q("A(a1, a2*) | B()"));
}

TEST_F(TreeUndoTest, AHistoryOfEditsAndRunsUndoesAndRedoesInOrder) {
    setupTree(model, "A(a1, a2) | B(b1) | [U](x)");
    ResultStore first, second;
    model.setResultStore(&first);
    std::vector<QString> trees{dump(model)};
    auto step = [&](const std::function<void()>& action) {
        edit(action);
        trees.push_back(dump(model));
    };
    step([&] { MovePhrases(model, {}, select(model, {"A/a2"}), true); });
    step([&] { DeleteClusters(model, select(model, {"A", "[U]"}), true, yes); });
    step([&] { RenameCluster(model, at(model, "B"), q("Двери")); });
    // A run replaces the edited tree; the edits go on in the new one.
    replaceTree(&stack, model, &view, {{q("R"), {q("r1"), q("r2")}}}, &second);
    trees.push_back(dump(model));
    EXPECT_EQ(model.resultStore(), &second);
    step([&] { DeleteClusters(model, select(model, {"R"}), true, yes); });
    ASSERT_EQ(stack.count(), 5);
    EXPECT_EQ(trees, (std::vector<QString>{
                         q("A(a1, a2) | B(b1) | [U](x)"),
                         q("A(a1) | B(b1) | [U](x) | Новая категория #4(a2)"),
                         q("B(b1) | Новая категория #4(a2) | [U](x, a1)"),
                         q("Двери(b1) | Новая категория #4(a2) | [U](x, a1)"),
                         q("R(r1, r2)"),
                         q("[U](r1, r2)"),
                     }));

    for (int i = 4; i >= 0; --i) {
        stack.undo();
        EXPECT_EQ(dump(model), trees[size_t(i)]) << i;
        EXPECT_EQ(model.resultStore(), i >= 4 ? &second : &first) << i;
    }
    EXPECT_EQ(model.countText(), q("Кластеров: 3, запросов: 4"));
    for (int i = 1; i <= 5; ++i) {
        stack.redo();
        EXPECT_EQ(dump(model), trees[size_t(i)]) << i;
    }
    EXPECT_EQ(model.resultStore(), &second);

    // An edit after an undo drops the steps that were undone, and the nodes only they held.
    stack.setIndex(2);
    step([&] { MovePhrases(model, at(model, "B"), select(model, {"[U]/x"}), true); });
    EXPECT_EQ(stack.count(), 3);
    stack.undo();
    stack.undo();
    stack.undo();
    EXPECT_EQ(dump(model), trees[0]);
}

TEST_F(TreeUndoTest, TheViewGetsBackWhatItShowedBeforeAndAfter) {
    setupTree(model, "A(a1, a2) | B(b1)");
    const TreeNode* a = model.cluster(0);
    const TreeNode* b = model.cluster(1);
    const TreeNode* a2 = a->children[1].get();
    view.now = {{a, b}, {a}, a};
    edit([&] {
        DeleteClusters(model, select(model, {"A"}), true, yes);
        view.now = {{b}, {}, nullptr};  // what the view shows after the edit
    });
    view.now = {{}, {a2}, a2};  // the user went on without an edit
    stack.undo();
    ASSERT_EQ(view.restored.size(), 1u);
    EXPECT_EQ(view.restored[0].expanded, (std::vector<const TreeNode*>{a, b}));
    EXPECT_EQ(view.restored[0].selected, (std::vector<const TreeNode*>{a}));
    EXPECT_EQ(view.restored[0].current, a);
    stack.redo();
    ASSERT_EQ(view.restored.size(), 2u);
    EXPECT_EQ(view.restored[1].expanded, (std::vector<const TreeNode*>{b}));
    EXPECT_TRUE(view.restored[1].selected.empty());

    // A run's tree shows collapsed; undo gives the view its state on the edited tree.
    view.now = {{b}, {a2}, a2};
    replaceTree(&stack, model, &view, {{q("R"), {q("r1")}}}, nullptr);
    EXPECT_TRUE(view.now.expanded.empty() && view.now.selected.empty() && !view.now.current);
    stack.undo();
    EXPECT_EQ(view.now.expanded, (std::vector<const TreeNode*>{b}));
    EXPECT_EQ(view.now.selected, (std::vector<const TreeNode*>{a2}));
}

TEST_F(TreeUndoTest, PersistentIndexesFollowTheirNodesAndLeaveWithThem) {
    setupTree(model, "A(a1) | B(b1)");
    const QPersistentModelIndex b1(at(model, "B/b1"));
    edit([&] { DeleteClusters(model, select(model, {"B"}), true, yes); });
    const QPersistentModelIndex bucket(at(model, "[U]"));
    const QPersistentModelIndex moved(at(model, "[U]/b1"));
    EXPECT_EQ(b1, moved);  // the same node, at its new place
    stack.undo();
    EXPECT_EQ(b1, at(model, "B/b1"));
    EXPECT_FALSE(bucket.isValid());  // the bucket left the tree
    stack.redo();
    EXPECT_EQ(b1, at(model, "[U]/b1"));
}

TEST_F(TreeUndoTest, FillingTheTreeAnnouncesThatItsNodesGo) {
    // The window clears its stack on this, so no step is left naming a freed node.
    setupTree(model, "A(a1)");
    QSignalSpy discarded(&model, &ClusterTreeModel::nodesDiscarded);
    QObject::connect(&model, &ClusterTreeModel::nodesDiscarded, &stack, &QUndoStack::clear);
    edit([&] { RenameCluster(model, at(model, "A"), q("B")); });
    model.fillTree({{q("C"), {}}});
    EXPECT_EQ(discarded.count(), 1);
    EXPECT_EQ(stack.count(), 0);
}
