// Draws the cluster tree with a few clusters, one expanded and checked, and its context menu
// open at the move submenu, into one PNG (the first argument). Menus are windows of their own,
// so each is grabbed and laid over the tree where it stands on the screen.
#include "ui/cluster_tree_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QTest>

using namespace kelvara;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("tree.png");

    ResultStore store;
    auto entry = [&](const char* query, std::initializer_list<const char*> urls) {
        auto e = std::make_unique<TSerpEntry>(0);
        for (const char* u : urls) {
            e->Urls.add(QString::fromUtf8(u));
        }
        store.add(QString::fromUtf8(query), std::move(e));
    };
    entry("окна пвх", {"http://okna.ru/", "http://pvh.ru/", "http://a.ru/x"});
    entry("пластиковые окна пвх", {"http://okna.ru/", "http://b.ru/y"});
    entry("окна пвх цена", {"http://c.ru/z"});
    entry("двери", {"http://dveri.ru/", "http://d.ru/", "http://e.ru/", "http://f.ru/q"});
    entry("межкомнатные двери", {"http://dveri.ru/"});

    auto s = [](const char* t) { return QString::fromUtf8(t); };
    ClusterTreeModel model;
    model.setResultStore(&store);
    model.fillTree({
        {s("окна пвх"), {s("окна пвх"), s("пластиковые окна пвх"), s("окна пвх цена")}},
        {s("двери"), {s("двери"), s("межкомнатные двери"), s("двери купить")}},
        {s("натяжные потолки"), {s("натяжные потолки"), s("потолки цена")}},
        {unsortedCaption(), {s("ремонт квартир"), s("ламинат")}},
    });

    QWidget window;
    window.setWindowTitle(QStringLiteral("vdtList"));
    ClusterTreeView view(&window);
    view.setClusterModel(&model);
    window.resize(640, 380);
    view.setGeometry(0, 0, 640, 380);
    view.header()->resizeSection(0, 270);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);

    view.expand(model.index(0, 0));
    view.expand(model.index(1, 0));
    model.setData(model.index(1, 0), int(Qt::Checked), Qt::CheckStateRole);
    const QModelIndex phrase = model.index(1, 0, model.index(0, 0));
    view.selectionModel()->select(phrase,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view.setCurrentIndex(phrase);
    QApplication::processEvents();

    const QRect row = view.visualRect(phrase);
    const QPoint at = view.viewport()->mapToGlobal(row.center() + QPoint(40, 0));
    view.PopupMenu1Popup();
    QMenu* menu = view.popupMenu();
    menu->popup(at);
    QTest::qWait(50);
    QAction* n3 = menu->findChild<QAction*>(QStringLiteral("N3"));
    menu->setActiveAction(n3);
    QMenu* sub = n3->menu();
    Q_EMIT sub->aboutToShow();
    sub->popup(menu->mapToGlobal(menu->actionGeometry(n3).topRight()));
    QTest::qWait(50);
    QApplication::processEvents();

    QImage canvas(QSize(900, 420), QImage::Format_ARGB32);
    canvas.fill(QColor(0xe8, 0xe8, 0xe8));
    QPainter p(&canvas);
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    p.drawPixmap(0, 0, window.grab());
    p.drawPixmap(menu->pos() - origin, menu->grab());
    p.drawPixmap(sub->pos() - origin, sub->grab());
    p.end();
    return canvas.save(out) ? 0 : 1;
}
