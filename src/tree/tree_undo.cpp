#include "tree/tree_undo.h"

#include <QUndoStack>

namespace kelvara {

TreeEditCommand::TreeEditCommand(ClusterTreeModel& model, TreeViewMemory* view, TreeChange change,
                                 TreeViewState before, TreeViewState after)
    : model_(&model),
      view_(view),
      change_(std::move(change)),
      before_(std::move(before)),
      after_(std::move(after)) {}

void TreeEditCommand::undo() {
    model_->applyChange(change_, false);
    done_ = false;
    if (view_) {
        view_->restoreViewState(before_);
    }
}

void TreeEditCommand::redo() {
    if (done_) {
        return;  // pushed after the action itself
    }
    model_->applyChange(change_, true);
    done_ = true;
    if (view_) {
        view_->restoreViewState(after_);
    }
}

ReplaceTreeCommand::ReplaceTreeCommand(ClusterTreeModel& model, TreeViewMemory* view,
                                       std::vector<std::unique_ptr<TreeNode>> other,
                                       const ResultStore* otherStore, TreeViewState before)
    : model_(&model),
      view_(view),
      other_(std::move(other)),
      otherStore_(otherStore),
      before_(std::move(before)) {}

void ReplaceTreeCommand::exchange(const TreeViewState& state) {
    const ResultStore* shown = model_->resultStore();
    model_->setResultStore(otherStore_);
    otherStore_ = shown;
    other_ = model_->exchangeClusters(std::move(other_));
    if (view_) {
        view_->restoreViewState(state);
    }
}

void editTree(QUndoStack* stack, ClusterTreeModel& model, TreeViewMemory* view,
              const std::function<void()>& action) {
    if (!stack) {
        action();
        return;
    }
    TreeViewState before = view ? view->saveViewState() : TreeViewState();
    TreeChangeRecorder recorder(model);
    action();
    TreeChange change = recorder.finish();
    if (change.empty()) {
        return;
    }
    TreeViewState after = view ? view->saveViewState() : TreeViewState();
    stack->push(
        new TreeEditCommand(model, view, std::move(change), std::move(before), std::move(after)));
}

void replaceTree(QUndoStack* stack, ClusterTreeModel& model, TreeViewMemory* view,
                 const ClusterList& clusters, const ResultStore* store) {
    if (!stack) {
        model.setResultStore(store);
        model.fillTree(clusters);
        return;
    }
    TreeViewState before = view ? view->saveViewState() : TreeViewState();
    // Pushing makes the exchange.
    stack->push(new ReplaceTreeCommand(model, view, ClusterTreeModel::makeNodes(clusters), store,
                                       std::move(before)));
}

}  // namespace kelvara
