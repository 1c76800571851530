#include "ui/cluster_tree_view.h"

#include "tree/tree_notation.h"
#include "ui/dialogs.h"
#include "ui/tree_images.h"

#include <gtest/gtest.h>
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

using namespace kelvara;
using namespace kelvara::tree_notation;

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

class TreeViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dialogs::reset();
        view.setClusterModel(&model);
        view.resize(520, 420);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    void TearDown() override { Dialogs::reset(); }

    QWidget* vp() { return view.viewport(); }
    QModelIndex idx(const char* path, int column = 0) { return at(model, path, column); }
    QPoint cell(const char* path, int column = 0) {
        const QModelIndex i = idx(path, column);
        EXPECT_TRUE(i.isValid()) << path;
        return view.visualRect(i).center();
    }
    void expand(const char* cluster) { view.expand(idx(cluster)); }
    void selectOnly(std::initializer_list<const char*> paths) {
        view.selectionModel()->clearSelection();
        for (const char* p : paths) {
            view.selectionModel()->select(idx(p),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    void press(Qt::Key key) { QTest::keyClick(&view, key); }
    void rightClick(const QPoint& at) {
        QTest::mousePress(vp(), Qt::RightButton, {}, at);
        QTest::mouseRelease(vp(), Qt::RightButton, {}, at);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, at, vp()->mapToGlobal(at));
        QApplication::sendEvent(vp(), &menu);
    }
    QAction* item(const char* name) { return view.popupMenu()->findChild<QAction*>(q(name)); }
    // One drag that enters the viewport at a point, moves there and drops, the way the platform
    // delivers it: moves and the drop reach the widget that accepted the enter.
    struct DragResult {
        bool entered, moved, dropped;
        bool operator==(const DragResult&) const = default;
    };
    DragResult dragAndDrop(const QPoint& at, const QMimeData* mime) {
        DragResult r{};
        QDragEnterEvent enter(at, Qt::MoveAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(vp(), &enter);
        r.entered = enter.isAccepted();
        QDragMoveEvent move(at, Qt::MoveAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(vp(), &move);
        r.moved = move.isAccepted();
        QDropEvent drop(at, Qt::MoveAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(vp(), &drop);
        r.dropped = drop.isAccepted();
        return r;
    }

    ClusterTreeModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    ClusterTreeView view;
};

}  // namespace

TEST_F(TreeViewTest, LaysOutColumnsRowsAndHeader) {
    setupTree(model, "A(a1, a2) | B(b1)");
    EXPECT_EQ(view.objectName(), q("vdtList"));
    EXPECT_EQ(view.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(view.isExpanded(idx("A")));  // clusters arrive collapsed
    EXPECT_EQ(view.visualRect(idx("A")).height(), 20);
    expand("A");
    EXPECT_EQ(view.visualRect(idx("A/a2")).height(), 20);

    QHeaderView* h = view.header();
    EXPECT_FALSE(h->isHidden());
    const int widths[] = {270, 19, 50, 60};
    const QHeaderView::ResizeMode modes[] = {QHeaderView::Interactive, QHeaderView::Fixed,
                                             QHeaderView::Fixed, QHeaderView::Interactive};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(h->sectionSize(c), widths[c]) << c;
        EXPECT_EQ(h->sectionResizeMode(c), modes[c]) << c;
    }
    h->resizeSection(3, 20);
    EXPECT_EQ(h->sectionSize(3), 60);  // "Главных" keeps its minimum
    h->resizeSection(3, 90);
    EXPECT_EQ(h->sectionSize(3), 90);

    // Every image in use is there and drawn; the unused slots are empty.
    for (int i = 0; i < TreeImages::kCount; ++i) {
        const bool used = i == 0 || i == 1 || i == 6 || i == 8 || i == 11 || i == 14 || i == 15;
        const QIcon icon = TreeImages::icon(i);
        ASSERT_EQ(!icon.isNull(), used) << i;
        if (used) {
            const QImage img = icon.pixmap(QSize(16, 16), 2.0).toImage();
            EXPECT_EQ(img.size(), QSize(32, 32)) << i;  // drawn at the screen's own scale
            EXPECT_GT(qAlpha(img.pixel(16, 16)), 0) << i;
        }
    }
}

TEST_F(TreeViewTest, HandCursorOnlyInsideColumnOneOfARow) {
    setupTree(model, "A(a1) | B(b1)");
    const int y = cell("B").y();
    const int below = view.visualRect(idx("B")).bottom() + 15;
    struct Case {
        int x, y;
        Qt::CursorShape shape;
    } cases[] = {
        {280, y, Qt::PointingHandCursor}, {271, y, Qt::PointingHandCursor},
        {270, y, Qt::ArrowCursor},  // the edges themselves do not count
        {289, y, Qt::ArrowCursor},        {100, y, Qt::ArrowCursor},
        {300, y, Qt::ArrowCursor},        {280, below, Qt::ArrowCursor},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(view.vdtListGetCursor(QPoint(c.x, c.y)), c.shape) << c.x << "," << c.y;
    }
    QTest::mouseMove(vp(), QPoint(280, y));
    EXPECT_EQ(vp()->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(vp(), QPoint(280, below));
    EXPECT_EQ(vp()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(TreeViewTest, ClickInColumnOneReportsTheNodeAndItsLevel) {
    setupTree(model, "A(a1) | B(b1)");
    expand("A");
    QSignalSpy links(&view, &ClusterTreeView::linkClicked);
    QTest::mouseClick(vp(), Qt::LeftButton, {}, cell("A/a1", 1));
    QTest::mouseClick(vp(), Qt::LeftButton, {}, cell("B", 0));
    QTest::mouseClick(vp(), Qt::LeftButton, {}, cell("B", 2));
    QTest::mouseClick(vp(), Qt::LeftButton, {}, cell("B", 1));
    ASSERT_EQ(links.count(), 2);
    EXPECT_EQ(links[0][0].value<QModelIndex>(), idx("A/a1"));
    EXPECT_EQ(links[0][1].toInt(), 1);
    EXPECT_EQ(links[1][0].value<QModelIndex>(), idx("B"));
    EXPECT_EQ(links[1][1].toInt(), 0);
}

TEST_F(TreeViewTest, CheckBoxesByMouseAndSpace) {
    setupTree(model, "A(a1, a2) | B(b1)");
    expand("A");
    QSignalSpy counts(&view, &ClusterTreeView::countTextChanged);

    // A click on the cluster's check box checks its phrases too.
    QStyleOptionViewItem opt;
    opt.initFrom(vp());
    opt.rect = view.visualRect(idx("A"));
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = q("A");
    const QRect box =
        view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, &view);
    QTest::mouseClick(vp(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(dump(model), q("A*(a1*, a2*) | B(b1)"));

    // Space toggles the focused row: a phrase alone, the cluster with its phrases.
    view.setCurrentIndex(idx("A/a2", 2));
    press(Qt::Key_Space);
    EXPECT_EQ(dump(model), q("A*(a1*, a2) | B(b1)"));
    view.setCurrentIndex(idx("A"));
    press(Qt::Key_Space);
    EXPECT_EQ(dump(model), q("A(a1, a2) | B(b1)"));
    EXPECT_EQ(counts.count(), 0);  // checks change no count
}

TEST_F(TreeViewTest, RenameByF2AndInPlaceEditingOfClusterCaptionsOnly) {
    setupTree(model, "A(a1) | B(b1)");
    expand("A");

    view.setCurrentIndex(idx("B"));
    Dialogs::setNextInput(q(" Окна  "));
    press(Qt::Key_F2);
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    EXPECT_EQ(Dialogs::shown()[0].kind, Dialogs::Kind::Input);
    EXPECT_EQ(Dialogs::shown()[0].title, q("Переименовать"));
    EXPECT_EQ(Dialogs::shown()[0].text, QString());
    EXPECT_EQ(Dialogs::shown()[0].value, q("B"));
    EXPECT_EQ(dump(model), q("A(a1) |  Окна  (b1)"));

    view.setCurrentIndex(idx(" Окна  "));
    Dialogs::setNextInput(std::nullopt);  // cancel keeps the name
    press(Qt::Key_F2);
    EXPECT_EQ(dump(model), q("A(a1) |  Окна  (b1)"));

    view.setCurrentIndex(idx("A/a1"));
    press(Qt::Key_F2);  // a phrase: no box at all
    EXPECT_EQ(Dialogs::shown().size(), 2u);

    // In place: a click on the selected cluster's caption opens the editor after the delay.
    view.setCurrentIndex(idx("A"));
    QTest::mouseClick(vp(), Qt::LeftButton, {}, cell("A"));
    QLineEdit* editor = nullptr;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return (editor = vp()->findChild<QLineEdit*>()) != nullptr; }));
    ASSERT_NE(editor, nullptr);
    editor->setText(q("  Новое "));
    QTest::keyClick(editor, Qt::Key_Return);
    const TreeNode* a = model.cluster(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return a->Data.Caption == q("  Новое "); }));

    // Phrases and the other columns never open an editor.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QModelIndex& i :
         {model.indexOf(a->children[0].get()), idx(" Окна  ", 2), idx(" Окна  ", 3)}) {
        ASSERT_TRUE(i.isValid());
        view.edit(i);
        QApplication::processEvents();
        const auto* open = vp()->findChild<QLineEdit*>();
        EXPECT_TRUE(!open || !open->isVisible());
    }
}

TEST_F(TreeViewTest, DeleteKeyAsksAndDeletesTheSelectedClusters) {
    setupTree(model, "A(a1) | B(b1) | C(c1)");
    expand("A");
    selectOnly({"A/a1"});
    press(Qt::Key_Delete);  // "Удалить выделенные" is disabled for a phrase first
    EXPECT_TRUE(Dialogs::shown().empty());

    selectOnly({"A", "C"});
    Dialogs::setNextAnswer(QMessageBox::Cancel);
    press(Qt::Key_Delete);
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    EXPECT_EQ(Dialogs::shown()[0].kind, Dialogs::Kind::Question);
    EXPECT_EQ(Dialogs::shown()[0].text, q("Удалить выбранные категории?"));
    EXPECT_EQ(Dialogs::shown()[0].buttons, QMessageBox::Yes | QMessageBox::Cancel);
    EXPECT_EQ(dump(model), q("A(a1) | B(b1) | C(c1)"));

    QSignalSpy counts(&view, &ClusterTreeView::countTextChanged);
    Dialogs::setNextAnswer(QMessageBox::Yes);
    press(Qt::Key_Delete);
    EXPECT_EQ(dump(model), q("B(b1) | [U](a1, c1)"));
    ASSERT_EQ(counts.count(), 1);
    EXPECT_EQ(counts[0][0].toString(), q("Кластеров: 2, запросов: 3"));
}

TEST_F(TreeViewTest, EditsKeepExpansionSelectionAndCurrentRowOfSurvivingNodes) {
    setupTree(model, "A(a1) | B(b1, b2) | C(c1) | D()");
    expand("B");
    expand("C");
    selectOnly({"A", "B/b2"});
    view.selectionModel()->setCurrentIndex(idx("B/b2"), QItemSelectionModel::NoUpdate);
    DeleteClusters(model, view.selectedNodes(), true, [] { return true; });
    EXPECT_EQ(dump(model), q("B(b1, b2) | C(c1) | D() | [U](a1)"));
    EXPECT_TRUE(view.isExpanded(idx("B")));
    EXPECT_TRUE(view.isExpanded(idx("C")));
    EXPECT_FALSE(view.isExpanded(idx("[U]")));
    EXPECT_EQ(view.currentIndex(), idx("B/b2"));
    EXPECT_EQ(view.selectionModel()->selectedRows(), QModelIndexList{idx("B/b2")});

    MovePhrases(model, idx("D"), view.selectedNodes(), true);
    EXPECT_EQ(dump(model), q("B(b1) | C(c1) | D(b2) | [U](a1)"));
    EXPECT_EQ(view.currentIndex(), idx("D/b2"));
    EXPECT_EQ(view.selectionModel()->selectedRows(), QModelIndexList{idx("D/b2")});
    EXPECT_TRUE(view.isExpanded(idx("C")));
}

TEST_F(TreeViewTest, RightClickSelectsTheRowAndOpensTheMenu) {
    setupTree(model, "A(a1, a2) | B*(b1*) | [U](x)");
    expand("A");
    selectOnly({"B"});
    rightClick(cell("A/a2", 2));
    EXPECT_EQ(view.selectionModel()->selectedRows(), QModelIndexList{idx("A/a2")});
    QMenu* menu = view.popupMenu();
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->objectName(), q("PopupMenu1"));
    QStringList texts;
    for (QAction* a : menu->actions()) {
        texts.append(a->objectName() + u'=' + a->text());
    }
    EXPECT_EQ(texts, QStringList({q("N2=Переименовать"), q("N1=Удалить выделенные"),
                                  q("N5=Удалить отмеченные"), q("N3=Переместить выделенные в"),
                                  q("N4=Переместить отмеченные в")}));
    EXPECT_FALSE(item("N2")->isEnabled());
    EXPECT_FALSE(item("N1")->isEnabled());
    EXPECT_TRUE(item("N5")->isEnabled());
    EXPECT_TRUE(item("N3")->isVisible());
    EXPECT_TRUE(item("N4")->isVisible());
    for (const char* n : {"N2", "N1", "N5", "N3", "N4"}) {
        EXPECT_FALSE(item(n)->icon().isNull()) << n;
    }

    QMenu* n3 = item("N3")->menu();
    Q_EMIT n3->aboutToShow();
    QStringList targets;
    for (QAction* a : n3->actions()) {
        targets.append(a->text());
        EXPECT_FALSE(a->icon().isNull());
    }
    EXPECT_EQ(targets,
              QStringList({q("Создать новую категорию"), q("A"), q("B"), unsortedCaption()}));
    n3->actions()[2]->trigger();  // to B
    menu->hide();
    EXPECT_EQ(dump(model), q("A(a1) | B*(b1*, a2) | [U](x)"));

    // Within a selection of several rows a right click keeps them all.
    selectOnly({"A", "[U]"});
    rightClick(cell("[U]", 0));
    EXPECT_EQ(view.selectedNodes().size(), 2);
    EXPECT_TRUE(item("N2")->isEnabled());
    EXPECT_TRUE(item("N1")->isEnabled());
    EXPECT_FALSE(item("N3")->isVisible());
    menu->hide();
}

