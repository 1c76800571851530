#include "tree/cluster_tree_model.h"

#include "clustering/main_pages.h"

#include <algorithm>
#include <iterator>

namespace kelvara {

const std::array<ColumnSpec, tcColumnCount>& columnSpecs() {
    static const std::array<ColumnSpec, tcColumnCount> specs = {{
        {u"Кластер / Фраза", {}, 270, 0, 0, true, Qt::AlignLeft | Qt::AlignVCenter},
        {{}, {}, 19, 19, 19, false, Qt::AlignCenter},
        {u"Кол-во", {}, 50, 50, 50, false, Qt::AlignLeft | Qt::AlignVCenter},
        {u"Главных", u"Число главных страниц по ТОП", 60, 60, 0, true,
         Qt::AlignLeft | Qt::AlignVCenter},
    }};
    return specs;
}

QString formatCountText(int clusters, int phrases) {
    return QStringLiteral("Кластеров: %1, запросов: %2").arg(clusters).arg(phrases);
}

ClusterTreeModel::ClusterTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

ClusterTreeModel::~ClusterTreeModel() = default;

bool ClusterTreeModel::isUnsortedBucket(const TreeNode& node) {
    return node.isCluster() && node.Data.Caption == unsortedCaption();
}

std::vector<std::unique_ptr<TreeNode>> ClusterTreeModel::makeNodes(const ClusterList& list) {
    std::vector<std::unique_ptr<TreeNode>> clusters;
    clusters.reserve(list.size());
    for (const Cluster& c : list) {
        auto cluster = std::make_unique<TreeNode>();
        cluster->Data.Caption = c.caption;
        cluster->row = int(clusters.size());
        cluster->children.reserve(size_t(c.phrases.size()));
        for (const QString& p : c.phrases) {
            auto phrase = std::make_unique<TreeNode>();
            phrase->Data.Caption = p;
            phrase->parent = cluster.get();
            phrase->row = int(cluster->children.size());
            cluster->children.push_back(std::move(phrase));
        }
        clusters.push_back(std::move(cluster));
    }
    return clusters;
}

void ClusterTreeModel::fillTree(const ClusterList& list) {
    Q_ASSERT(!recorder_ && !inBatch_);
    Q_EMIT nodesDiscarded();
    exchangeClusters(makeNodes(list));
}

std::vector<std::unique_ptr<TreeNode>> ClusterTreeModel::exchangeClusters(
    std::vector<std::unique_ptr<TreeNode>> clusters) {
    Q_ASSERT(!recorder_ && !inBatch_);
    beginResetModel();
    clusters_.swap(clusters);
    phrases_ = 0;
    for (const auto& c : clusters_) {
        phrases_ += c->childCount();
    }
    endResetModel();
    publishCounts();
    return clusters;
}

ClusterList ClusterTreeModel::content() const {
    ClusterList out;
    out.reserve(clusters_.size());
    for (const auto& c : clusters_) {
        Cluster cl{c->Data.Caption, {}};
        cl.phrases.reserve(c->childCount());
        for (const auto& p : c->children) {
            cl.phrases.append(p->Data.Caption);
        }
        out.push_back(std::move(cl));
    }
    return out;
}

void ClusterTreeModel::setWeakPhrases(QSet<QString> phrases) {
    if (phrases == weak_) {
        return;  // the common case after a run with the marks off: nothing to repaint
    }
    weak_ = std::move(phrases);
    for (const auto& c : clusters_) {
        if (!c->children.empty()) {
            Q_EMIT dataChanged(
                createIndex(0, tcCaption, c->children.front().get()),
                createIndex(c->childCount() - 1, tcCaption, c->children.back().get()), {WeakRole});
        }
    }
}

void ClusterTreeModel::notifyResultsChanged() {
    if (clusters_.empty()) {
        return;
    }
    Q_EMIT dataChanged(index(0, tcMainPages), index(GetClusterCount() - 1, tcMainPages),
                       {Qt::DisplayRole});
    for (const auto& c : clusters_) {
        if (!c->children.empty()) {
            Q_EMIT dataChanged(
                createIndex(0, tcMainPages, c->children.front().get()),
                createIndex(c->childCount() - 1, tcMainPages, c->children.back().get()),
                {Qt::DisplayRole});
        }
    }
}

void ClusterTreeModel::publishCounts() {
    if (inBatch_ || (shownClusters_ == GetClusterCount() && shownPhrases_ == phrases_)) {
        return;
    }
    shownClusters_ = GetClusterCount();
    shownPhrases_ = phrases_;
    Q_EMIT countTextChanged(countText());
}

TreeNode* ClusterTreeModel::nodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    return static_cast<TreeNode*>(index.internalPointer());
}

