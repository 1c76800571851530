#pragma once

#include "clustering/cluster.h"
#include "core/serp_entry.h"

#include <QAbstractItemModel>
#include <QSet>
#include <QString>
#include <QStringView>

#include <array>
#include <memory>
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

    // Replaces the whole tree (one model reset); every node starts unchecked and collapsed.
    void fillTree(const ClusterList& clusters);
    void clear() { fillTree({}); }
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

private:
    friend class ClusterTreeBatch;

    QVariant mainPagesText(const TreeNode& node) const;
    void publishCounts();

    std::vector<std::unique_ptr<TreeNode>> clusters_;
    int phrases_ = 0;
    const ResultStore* store_ = nullptr;
    QSet<QString> weak_;
    bool inBatch_ = false;
    int shownClusters_ = 0;
    int shownPhrases_ = 0;
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
    void setChecked(TreeNode* node, bool checked) { node->checked = checked; }

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