TEST_F(TreeViewTest, MenuCommandsRunThroughTheirItems) {
    setupTree(model, "A*(a1*) | B(b1) | C(c1*)");
    expand("B");
    selectOnly({"B/b1"});
    view.PopupMenu1Popup();
    QMenu* n4 = item("N4")->menu();
    Q_EMIT n4->aboutToShow();
    n4->actions()[0]->trigger();  // "Создать новую категорию": the checked phrases
    EXPECT_EQ(dump(model), q("A*() | B(b1) | C() | Новая категория #4(a1, c1)"));

    view.PopupMenu1Popup();  // the submenus are rebuilt with the new cluster
    Q_EMIT item("N3")->menu()->aboutToShow();
    ASSERT_EQ(item("N3")->menu()->actions().size(), 5);
    item("N3")->menu()->actions()[4]->trigger();
    EXPECT_EQ(dump(model), q("A*() | B() | C() | Новая категория #4(a1, c1, b1)"));

    view.PopupMenu1Popup();
    Dialogs::setNextAnswer(QMessageBox::Yes);
    item("N5")->trigger();
    EXPECT_EQ(dump(model), q("B() | C() | Новая категория #4(a1, c1, b1)"));

    selectOnly({"C"});
    view.PopupMenu1Popup();
    Dialogs::setNextInput(q("Двери"));
    item("N2")->trigger();
    EXPECT_EQ(dump(model), q("B() | Двери() | Новая категория #4(a1, c1, b1)"));
}