QModelIndex ClusterTreeModel::indexOf(const TreeNode* node, int column) const {
    if (!node) {
        return {};
    }
    return createIndex(node->row, column, const_cast<TreeNode*>(node));
}

TreeNode* ClusterTreeModel::appendCluster(const QString& caption) {
    Q_ASSERT(!inBatch_);
    noteChildren(nullptr);
    const int row = GetClusterCount();
    beginInsertRows({}, row, row);
    auto node = std::make_unique<TreeNode>();
    node->Data.Caption = caption;
    node->row = row;
    TreeNode* raw = node.get();
    clusters_.push_back(std::move(node));
    endInsertRows();
    publishCounts();
    return raw;
}

bool ClusterTreeModel::setCaption(TreeNode* cluster, const QString& text) {
    if (!cluster || !cluster->isCluster()) {
        return false;
    }
    noteCaption(cluster);
    cluster->Data.Caption = text;
    // "Главных" follows the caption, so the whole row is repainted.
    Q_EMIT dataChanged(indexOf(cluster, tcCaption), indexOf(cluster, tcMainPages));
    return true;
}

void ClusterTreeModel::toggleCheck(TreeNode* node, bool checked) {
    noteCheck(node);
    for (const auto& child : node->children) {
        noteCheck(child.get());
    }
    node->checked = checked;
    const QModelIndex at = indexOf(node);
    Q_EMIT dataChanged(at, at, {Qt::CheckStateRole});
    if (node->children.empty()) {
        return;
    }
    // Down one level only, and no further notifications of the children's own.
    for (const auto& child : node->children) {
        child->checked = checked;
    }
    Q_EMIT dataChanged(indexOf(node->children.front().get()), indexOf(node->children.back().get()),
                       {Qt::CheckStateRole});
}

QModelIndex ClusterTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= tcColumnCount) {
        return {};
    }
    if (!parent.isValid()) {
        return row < GetClusterCount() ? createIndex(row, column, clusters_[size_t(row)].get())
                                       : QModelIndex();
    }
    const TreeNode* p = nodeOf(parent);
    if (!p || !p->isCluster() || parent.column() != 0 || row >= p->childCount()) {
        return {};
    }
    return createIndex(row, column, p->children[size_t(row)].get());
}

QModelIndex ClusterTreeModel::parent(const QModelIndex& child) const {
    const TreeNode* n = nodeOf(child);
    if (!n || !n->parent) {
        return {};
    }
    return createIndex(n->parent->row, 0, n->parent);
}

QModelIndex ClusterTreeModel::sibling(int row, int column, const QModelIndex& idx) const {
    if (idx.isValid() && row == idx.row() && column >= 0 && column < tcColumnCount) {
        return createIndex(row, column, idx.internalPointer());
    }
    return QAbstractItemModel::sibling(row, column, idx);
}

int ClusterTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return GetClusterCount();
    }
    if (parent.column() != 0) {
        return 0;
    }
    const TreeNode* n = nodeOf(parent);
    return n ? n->childCount() : 0;
}

int ClusterTreeModel::columnCount(const QModelIndex&) const {
    return tcColumnCount;
}

