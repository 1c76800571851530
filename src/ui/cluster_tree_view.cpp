#include "ui/cluster_tree_view.h"

#include "ui/dialogs.h"
#include "ui/tree_images.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaProperty>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QUndoStack>
#include <QUuid>

#include <unordered_set>

namespace kelvara {

namespace {

const QString& dragMimeType() {
    static const QString type = QStringLiteral("application/x-kelvara-cluster-tree-rows");
    return type;
}

// Maps the model's own roles to what the style paints: bold cluster rows, the icon of column 1
// centred in its narrow cell, no focus rectangle, rows of the tree's fixed height.
class TreeItemDelegate : public QStyledItemDelegate {
public:
    explicit TreeItemDelegate(ClusterTreeView* view) : QStyledItemDelegate(view), view_(view) {}

    // An accepted in-place edit is a rename like any other, so it can be undone.
    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        const QByteArray property = editor->metaObject()->userProperty().name();
        view_->setCaption(index, editor->property(property.constData()).toString());
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(ClusterTreeView::kRowHeight);
        return s;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        opt.state &= ~QStyle::State_HasFocus;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        if (index.column() != tcLink) {
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
            return;
        }
        opt.features &= ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
        opt.text.clear();
        opt.icon = QIcon();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        const QVariant image = index.data(ImageIndexRole);
        if (image.isValid()) {
            const QRect r =
                QStyle::alignedRect(opt.direction, Qt::AlignCenter,
                                    QSize(TreeImages::kSize, TreeImages::kSize), opt.rect);
            TreeImages::icon(image.toInt()).paint(painter, r);
        }
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(BoldRole).toBool()) {
            option->font.setBold(true);
            option->fontMetrics = QFontMetrics(option->font);
        }
        if (index.column() == tcCaption && index.data(WeakRole).toBool()) {
            option->font.setItalic(true);
            option->fontMetrics = QFontMetrics(option->font);
            option->palette.setColor(QPalette::Text, QColor(190, 0, 0));
        }
    }

private:
    ClusterTreeView* view_;
};

}  // namespace

ClusterTreeView::ClusterTreeView(QWidget* parent)
    : QTreeView(parent), dragToken_(QUuid::createUuid().toByteArray()) {
    setObjectName(QStringLiteral("vdtList"));
    setItemDelegate(new TreeItemDelegate(this));
    setUniformRowHeights(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setExpandsOnDoubleClick(true);
    setIndentation(18);
    setIconSize(QSize(TreeImages::kSize, TreeImages::kSize));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // A click on the selected cluster's caption starts editing after the double-click delay.
    setEditTriggers(QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(false);  // the drop mark is ours: a frame round the target row
    setMouseTracking(true);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);

    // Blended selection: the rows show through it, text keeps its colour.
    QPalette pal = palette();
    QColor highlight = pal.color(QPalette::Highlight);
    highlight.setAlpha(90);
    pal.setColor(QPalette::Highlight, highlight);
    pal.setColor(QPalette::HighlightedText, pal.color(QPalette::Text));
    setPalette(pal);

    QHeaderView* h = header();
    h->setSectionsClickable(false);
    h->setSectionsMovable(false);
    h->setStretchLastSection(false);
    h->setMinimumSectionSize(columnSpecs()[tcLink].minWidth);
    connect(h, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (section < 0 || section >= tcColumnCount) {
            return;
        }
        const ColumnSpec& spec = columnSpecs()[size_t(section)];
        if (spec.minWidth > 0 && size < spec.minWidth) {
            header()->resizeSection(section, spec.minWidth);
        } else if (spec.maxWidth > 0 && size > spec.maxWidth) {
            header()->resizeSection(section, spec.maxWidth);
        }
    });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N2 = PopupMenu1->addAction(TreeImages::icon(kImageRename), QStringLiteral("Переименовать"));
    N1 =
        PopupMenu1->addAction(TreeImages::icon(kImageDelete), QStringLiteral("Удалить выделенные"));
    N5 =
        PopupMenu1->addAction(TreeImages::icon(kImageDelete), QStringLiteral("Удалить отмеченные"));
    QMenu* n3 = PopupMenu1->addMenu(TreeImages::icon(kImageMove),
                                    QStringLiteral("Переместить выделенные в"));
    QMenu* n4 = PopupMenu1->addMenu(TreeImages::icon(kImageMove),
                                    QStringLiteral("Переместить отмеченные в"));
    N3 = n3->menuAction();
    N4 = n4->menuAction();
    N2->setObjectName(QStringLiteral("N2"));
    N1->setObjectName(QStringLiteral("N1"));
    N5->setObjectName(QStringLiteral("N5"));
    N3->setObjectName(QStringLiteral("N3"));
    N4->setObjectName(QStringLiteral("N4"));
    n3->setObjectName(QStringLiteral("N3Menu"));
    n4->setObjectName(QStringLiteral("N4Menu"));
    connect(N2, &QAction::triggered, this, &ClusterTreeView::N2Click);
    connect(N1, &QAction::triggered, this, &ClusterTreeView::N1Click);
    connect(N5, &QAction::triggered, this, &ClusterTreeView::N5Click);
    // Each submenu fills when it opens: a tree of thousands of clusters makes thousands of
    // items, which a user who only renames never needs.
    connect(n3, &QMenu::aboutToShow, this, [this, n3] { fillMoveMenu(n3, true); });
    connect(n4, &QMenu::aboutToShow, this, [this, n4] { fillMoveMenu(n4, false); });
    PopupMenu1Popup();

    connect(this, &QAbstractItemView::clicked, this, &ClusterTreeView::onClicked);
}

