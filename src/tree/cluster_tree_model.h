#pragma once

#include "clustering/cluster.h"
#include "core/serp_entry.h"

#include <QAbstractItemModel>
#include <QSet>
#include <QString>
#include <QStringView>

#include <array>
#include <memory>
#include <unordered_set>
#include <vector>

namespace kelvara {

// The data every node of the cluster tree carries.
struct TMyNodeData {
    QString Caption;
};

// A node of the cluster tree: a cluster (level 0, no parent) or a phrase (level 1, the child of
// a cluster). Phrases never have children.
struct TreeNode {
    TMyNodeData Data;
    bool checked = false;
    TreeNode* parent = nullptr;  // the cluster of a phrase; null for a cluster
    int row = 0;                 // position among its siblings, kept current by the model
    std::vector<std::unique_ptr<TreeNode>> children;
    bool removed = false;  // set while a batch drops the node, until the views have let go of it

    int level() const { return parent ? 1 : 0; }
    bool isCluster() const { return parent == nullptr; }
    int childCount() const { return int(children.size()); }
};

enum TreeColumn : int {
    tcCaption = 0,  // "Кластер / Фраза": the caption, check box, editing of cluster names
    tcLink = 1,     // the icon that opens the URL list
    tcCount = 2,    // "Кол-во": number of children
    tcMainPages = 3,  // "Главных": main pages among the caption's results
    tcColumnCount = 4
};

// Roles beyond Qt's own, so that the model needs no fonts or icons; the view maps them.
enum TreeRole : int {
    ImageIndexRole = Qt::UserRole + 1,  // int, index into TreeImages (column 1 only)
    BoldRole,                           // bool, the whole row is painted bold (clusters)
    LevelRole,                          // int, 0 for a cluster, 1 for a phrase
    WeakRole,                           // bool, a phrase whose removal would split its cluster
};

// Indexes into TreeImages used by the tree and its menu.
inline constexpr int kImageDelete = 0;
inline constexpr int kImageNewPage = 1;
inline constexpr int kImageMove = 6;
inline constexpr int kImagePhrase = 8;
inline constexpr int kImageFolder = 11;
inline constexpr int kImageRename = 14;
inline constexpr int kImageCluster = 15;

// How the view lays out each column.
struct ColumnSpec {
    QStringView header;
    QStringView toolTip;
    int width;
    int minWidth;
    int maxWidth;    // 0: no maximum
    bool resizable;  // the user may drag the section's edge
    Qt::Alignment alignment;
};
const std::array<ColumnSpec, tcColumnCount>& columnSpecs();

// "Кластеров: %d, запросов: %d".
QString formatCountText(int clusters, int phrases);

// What one edit of the tree changed, enough to take it back and to make it again: the order of
// every child list it touched (the root's too) before and after, and the checks and captions it
// changed. Nodes stay the same objects for as long as any change names them, so the changes of
// later edits stay valid; the nodes that are out of the tree in the current state live here.
struct TreeChange {
    struct Children {
        TreeNode* cluster = nullptr;  // null: the list of clusters itself
        std::vector<TreeNode*> before;
        std::vector<TreeNode*> after;
    };
    struct Check {
        TreeNode* node;
        bool before;
        bool after;
    };
    struct Caption {
        TreeNode* node;
        QString before;
        QString after;
    };
    std::vector<Children> lists;
    std::vector<Check> checks;
    std::vector<Caption> captions;
    std::vector<std::unique_ptr<TreeNode>> held;

    bool empty() const { return lists.empty() && checks.empty() && captions.empty(); }
};

class TreeChangeRecorder;

// The clusters of the last run and the user's edits of them, as a two-level item model.
//
// Structural edits of many nodes (deleting clusters, moving phrases) go through
// ClusterTreeBatch: one layout change for the whole batch, so that their cost grows with the
// change and not with the number of nodes times the number of signals.
class ClusterTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit ClusterTreeModel(QObject* parent = nullptr);
    ~ClusterTreeModel() override;

    // The store that "Главных" is counted from; may be null (the column stays empty).
    void setResultStore(const ResultStore* store) { store_ = store; }
    const ResultStore* resultStore() const { return store_; }
    // Tells the views that the store's results changed, so column 3 is painted afresh.
    void notifyResultsChanged();

    // The phrases to mark as the weak links of their clusters (by caption); empty: none.
    void setWeakPhrases(QSet<QString> phrases);