bool ClusterTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant ClusterTreeModel::mainPagesText(const TreeNode& node) const {
    const QString& caption = node.Data.Caption;
    if (caption == unsortedCaption()) {
        return QStringLiteral("0");
    }
    if (caption.isEmpty() || !store_) {
        return {};
    }
    // A caption that is no known query (a renamed or new cluster) has nothing to count.
    const std::optional<int> n = CountMainPages(*store_, caption);
    return n ? QVariant(QString::number(*n)) : QVariant();
}

QVariant ClusterTreeModel::data(const QModelIndex& index, int role) const {
    const TreeNode* n = nodeOf(index);
    if (!n) {
        return {};
    }
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case tcCaption:
                    return n->Data.Caption;
                case tcCount:
                    return QString::number(n->childCount());
                case tcMainPages:
                    return mainPagesText(*n);
                default:
                    return {};
            }
        case Qt::EditRole:
            return column == tcCaption ? QVariant(n->Data.Caption) : QVariant();
        case Qt::CheckStateRole:
            if (column == tcCaption) {
                return int(n->checked ? Qt::Checked : Qt::Unchecked);
            }
            return {};
        case Qt::TextAlignmentRole:
            return int(columnSpecs()[size_t(column)].alignment);
        case ImageIndexRole:
            if (column == tcLink) {
                return n->isCluster() ? kImageCluster : kImagePhrase;
            }
            return {};
        case BoldRole:
            return n->isCluster();
        case LevelRole:
            return n->level();
        case WeakRole:
            return !n->isCluster() && !weak_.isEmpty() && weak_.contains(n->Data.Caption);
        default:
            return {};
    }
}

bool ClusterTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TreeNode* n = nodeOf(index);
    if (!n || index.column() != tcCaption) {
        return false;
    }
    if (role == Qt::CheckStateRole) {
        toggleCheck(n, value.toInt() == Qt::Checked);
        return true;
    }
    if (role == Qt::EditRole) {
        return setCaption(n, value.toString());
    }
    return false;
}

QVariant ClusterTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= tcColumnCount) {
        return {};
    }
    const ColumnSpec& spec = columnSpecs()[size_t(section)];
    switch (role) {
        case Qt::DisplayRole:
            return spec.header.toString();
        case Qt::ToolTipRole:
            return spec.toolTip.isEmpty() ? QVariant() : QVariant(spec.toolTip.toString());
        default:
            return {};
    }
}

Qt::ItemFlags ClusterTreeModel::flags(const QModelIndex& index) const {
    const TreeNode* n = nodeOf(index);
    if (!n) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == tcCaption) {
        f |= Qt::ItemIsUserCheckable;
    }
    if (n->isCluster()) {
        f |= Qt::ItemIsDropEnabled;
        if (index.column() == tcCaption) {
            f |= Qt::ItemIsEditable;
        }
    } else {
        f |= Qt::ItemNeverHasChildren;
    }
    return f;
}

// --- ClusterTreeBatch ---------------------------------------------------------------------

ClusterTreeBatch::ClusterTreeBatch(ClusterTreeModel& model) : model_(&model) {
    Q_ASSERT(!model.inBatch_);
    // Columns never change, so the horizontal header and the selection may take the cheap
    // row-wise path.
    Q_EMIT model.layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    model.inBatch_ = true;
}

ClusterTreeBatch::~ClusterTreeBatch() {
    commit();
}

void ClusterTreeBatch::markDirty(TreeNode* cluster) {
    dirty_.push_back(cluster);
}

TreeNode* ClusterTreeBatch::appendCluster(const QString& caption) {
    model_->noteChildren(nullptr);
    auto node = std::make_unique<TreeNode>();
    node->Data.Caption = caption;
    node->row = int(model_->clusters_.size());
    TreeNode* raw = node.get();
    model_->clusters_.push_back(std::move(node));
    return raw;
}