ClusterTreeView::~ClusterTreeView() = default;

void ClusterTreeView::setUndoStack(QUndoStack* stack, QAction* undo, QAction* redo) {
    undoStack_ = stack;
    QAction* first = PopupMenu1->actions().value(0);
    if (undo && redo) {
        PopupMenu1->insertActions(first, {undo, redo});
        PopupMenu1->insertSeparator(first);
    }
}

void ClusterTreeView::runEdit(const std::function<void()>& action) {
    if (model_) {
        editTree(undoStack_, *model_, this, action);
    }
}

TreeViewState ClusterTreeView::saveViewState() const {
    TreeViewState s;
    if (!model_) {
        return s;
    }
    for (const auto& c : model_->clusters()) {
        if (isExpanded(model_->indexOf(c.get()))) {
            s.expanded.push_back(c.get());
        }
    }
    for (const QModelIndex& i : selectedNodes()) {
        s.selected.push_back(model_->nodeOf(i));
    }
    s.current = model_->nodeOf(currentIndex());
    return s;
}

void ClusterTreeView::restoreViewState(const TreeViewState& state) {
    if (!model_ || !selectionModel()) {
        return;
    }
    // With the layout put off, expanding and collapsing only note the cluster: one layout
    // afterwards instead of one per cluster.
    scheduleDelayedItemsLayout();
    std::unordered_set<const TreeNode*> wanted(state.expanded.begin(), state.expanded.end());
    for (const auto& c : model_->clusters()) {
        setExpanded(model_->indexOf(c.get()), wanted.count(c.get()) > 0);
    }
    QItemSelection selection;
    for (const TreeNode* n : state.selected) {
        selection.select(model_->indexOf(n, tcCaption), model_->indexOf(n, tcColumnCount - 1));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    const QModelIndex current = model_->indexOf(state.current);
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    // What came back is in sight, not somewhere far down a long tree.
    if (current.isValid()) {
        scrollTo(current);
    }
}

void ClusterTreeView::setClusterModel(ClusterTreeModel* model) {
    if (model_) {
        disconnect(model_, nullptr, this, nullptr);
    }
    model_ = model;
    setModel(model);
    PopupMenu1Popup();
    if (!model) {
        return;
    }
    const auto& specs = columnSpecs();
    for (int c = 0; c < tcColumnCount; ++c) {
        header()->resizeSection(c, specs[size_t(c)].width);
        header()->setSectionResizeMode(
            c, specs[size_t(c)].resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
    }
    connect(model, &ClusterTreeModel::countTextChanged, this, &ClusterTreeView::countTextChanged);
}

QModelIndexList ClusterTreeView::selectedNodes() const {
    // Read from the ranges: selectedRows() checks every row against every range, which is
    // quadratic in a scattered selection of thousands of phrases. Rows are selected whole here.
    QModelIndexList out;
    if (!selectionModel() || !model_) {
        return out;
    }
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (!range.isValid()) {
            continue;
        }
        const QModelIndex parent = range.parent();
        for (int row = range.top(); row <= range.bottom(); ++row) {
            out.append(model_->index(row, tcCaption, parent));
        }
    }
    return out;
}

Qt::CursorShape ClusterTreeView::vdtListGetCursor(const QPoint& pos) const {
    if (!indexAt(pos).isValid()) {
        return Qt::ArrowCursor;
    }
    const int left = header()->sectionViewportPosition(tcLink);
    const int right = left + header()->sectionSize(tcLink);
    return pos.x() > left && pos.x() < right ? Qt::PointingHandCursor : Qt::ArrowCursor;
}

// --- Context menu ---------------------------------------------------------------------------

void ClusterTreeView::PopupMenu1Popup() {
    PopupMenuState s;
    if (model_) {
        s = kelvara::PopupMenu1Popup(*model_, selectedNodes());
    }
    N2->setEnabled(s.renameEnabled);
    N1->setEnabled(s.deleteSelectedEnabled);
    N5->setEnabled(s.deleteCheckedEnabled);
    N3->setVisible(s.moveSelectedVisible);
    N4->setVisible(s.moveCheckedVisible);
    N3->menu()->clear();
    N4->menu()->clear();
    targets_ = std::move(s.targets);
    n3Filled_ = false;
    n4Filled_ = false;
}

void ClusterTreeView::fillMoveMenu(QMenu* menu, bool selected) {
    bool& filled = selected ? n3Filled_ : n4Filled_;
    if (filled) {
        return;
    }
    filled = true;
    for (const MoveTarget& t : targets_) {
        AddMoveItem(menu, t, selected);
    }
}

void ClusterTreeView::AddMoveItem(QMenu* parent, const MoveTarget& target, bool selected) {
    QString text = target.caption;
    text.replace(u'&', QStringLiteral("&&"));  // a caption is no mnemonic
    QAction* item = parent->addAction(TreeImages::icon(target.imageIndex), text);
    connect(item, &QAction::triggered, this, [this, target, selected] {
        selected ? MoveSelectedItemClick(target) : MoveCheckedItemClick(target);
    });
}

void ClusterTreeView::moveTo(const MoveTarget& target, bool selected) {
    if (!model_ || (!target.newCluster && !target.cluster.isValid())) {
        return;
    }
    const QModelIndex to = target.newCluster ? QModelIndex() : QModelIndex(target.cluster);
    const QModelIndexList selection = selectedNodes();
    runEdit([&] { MovePhrases(*model_, to, selection, selected); });
}

void ClusterTreeView::MoveSelectedItemClick(const MoveTarget& target) {
    moveTo(target, true);
}

void ClusterTreeView::MoveCheckedItemClick(const MoveTarget& target) {
    moveTo(target, false);
}

void ClusterTreeView::contextMenuEvent(QContextMenuEvent* event) {
    if (!model_) {
        return;
    }
    PopupMenu1Popup();
    PopupMenu1->popup(event->globalPos());
    event->accept();
}

// --- Commands -------------------------------------------------------------------------------

void ClusterTreeView::N2Click() {
    if (!model_) {
        return;
    }
    const TreeNode* first = firstSelected(*model_, selectedNodes());
    if (first && first->isCluster()) {
        renameCluster(model_->indexOf(first));
    }
}

void ClusterTreeView::renameCluster(const QModelIndex& cluster) {
    const TreeNode* node = model_ ? model_->nodeOf(cluster) : nullptr;
    if (!node || !node->isCluster()) {
        return;
    }
    const QPersistentModelIndex at(cluster.siblingAtColumn(tcCaption));
    // Cancel gives the current caption back, which leaves the name as it was.
    const QString text =
        Dialogs::InputBox(window(), QStringLiteral("Переименовать"), QString(), node->Data.Caption);
    setCaption(at, text);
}

void ClusterTreeView::setCaption(const QModelIndex& cluster, const QString& text) {
    if (cluster.isValid()) {
        runEdit([&] { RenameCluster(*model_, cluster, text); });
    }
}

void ClusterTreeView::N1Click() {
    deleteClusters(true);
}

void ClusterTreeView::N5Click() {
    deleteClusters(false);
}

void ClusterTreeView::deleteClusters(bool selected) {
    if (!model_) {
        return;
    }
    const QModelIndexList selection = selectedNodes();
    runEdit([&] {
        DeleteClusters(*model_, selection, selected, [this] {
            return Dialogs::question(window(), QStringLiteral("Удалить выбранные категории?"),
                                     QMessageBox::Yes | QMessageBox::Cancel) == QMessageBox::Yes;
        });
    });
}

void ClusterTreeView::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (model_ && plain) {
        switch (event->key()) {
            case Qt::Key_F2:
                renameCluster(currentIndex());
                event->accept();
                return;
            case Qt::Key_Delete: {
                // As the menu item: only while it is enabled.
                const TreeNode* first = firstSelected(*model_, selectedNodes());
                if (first && first->isCluster()) {
                    N1Click();
                }
                event->accept();
                return;
            }
            case Qt::Key_Space:
                if (TreeNode* node = model_->nodeOf(currentIndex())) {
                    model_->setData(model_->indexOf(node),
                                    int(node->checked ? Qt::Unchecked : Qt::Checked),
                                    Qt::CheckStateRole);
                }
                event->accept();
                return;
            default:
                break;
        }
    }
    QTreeView::keyPressEvent(event);
}

