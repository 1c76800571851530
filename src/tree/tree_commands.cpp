#include "tree/tree_commands.h"

#include <algorithm>
#include <utility>

namespace kelvara {

namespace {

// Position in tree order: the cluster's row, then -1 for the cluster itself or the phrase's row.
std::pair<int, int> treeOrderKey(const TreeNode* n) {
    return n->isCluster() ? std::pair(n->row, -1) : std::pair(n->parent->row, n->row);
}

std::vector<TreeNode*> phrasesOnly(std::vector<TreeNode*> nodes) {
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [](const TreeNode* n) { return n->isCluster(); }),
                nodes.end());
    return nodes;
}

std::vector<TreeNode*> checkedPhrases(const ClusterTreeModel& model) {
    std::vector<TreeNode*> out;
    for (const auto& c : model.clusters()) {
        for (const auto& p : c->children) {
            if (p->checked) {
                out.push_back(p.get());
            }
        }
    }
    return out;
}

}  // namespace

std::vector<TreeNode*> selectedNodes(const ClusterTreeModel& model,
                                     const QModelIndexList& selection) {
    std::vector<TreeNode*> nodes;
    nodes.reserve(size_t(selection.size()));
    for (const QModelIndex& idx : selection) {
        if (TreeNode* n = model.nodeOf(idx)) {
            nodes.push_back(n);
        }
    }
    std::sort(nodes.begin(), nodes.end(), [](const TreeNode* a, const TreeNode* b) {
        return treeOrderKey(a) < treeOrderKey(b);
    });
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    // Sorted, a selected cluster comes right before its own phrases.
    std::vector<TreeNode*> out;
    out.reserve(nodes.size());
    const TreeNode* lastCluster = nullptr;
    for (TreeNode* n : nodes) {
        if (n->isCluster()) {
            lastCluster = n;
        } else if (n->parent == lastCluster) {
            continue;
        }
        out.push_back(n);
    }
    return out;
}

TreeNode* firstSelected(const ClusterTreeModel& model, const QModelIndexList& selection) {
    TreeNode* first = nullptr;
    for (const QModelIndex& idx : selection) {
        TreeNode* n = model.nodeOf(idx);
        if (n && (!first || treeOrderKey(n) < treeOrderKey(first))) {
            first = n;
        }
    }
    return first;
}

std::vector<TreeNode*> checkedNodes(const ClusterTreeModel& model) {
    std::vector<TreeNode*> out;
    for (const auto& c : model.clusters()) {
        if (c->checked) {
            out.push_back(c.get());
        }
        for (const auto& p : c->children) {
            if (p->checked) {
                out.push_back(p.get());
            }
        }
    }
    return out;
}

TreeNode* findUnsortedBucket(const ClusterTreeModel& model) {
    for (const auto& c : model.clusters()) {
        if (ClusterTreeModel::isUnsortedBucket(*c)) {
            return c.get();
        }
    }
    return nullptr;
}

QString newClusterCaption(int number) {
    return QStringLiteral("Новая категория #%1").arg(number);
}

PopupMenuState PopupMenu1Popup(const ClusterTreeModel& model, const QModelIndexList& selection) {
    PopupMenuState s;
    const TreeNode* first = firstSelected(model, selection);
    s.moveSelectedVisible = first && !first->isCluster();
    s.renameEnabled = first && first->isCluster();
    s.deleteSelectedEnabled = first && first->isCluster();
    for (const auto& c : model.clusters()) {
        s.deleteCheckedEnabled = s.deleteCheckedEnabled || c->checked;
        if (!s.moveCheckedVisible) {
            s.moveCheckedVisible = std::any_of(c->children.begin(), c->children.end(),
                                               [](const auto& p) { return p->checked; });
        }
        if (s.deleteCheckedEnabled && s.moveCheckedVisible) {
            break;
        }
    }
    s.targets.reserve(model.clusters().size() + 1);
    s.targets.push_back({newClusterItemCaption(), kImageNewPage, {}, true});
    for (const auto& c : model.clusters()) {
        s.targets.push_back({c->Data.Caption, kImageFolder, model.indexOf(c.get()), false});
    }
    return s;
}

bool RenameCluster(ClusterTreeModel& model, const QModelIndex& cluster, const QString& text) {
    return model.setCaption(model.nodeOf(cluster), text);
}

int DeleteClusters(ClusterTreeModel& model, const QModelIndexList& selection, bool Selected,
                   const std::function<bool()>& confirm) {
    TreeNode* bucket = findUnsortedBucket(model);
    const std::vector<TreeNode*> candidates =
        Selected ? selectedNodes(model, selection) : checkedNodes(model);
    if (candidates.empty() || (confirm && !confirm())) {
        return 0;
    }
    int deleted = 0;
    ClusterTreeBatch batch(model);
    std::vector<TreeNode*> phrases;
    for (TreeNode* c : candidates) {
        if (!c->isCluster()) {
            continue;
        }
        phrases.clear();
        for (const auto& p : c->children) {
            if (p) {
                phrases.push_back(p.get());
            }
        }
        // The bucket itself is emptied into a fresh one at the end of the tree.
        if (!phrases.empty() && (!bucket || c == bucket)) {
            bucket = batch.appendCluster(unsortedCaption());
        }
        for (TreeNode* p : phrases) {
            batch.movePhrase(p, bucket);
        }
        batch.removeCluster(c);
        if (c == bucket) {
            bucket = nullptr;  // an empty bucket went: the next phrases need a new one
        }
        ++deleted;
    }
    batch.commit();
    return deleted;
}

QModelIndex MovePhrases(ClusterTreeModel& model, const QModelIndex& target,
                        const QModelIndexList& selection, bool Selected) {
    TreeNode* to = nullptr;
    if (target.isValid()) {
        to = model.nodeOf(target);
        if (!to || !to->isCluster()) {
            return {};
        }
    } else {
        // Numbered by the cluster count with the new one, so two clusters may share a name.
        to = model.appendCluster(newClusterCaption(model.GetClusterCount() + 1));
    }
    const std::vector<TreeNode*> moving =
        Selected ? phrasesOnly(selectedNodes(model, selection)) : checkedPhrases(model);
    if (!moving.empty()) {
        ClusterTreeBatch batch(model);
        for (TreeNode* p : moving) {
            if (!Selected) {
                batch.setChecked(p, false);
            }
            batch.movePhrase(p, to);
        }
    }
    return model.indexOf(to);
}

bool dropAllowed(const ClusterTreeModel& model, const QModelIndex& under,
                 const QModelIndexList& selection) {
    const TreeNode* target = model.nodeOf(under);
    if (!target || !target->isCluster()) {
        return false;
    }
    const TreeNode* first = firstSelected(model, selection);
    return first && !first->isCluster();
}

int dropPhrases(ClusterTreeModel& model, const QModelIndex& target,
                const QModelIndexList& selection) {
    if (!dropAllowed(model, target, selection)) {
        return 0;
    }
    TreeNode* to = model.nodeOf(target);
    // While anything is checked, the checked phrases move, whichever rows were dragged.
    std::vector<TreeNode*> moving = checkedPhrases(model);
    if (moving.empty()) {
        moving = phrasesOnly(selectedNodes(model, selection));
    }
    if (moving.empty()) {
        return 0;
    }
    ClusterTreeBatch batch(model);
    for (TreeNode* p : moving) {
        batch.movePhrase(p, to);
        batch.setChecked(p, false);
    }
    return int(moving.size());
}

}  // namespace kelvara