    // Replaces the whole tree (one model reset); every node starts unchecked and collapsed. The
    // old nodes are freed, so nodesDiscarded() is sent first: undo steps that name them must go.
    void fillTree(const ClusterList& clusters);
    void clear() { fillTree({}); }
    // The nodes of a new tree, for exchangeClusters().
    static std::vector<std::unique_ptr<TreeNode>> makeNodes(const ClusterList& clusters);
    // Puts another tree in place of this one (one model reset) and hands the old one back, its
    // nodes untouched, so that the exchange can be made again the other way.
    std::vector<std::unique_ptr<TreeNode>> exchangeClusters(
        std::vector<std::unique_ptr<TreeNode>> clusters);
    // Makes a recorded change (forward) or takes it back, in one layout change; the nodes that
    // leave the tree go into change.held, those that come back are taken from it.
    void applyChange(TreeChange& change, bool forward);
    // The tree as it is now, in tree order.
    ClusterList content() const;

    // Level-0 nodes, the unsorted bucket and empty clusters included.
    int GetClusterCount() const { return int(clusters_.size()); }
    int phraseCount() const { return phrases_; }
    // The counts label's text; kept current without walking the tree.
    QString countText() const { return formatCountText(GetClusterCount(), phraseCount()); }

    // Nodes and indexes.
    TreeNode* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const TreeNode* node, int column = tcCaption) const;
    TreeNode* cluster(int row) const { return clusters_[size_t(row)].get(); }
    const std::vector<std::unique_ptr<TreeNode>>& clusters() const { return clusters_; }
    static bool isUnsortedBucket(const TreeNode& node);

    // Single-node edits, each with its own change signal.
    TreeNode* appendCluster(const QString& caption);
    // Stores the text as the cluster's caption, unchanged; false for a phrase.
    bool setCaption(TreeNode* cluster, const QString& text);
    // The user's toggle: the node and each of its direct children take the new state.
    void toggleCheck(TreeNode* node, bool checked);

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

Q_SIGNALS:
    // The counts label's text changed (clusters or phrases were added or removed).
    void countTextChanged(const QString& text);
    // fillTree() is about to free every node.
    void nodesDiscarded();

private:
    friend class ClusterTreeBatch;
    friend class TreeChangeRecorder;

    QVariant mainPagesText(const TreeNode& node) const;
    void publishCounts();
    void noteChildren(TreeNode* cluster);
    void noteCheck(TreeNode* node);
    void noteCaption(TreeNode* node);
    void movePersistentIndexes();

    std::vector<std::unique_ptr<TreeNode>> clusters_;
    int phrases_ = 0;
    const ResultStore* store_ = nullptr;
    QSet<QString> weak_;
    bool inBatch_ = false;
    int shownClusters_ = 0;
    int shownPhrases_ = 0;
    TreeChangeRecorder* recorder_ = nullptr;
};

// Records what the model's edits change while it lives, from construction to finish(): every
// edit of ClusterTreeModel and ClusterTreeBatch reports here before it touches a node, and the
// nodes a batch removes are kept instead of freed.
class TreeChangeRecorder {
public:
    explicit TreeChangeRecorder(ClusterTreeModel& model);
    ~TreeChangeRecorder();
    TreeChangeRecorder(const TreeChangeRecorder&) = delete;
    TreeChangeRecorder& operator=(const TreeChangeRecorder&) = delete;

    // Stops recording; what did not change in the end is left out.
    TreeChange finish();

private:
    friend class ClusterTreeModel;
    friend class ClusterTreeBatch;

    ClusterTreeModel* model_;
    TreeChange change_;
    std::unordered_set<const TreeNode*> lists_;  // null stands for the root
    std::unordered_set<const TreeNode*> checks_;
    std::unordered_set<const TreeNode*> captions_;
};

// Restructures the tree inside one layout change. Between construction and commit() (or the
// destructor) rows keep their old numbers and emptied slots; commit() closes the gaps,
// renumbers the touched siblings, moves the views' persistent indexes to the nodes' new places
// (removed nodes lose theirs) and only then frees removed nodes.
class ClusterTreeBatch {
public:
    explicit ClusterTreeBatch(ClusterTreeModel& model);
    ~ClusterTreeBatch();
    ClusterTreeBatch(const ClusterTreeBatch&) = delete;
    ClusterTreeBatch& operator=(const ClusterTreeBatch&) = delete;

    // A new last top-level node, unchecked.
    TreeNode* appendCluster(const QString& caption);
    // Makes the phrase the last child of the cluster (its own cluster too); keeps its check.
    void movePhrase(TreeNode* phrase, TreeNode* cluster);
    // Removes a cluster with whatever phrases it still holds.
    void removeCluster(TreeNode* cluster);
    void setChecked(TreeNode* node, bool checked);

    void commit();

private:
    void markDirty(TreeNode* cluster);

    ClusterTreeModel* model_;
    bool rootDirty_ = false;
    std::vector<TreeNode*> dirty_;  // clusters whose children have gaps
    std::vector<std::unique_ptr<TreeNode>> removed_;
    bool done_ = false;
};

}  // namespace kelvara