void ClusterTreeBatch::movePhrase(TreeNode* phrase, TreeNode* cluster) {
    Q_ASSERT(phrase && !phrase->isCluster() && cluster && cluster->isCluster());
    TreeNode* from = phrase->parent;
    model_->noteChildren(from);
    model_->noteChildren(cluster);
    std::unique_ptr<TreeNode> owned = std::move(from->children[size_t(phrase->row)]);
    markDirty(from);
    phrase->parent = cluster;
    phrase->row = int(cluster->children.size());
    cluster->children.push_back(std::move(owned));
}

void ClusterTreeBatch::setChecked(TreeNode* node, bool checked) {
    model_->noteCheck(node);
    node->checked = checked;
}

void ClusterTreeBatch::removeCluster(TreeNode* cluster) {
    Q_ASSERT(cluster && cluster->isCluster() && !cluster->removed);
    model_->noteChildren(nullptr);
    model_->noteChildren(cluster);
    cluster->removed = true;
    for (const auto& child : cluster->children) {
        if (child) {
            child->removed = true;
            --model_->phrases_;
        }
    }
    removed_.push_back(std::move(model_->clusters_[size_t(cluster->row)]));
    rootDirty_ = true;
}

namespace {

// Drops the empty slots and numbers the rest by position.
void compact(std::vector<std::unique_ptr<TreeNode>>& nodes) {
    nodes.erase(std::remove(nodes.begin(), nodes.end(), nullptr), nodes.end());
    for (size_t i = 0; i < nodes.size(); ++i) {
        nodes[i]->row = int(i);
    }
}

}  // namespace

void ClusterTreeBatch::commit() {
    if (done_) {
        return;
    }
    done_ = true;
    ClusterTreeModel& m = *model_;
    if (rootDirty_) {
        compact(m.clusters_);
    }
    std::sort(dirty_.begin(), dirty_.end());
    dirty_.erase(std::unique(dirty_.begin(), dirty_.end()), dirty_.end());
    // Removed clusters too: an undo step may keep one and bring it back.
    for (TreeNode* c : dirty_) {
        compact(c->children);
    }

    // Removed nodes are still allocated here, so their pointers are safe to look at.
    m.movePersistentIndexes();
    if (m.recorder_) {
        // An undo step brings them back: they are kept, as they are, until it goes.
        auto& held = m.recorder_->change_.held;
        std::move(removed_.begin(), removed_.end(), std::back_inserter(held));
    }
    removed_.clear();

    m.inBatch_ = false;
    Q_EMIT m.layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    m.publishCounts();
}

// --- Recording and replaying changes -------------------------------------------------------

void ClusterTreeModel::movePersistentIndexes() {
    // The views hold persistent indexes (selection, current row, expanded clusters): each goes
    // to its node's new place, or away with a node that left the tree.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& idx : from) {
        const auto* n = static_cast<const TreeNode*>(idx.internalPointer());
        to.append(n->removed ? QModelIndex() : indexOf(n, idx.column()));
    }
    changePersistentIndexList(from, to);
}

namespace {

std::vector<TreeNode*> childList(const std::vector<std::unique_ptr<TreeNode>>& nodes) {
    std::vector<TreeNode*> out;
    out.reserve(nodes.size());
    for (const auto& n : nodes) {
        if (n) {  // a batch leaves gaps until it commits
            out.push_back(n.get());
        }
    }
    return out;
}

}  // namespace

void ClusterTreeModel::noteChildren(TreeNode* cluster) {
    if (recorder_ && recorder_->lists_.insert(cluster).second) {
        recorder_->change_.lists.push_back(
            {cluster, childList(cluster ? cluster->children : clusters_), {}});
    }
}

void ClusterTreeModel::noteCheck(TreeNode* node) {
    if (recorder_ && recorder_->checks_.insert(node).second) {
        recorder_->change_.checks.push_back({node, node->checked, false});
    }
}

