#pragma once

#include "tree/cluster_tree_model.h"

#include <QModelIndexList>
#include <QPersistentModelIndex>
#include <QString>

#include <functional>
#include <vector>

namespace kelvara {

// The user's editing commands on the cluster tree. They take the view's selection as a list of
// indexes (any columns, any order) and work on the model alone.

// The selection as the commands see it: in tree order, each phrase left out whose cluster is
// selected too.
std::vector<TreeNode*> selectedNodes(const ClusterTreeModel& model,
                                     const QModelIndexList& selection);
// The first selected node in tree order; null when nothing is selected.
TreeNode* firstSelected(const ClusterTreeModel& model, const QModelIndexList& selection);
// Every checked node of either level, in tree order.
std::vector<TreeNode*> checkedNodes(const ClusterTreeModel& model);
// The first cluster in tree order captioned exactly "[ неотсортированные ]", or null.
TreeNode* findUnsortedBucket(const ClusterTreeModel& model);

// "Новая категория #N".
QString newClusterCaption(int number);
// The first item of both move submenus.
inline QString newClusterItemCaption() {
    return QStringLiteral("Создать новую категорию");
}

// One item of the two move submenus.
struct MoveTarget {
    QString caption;
    int imageIndex = kImageFolder;
    QPersistentModelIndex cluster;  // the target cluster
    bool newCluster = false;        // the item that creates a cluster (no target)
};

// What the context menu shows at one opening (PopupMenu1Popup).
struct PopupMenuState {
    bool renameEnabled = false;          // N2: the first selected node is a cluster
    bool deleteSelectedEnabled = false;  // N1: something is selected and the first is a cluster
    bool deleteCheckedEnabled = false;   // N5: some cluster is checked
    bool moveSelectedVisible = false;    // N3: the first selected node is a phrase
    bool moveCheckedVisible = false;     // N4: some phrase is checked
    // The items of each move submenu: "Создать новую категорию", then every cluster in order.
    std::vector<MoveTarget> targets;
};
PopupMenuState PopupMenu1Popup(const ClusterTreeModel& model, const QModelIndexList& selection);

// Renames a cluster; the text is stored unchanged (empty too). False for a phrase.
bool RenameCluster(ClusterTreeModel& model, const QModelIndex& cluster, const QString& text);

// Deletes the selected (Selected) or checked clusters; their phrases, with their check states,
// go to the end of the unsorted bucket, which is created at the end of the tree when there is
// none (or when the bucket itself is deleted while it holds phrases). Phrases among the
// candidates are skipped. `confirm` is asked once, only when there is a candidate; unless it
// says yes nothing changes. Returns the number of clusters deleted.
int DeleteClusters(ClusterTreeModel& model, const QModelIndexList& selection, bool Selected,
                   const std::function<bool()>& confirm);

// Moves the selected (Selected) or checked phrases, in tree order, to the end of `target`, or
// of a new last cluster "Новая категория #N" (N = GetClusterCount() with it) when target is
// invalid. Checked phrases are unchecked as they are taken; selected ones keep their checks.
// Returns the target cluster's index (the new one), or an invalid index when `target` is a
// phrase.
QModelIndex MovePhrases(ClusterTreeModel& model, const QModelIndex& target,
                        const QModelIndexList& selection, bool Selected);

// Whether a drag of the selection may drop on the row at `under` (vdtListDragOver): a cluster,
// with a phrase first in the selection.
bool dropAllowed(const ClusterTreeModel& model, const QModelIndex& under,
                 const QModelIndexList& selection);
// The drop itself (vdtListDragDrop), for drags that started in this tree: the checked phrases
// if there are any, else the selected phrases, go to the end of `target` and end unchecked.
// Returns the number of phrases moved; nothing happens unless dropAllowed().
int dropPhrases(ClusterTreeModel& model, const QModelIndex& target,
                const QModelIndexList& selection);

}  // namespace kelvara
