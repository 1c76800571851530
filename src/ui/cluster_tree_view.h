#pragma once

#include "tree/tree_commands.h"
#include "tree/tree_undo.h"

#include <QByteArray>
#include <QPersistentModelIndex>
#include <QTreeView>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QMimeData;
class QUndoStack;

namespace kelvara {

// The cluster tree control `vdtList`: the view of a ClusterTreeModel with its context menu
// `PopupMenu1`, keyboard commands and drag-and-drop of phrases onto clusters. All editing is
// done by the commands of tree_commands.h; this class only wires events to them, each user action
// as one step of the undo stack when one is set.
class ClusterTreeView : public QTreeView, public TreeViewMemory {
    Q_OBJECT

public:
    static constexpr int kRowHeight = 20;

    explicit ClusterTreeView(QWidget* parent = nullptr);
    ~ClusterTreeView() override;

    // Shows the model and lays the columns out by columnSpecs().
    void setClusterModel(ClusterTreeModel* model);
    ClusterTreeModel* clusterModel() const { return model_; }
    // The stack every edit goes onto, and its two actions, which head the context menu.
    void setUndoStack(QUndoStack* stack, QAction* undo, QAction* redo);
    QUndoStack* undoStack() const { return undoStack_; }

    // TreeViewMemory: expanded clusters, selected rows and the current row.
    TreeViewState saveViewState() const override;
    void restoreViewState(const TreeViewState& state) override;

    // The selected rows (column 0), in no particular order, perhaps with repeats.
    QModelIndexList selectedNodes() const;

    // The cursor over a point of the viewport: the hand exactly inside column 1 of an existing
    // row, else the arrow.
    Qt::CursorShape vdtListGetCursor(const QPoint& viewportPos) const;

    // What a drag of the selection from this tree carries: a mark that only this tree accepts
    // as its own. The caller owns the result.
    QMimeData* dragMimeData() const;

    // The context menu and its fixed items N2, N1, N5, N3 and N4.
    QMenu* popupMenu() const { return PopupMenu1; }
    // Runs before the menu opens: sets the items' visibility and enabling and empties the move
    // submenus, which fill from the targets when they open.
    void PopupMenu1Popup();

    // The menu's commands; each works on the current selection or checks.
    void N2Click();  // rename the first selected cluster
    void N1Click();  // delete the selected clusters, after confirmation
    void N5Click();  // delete the checked clusters, after confirmation
    // Renames a cluster through the input box "Переименовать"; phrases are left alone.
    void renameCluster(const QModelIndex& cluster);
    // The in-place editor's accepted text.
    void setCaption(const QModelIndex& cluster, const QString& text);

Q_SIGNALS:
    // A click in column 1 (the URL list opens from it); `node` is the row's column-0 index.
    void linkClicked(const QModelIndex& node, int level);
    // The counts label's text, "Кластеров: %d, запросов: %d", whenever it changes.
    void countTextChanged(const QString& text);

protected:
    // The tree's handlers: vdtListDragAllowed is startDrag, vdtListDragOver dragMoveEvent,
    // vdtListDragDrop dropEvent; vdtListChecked and vdtListNewText live in the model.
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

private:
    void AddMoveItem(QMenu* parent, const MoveTarget& target, bool selected);
    void fillMoveMenu(QMenu* menu, bool selected);
    void moveTo(const MoveTarget& target, bool selected);
    void MoveSelectedItemClick(const MoveTarget& target);
    void MoveCheckedItemClick(const MoveTarget& target);
    void deleteClusters(bool selected);
    bool isOwnDrag(const QMimeData* mime) const;
    void setDropTarget(const QModelIndex& index);
    void onClicked(const QModelIndex& index);
    void runEdit(const std::function<void()>& action);

    ClusterTreeModel* model_ = nullptr;
    QUndoStack* undoStack_ = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N1 = nullptr;
    QAction* N5 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    std::vector<MoveTarget> targets_;  // of the last menu opening
    bool n3Filled_ = false;
    bool n4Filled_ = false;
    QByteArray dragToken_;  // marks drags that start here
    QPersistentModelIndex dropTarget_;
};

}  // namespace kelvara