void ClusterTreeModel::noteCaption(TreeNode* node) {
    if (recorder_ && recorder_->captions_.insert(node).second) {
        recorder_->change_.captions.push_back({node, node->Data.Caption, {}});
    }
}

TreeChangeRecorder::TreeChangeRecorder(ClusterTreeModel& model) : model_(&model) {
    Q_ASSERT(!model.recorder_ && !model.inBatch_);
    model.recorder_ = this;
}

TreeChangeRecorder::~TreeChangeRecorder() {
    if (model_) {
        model_->recorder_ = nullptr;
    }
}

TreeChange TreeChangeRecorder::finish() {
    Q_ASSERT(model_ && !model_->inBatch_);
    ClusterTreeModel& m = *model_;
    m.recorder_ = nullptr;
    model_ = nullptr;
    TreeChange& c = change_;
    for (auto& l : c.lists) {
        l.after = childList(l.cluster ? l.cluster->children : m.clusters_);
    }
    std::erase_if(c.lists, [](const TreeChange::Children& l) { return l.before == l.after; });
    for (auto& k : c.checks) {
        k.after = k.node->checked;
    }
    std::erase_if(c.checks, [](const TreeChange::Check& k) { return k.before == k.after; });
    for (auto& k : c.captions) {
        k.after = k.node->Data.Caption;
    }
    std::erase_if(c.captions, [](const TreeChange::Caption& k) { return k.before == k.after; });
    return std::move(c);
}

void ClusterTreeModel::applyChange(TreeChange& change, bool forward) {
    Q_ASSERT(!recorder_ && !inBatch_);
    const bool structural = !change.lists.empty();
    if (structural) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        // Every node of the touched lists and every held node is taken out; the lists are then
        // built again in the wanted order. A node is marked removed while it is out, so what is
        // still marked at the end has left the tree.
        std::vector<TreeNode*> loose;
        auto takeOut = [&loose](std::vector<std::unique_ptr<TreeNode>>& nodes) {
            for (auto& n : nodes) {
                if (n) {
                    n->removed = true;
                    loose.push_back(n.release());
                }
            }
            nodes.clear();
        };
        for (const auto& l : change.lists) {
            takeOut(l.cluster ? l.cluster->children : clusters_);
        }
        const size_t firstHeld = loose.size();
        takeOut(change.held);
        for (const auto& l : change.lists) {
            auto& nodes = l.cluster ? l.cluster->children : clusters_;
            const std::vector<TreeNode*>& order = forward ? l.after : l.before;
            nodes.reserve(order.size());
            for (TreeNode* n : order) {
                n->parent = l.cluster;
                n->row = int(nodes.size());
                n->removed = false;
                nodes.emplace_back(n);
            }
        }
        // A cluster that comes back brings the phrases it kept; one that leaves takes its own.
        for (size_t i = firstHeld; i < loose.size(); ++i) {
            if (!loose[i]->removed) {
                for (const auto& p : loose[i]->children) {
                    p->removed = false;
                }
            }
        }
        for (TreeNode* n : loose) {
            if (n->removed) {
                for (const auto& p : n->children) {
                    p->removed = true;
                }
                change.held.emplace_back(n);
            }
        }
        phrases_ = 0;
        for (const auto& c : clusters_) {
            phrases_ += c->childCount();
        }
    }
    for (const auto& k : change.checks) {
        k.node->checked = forward ? k.after : k.before;
    }
    for (const auto& k : change.captions) {
        k.node->Data.Caption = forward ? k.after : k.before;
    }
    if (structural) {
        movePersistentIndexes();
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        publishCounts();
        return;
    }
    for (const auto& k : change.checks) {
        const QModelIndex at = indexOf(k.node);
        Q_EMIT dataChanged(at, at, {Qt::CheckStateRole});
    }
    for (const auto& k : change.captions) {
        Q_EMIT dataChanged(indexOf(k.node, tcCaption), indexOf(k.node, tcMainPages));
    }
}

}  // namespace kelvara