TEST_F(TreeViewTest, DropsOfOwnPhrasesOntoClustersOnly) {
    setupTree(model, "A(a1, a2) | B(b1) | C()");
    expand("A");
    expand("B");
    std::unique_ptr<QMimeData> own(view.dragMimeData());
    QMimeData text;
    text.setText(q("a1"));
    ClusterTreeView other;
    std::unique_ptr<QMimeData> foreign(other.dragMimeData());
    const QPoint empty(100, view.visualRect(idx("C")).bottom() + 20);
    using R = DragResult;

    selectOnly({"A/a1"});
    // Refused: a phrase row, the empty area, and anything not dragged from this tree.
    EXPECT_EQ(dragAndDrop(cell("B/b1"), own.get()), (R{true, false, false}));
    EXPECT_EQ(dragAndDrop(empty, own.get()), (R{true, false, false}));
    EXPECT_EQ(dragAndDrop(cell("C"), &text), (R{false, false, false}));
    EXPECT_EQ(dragAndDrop(cell("C"), foreign.get()), (R{false, false, false}));
    selectOnly({"B"});  // a cluster is dragged
    EXPECT_EQ(dragAndDrop(cell("C"), own.get()), (R{true, false, false}));
    EXPECT_EQ(dump(model), q("A(a1, a2) | B(b1) | C()"));

    // While the pointer is over an accepted target, its row is framed.
    selectOnly({"A/a1"});
    const QImage before = vp()->grab().toImage();
    QDragEnterEvent enter(cell("C"), Qt::MoveAction, own.get(), Qt::LeftButton, {});
    QApplication::sendEvent(vp(), &enter);
    QDragMoveEvent move(cell("C"), Qt::MoveAction, own.get(), Qt::LeftButton, {});
    QApplication::sendEvent(vp(), &move);
    const QImage marked = vp()->grab().toImage();
    QDragLeaveEvent leave;
    QApplication::sendEvent(vp(), &leave);
    EXPECT_NE(marked, before);
    EXPECT_EQ(vp()->grab().toImage(), before);
    const QRect rowC = view.visualRect(idx("C"));
    EXPECT_NE(marked.pixel(150, rowC.top() + 1), before.pixel(150, rowC.top() + 1));

    EXPECT_EQ(dragAndDrop(cell("C", 3), own.get()), (R{true, true, true}));  // anywhere on the row
    EXPECT_EQ(dump(model), q("A(a2) | B(b1) | C(a1)"));

    // A checked phrase elsewhere goes instead of the dragged one, and ends unchecked.
    model.setData(idx("B/b1"), int(Qt::Checked), Qt::CheckStateRole);
    selectOnly({"A/a2"});
    EXPECT_EQ(dragAndDrop(cell("A", 2), own.get()), (R{true, true, true}));
    EXPECT_EQ(dump(model), q("A(a2, b1) | B() | C(a1)"));
}
