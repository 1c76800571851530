#pragma once

#include "tree/cluster_tree_model.h"

#include <QUndoCommand>

#include <functional>
#include <memory>
#include <vector>

class QUndoStack;

namespace kelvara {

// What a view shows of the tree beside the nodes themselves. An undo step brings it back as it
// was before the edit, a redo as it was after.
struct TreeViewState {
    std::vector<const TreeNode*> expanded;  // clusters
    std::vector<const TreeNode*> selected;  // rows
    const TreeNode* current = nullptr;
};

// Implemented by a view of the tree; the steps below call it around their changes.
class TreeViewMemory {
public:
    virtual TreeViewState saveViewState() const = 0;
    virtual void restoreViewState(const TreeViewState& state) = 0;

protected:
    ~TreeViewMemory() = default;
};

// One user action on the tree as an undo step. Its first redo() does nothing: the action was
// done while it was recorded.
class TreeEditCommand : public QUndoCommand {
public:
    TreeEditCommand(ClusterTreeModel& model, TreeViewMemory* view, TreeChange change,
                    TreeViewState before, TreeViewState after);
    void undo() override;
    void redo() override;

private:
    ClusterTreeModel* model_;
    TreeViewMemory* view_;
    TreeChange change_;
    TreeViewState before_;
    TreeViewState after_;
    bool done_ = true;
};

// A run's new tree in place of the edited one, as an undo step: the two trees are exchanged
// whole, together with the store their main pages are counted from.
class ReplaceTreeCommand : public QUndoCommand {
public:
    ReplaceTreeCommand(ClusterTreeModel& model, TreeViewMemory* view,
                       std::vector<std::unique_ptr<TreeNode>> other, const ResultStore* otherStore,
                       TreeViewState before);
    void undo() override { exchange(before_); }
    void redo() override { exchange({}); }  // a new tree shows collapsed, nothing selected

private:
    void exchange(const TreeViewState& state);

    ClusterTreeModel* model_;
    TreeViewMemory* view_;
    std::vector<std::unique_ptr<TreeNode>> other_;  // the tree that is not shown
    const ResultStore* otherStore_;
    TreeViewState before_;
};

// Runs one user action on the model and pushes what it changed onto the stack as one step;
// nothing is pushed when it changed nothing. Without a stack (view, null too) the action only
// runs.
void editTree(QUndoStack* stack, ClusterTreeModel& model, TreeViewMemory* view,
              const std::function<void()>& action);

// Shows a run's clusters, their main pages counted from `store`; with a stack the tree it
// replaces comes back on undo, without one it is freed.
void replaceTree(QUndoStack* stack, ClusterTreeModel& model, TreeViewMemory* view,
                 const ClusterList& clusters, const ResultStore* store);

}  // namespace kelvara