// --- Mouse ----------------------------------------------------------------------------------

void ClusterTreeView::mouseMoveEvent(QMouseEvent* event) {
    QTreeView::mouseMoveEvent(event);
    viewport()->setCursor(vdtListGetCursor(event->position().toPoint()));
}

void ClusterTreeView::onClicked(const QModelIndex& index) {
    const TreeNode* node = model_ ? model_->nodeOf(index) : nullptr;
    if (node && index.column() == tcLink) {
        Q_EMIT linkClicked(index.siblingAtColumn(tcCaption), node->level());
    }
}

// --- Drag and drop --------------------------------------------------------------------------

void ClusterTreeView::startDrag(Qt::DropActions) {
    if (!selectionModel() || !selectionModel()->hasSelection()) {
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(dragMimeData());
    drag->setPixmap(TreeImages::icon(kImagePhrase)
                        .pixmap(QSize(TreeImages::kSize, TreeImages::kSize), devicePixelRatioF()));
    // The drop handler moves the nodes itself, so whatever the drag reports, nothing is removed
    // here afterwards.
    drag->exec(Qt::MoveAction, Qt::MoveAction);
}

QMimeData* ClusterTreeView::dragMimeData() const {
    auto* mime = new QMimeData;
    mime->setData(dragMimeType(), dragToken_);
    return mime;
}

bool ClusterTreeView::isOwnDrag(const QMimeData* mime) const {
    return mime && mime->hasFormat(dragMimeType()) && mime->data(dragMimeType()) == dragToken_;
}

void ClusterTreeView::setDropTarget(const QModelIndex& index) {
    const QPersistentModelIndex target(index.isValid() ? index.siblingAtColumn(tcCaption)
                                                       : QModelIndex());
    if (target != dropTarget_) {
        dropTarget_ = target;
        viewport()->update();
    }
}

void ClusterTreeView::dragEnterEvent(QDragEnterEvent* event) {
    const bool own = isOwnDrag(event->mimeData()) && (!event->source() || event->source() == this);
    if (!own || !model_) {
        event->ignore();  // text or files from elsewhere are not ours to take
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    setState(DraggingState);
}

void ClusterTreeView::dragMoveEvent(QDragMoveEvent* event) {
    const bool own = isOwnDrag(event->mimeData()) && (!event->source() || event->source() == this);
    if (!own || !model_) {
        event->ignore();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const QModelIndex under = indexAt(pos);
    const bool allowed = dropAllowed(*model_, under, selectedNodes());
    setDropTarget(allowed ? under : QModelIndex());
    if (allowed) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
    const int margin = autoScrollMargin();
    const QRect area = viewport()->rect();
    if (hasAutoScroll() && (pos.y() < area.top() + margin || pos.y() > area.bottom() - margin)) {
        startAutoScroll();
    }
}

void ClusterTreeView::dragLeaveEvent(QDragLeaveEvent* event) {
    stopAutoScroll();
    setDropTarget({});
    setState(NoState);
    event->accept();
}

void ClusterTreeView::dropEvent(QDropEvent* event) {
    stopAutoScroll();
    setDropTarget({});
    setState(NoState);
    const bool own = isOwnDrag(event->mimeData()) && (!event->source() || event->source() == this);
    if (!own || !model_) {
        event->ignore();
        return;
    }
    const QModelIndex under = indexAt(event->position().toPoint());
    const QModelIndexList selection = selectedNodes();
    if (!dropAllowed(*model_, under, selection)) {
        event->ignore();
        return;
    }
    runEdit([&] { dropPhrases(*model_, under, selection); });
    // Reported as a copy: the nodes are moved already, no one may remove the dragged rows.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// --- Painting -------------------------------------------------------------------------------

void ClusterTreeView::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    if (!dropTarget_.isValid()) {
        return;
    }
    QRect r = visualRect(dropTarget_);
    r.setLeft(header()->sectionViewportPosition(0));
    r.setRight(header()->length() - header()->offset() - 1);
    QPainter p(viewport());
    p.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight).darker(110), 2));
    p.drawRect(r.adjusted(1, 1, -1, -1));
}

void ClusterTreeView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    // Grid lines: under every row and at the right edge of every column.
    painter->save();
    QColor grid = palette().color(QPalette::Mid);
    grid.setAlpha(120);
    painter->setPen(grid);
    const QRect r = option.rect;
    const QHeaderView* h = header();
    const int end = h->length() - h->offset() - 1;
    painter->drawLine(r.left(), r.bottom(), end, r.bottom());
    for (int s = 0; s < h->count(); ++s) {
        if (!h->isSectionHidden(s)) {
            const int x = h->sectionViewportPosition(s) + h->sectionSize(s) - 1;
            painter->drawLine(x, r.top(), x, r.bottom());
        }
    }
    painter->restore();
}

void ClusterTreeView::drawBranches(QPainter* painter, const QRect& rect,
                                   const QModelIndex& index) const {
    const TreeNode* node = model_ ? model_->nodeOf(index) : nullptr;
    if (!node) {
        return;
    }
    const int indent = indentation();
    const int midY = rect.top() + rect.height() / 2;
    auto column = [&](int level) { return rect.left() + level * indent; };
    auto midX = [&](int level) { return column(level) + indent / 2; };
    const bool last = node->isCluster() ? node->row == model_->GetClusterCount() - 1
                                        : node->row == node->parent->childCount() - 1;

    painter->save();
    QPen dotted(palette().color(QPalette::Dark));
    dotted.setStyle(Qt::DotLine);
    painter->setPen(dotted);
    const int level = node->level();
    if (level == 1 && node->parent->row < model_->GetClusterCount() - 1) {
        // The line of the clusters below passes the phrases of this one.
        painter->drawLine(midX(0), rect.top(), midX(0), rect.bottom());
    }
    const int x = midX(level);
    if (level == 1 || node->row > 0) {
        painter->drawLine(x, rect.top(), x, midY);
    }
    if (!last) {
        painter->drawLine(x, midY, x, rect.bottom());
    }
    painter->drawLine(x, midY, column(level) + indent - 1, midY);

    if (node->isCluster() && node->childCount() > 0) {
        const QRect box(x - 4, midY - 4, 9, 9);
        painter->setPen(palette().color(QPalette::Dark));
        painter->setBrush(palette().color(QPalette::Base));
        painter->drawRect(box.adjusted(0, 0, -1, -1));
        painter->setPen(palette().color(QPalette::Text));
        painter->drawLine(box.left() + 2, midY, box.right() - 2, midY);
        if (!isExpanded(index)) {
            painter->drawLine(x, box.top() + 2, x, box.bottom() - 2);
        }
    }
    painter->restore();
}

}  // namespace kelvara
