// The window's part in what links queries: the host list, the matching, "why together" and the
// share column of the URL list.
#include "search/http_transport.h"
#include "support/temp_dir.h"
#include "tree/cluster_tree_model.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/link_controls.h"
#include "ui/main_form.h"
#include "ui/url_list_form.h"
#include "ui/why_together_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

using namespace kelvara;

namespace {

constexpr Stamp kNow = 739'959 * kMsPerDay + 12 * 3600'000LL;

QString u(int n) {
    return u"http://site.ru/"_qs + QString::number(n);
}
const QString kMarket1 = u"https://www.market.example/a"_qs;
const QString kMarket2 = u"https://market.example/b"_qs;

struct Program {
    test::TempDir dir;
    std::unique_ptr<TfrmMainForm> window;

    Program() {
        dir.write(u"regions.txt"_qs, "++213 Moscow\r\n");
        // a–x–y–b is a chain at threshold 3; the market's two pages plus one shared page link
        // "tyres" to "a".
        const QList<std::pair<QString, QStringList>> entries = {
            {u"a"_qs, {u(1), u(2), u(3), u(100), kMarket1, kMarket2}},
            {u"x"_qs, {u(1), u(2), u(3), u(4), u(5), u(6)}},
            {u"y"_qs, {u(4), u(5), u(6), u(7), u(8), u(9)}},
            {u"b"_qs, {u(7), u(8), u(9), u(100)}},
            {u"tyres"_qs, {u(100), u(50), u(51), u(52), kMarket1, kMarket2}},
            {u"tyres price"_qs, {u(50), u(51), u(52)}},
        };
        QByteArray text;
        for (const auto& [query, urls] : entries) {
            text += QByteArray::number(kNow) + ';' + query.toUtf8();
            for (const QString& url : urls) {
                text += ';' + url.toUtf8();
            }
            text += "\r\n";
        }
        dir.write(u"cache.txt"_qs, QByteArray("\xEF\xBB\xBF") + text);
    }
    TfrmMainForm& open() {
        TfrmMainForm::Environment env;
        env.platform.executableDir = dir.root() + u'/';
        env.platform.language = UiLanguage::English;
        env.platform.codePage = "windows-1251";
        env.platform.clock = [] { return kNow; };
        env.search.transport = std::make_shared<CurlTransport>();
        env.search.clock = env.platform.clock;
        env.opener = [](const QString&) {};
        window = std::make_unique<TfrmMainForm>(std::move(env));
        window->runController().setPollInterval(20);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }
    void close() {
        window->close();
        window.reset();
    }
    void run() {
        window->findChild<QLineEdit*>(u"LabeledEdit2"_qs)->setText(u"http://127.0.0.1:1/?k=1"_qs);
        window->findChild<QPlainTextEdit*>(u"Memo1"_qs)
            ->setPlainText(u"a\nx\ny\nb\ntyres\ntyres price"_qs);
        window->Button1Click();
    }
    QString tree() const {
        QString out;
        for (const Cluster& c : window->treeModel().content()) {
            out += u'(' + c.phrases.join(u',') + u')';
        }
        return out;
    }
    QModelIndex phrase(const QString& text) const {
        const ClusterTreeModel& m = window->treeModel();
        for (int c = 0; c < m.rowCount(); ++c) {
            const QModelIndex cluster = m.index(c, 0);
            for (int p = 0; p < m.rowCount(cluster); ++p) {
                if (m.index(p, 0, cluster).data().toString() == text) {
                    return m.index(p, 0, cluster);
                }
            }
        }
        return {};
    }
};

class LinkWindow : public ::testing::Test {
protected:
    void SetUp() override { Dialogs::reset(); }
    void TearDown() override { Dialogs::reset(); }
};

}  // namespace

TEST_F(LinkWindow, HostListAndMatchingChangeTheRunAndAreKept) {
    Program p;
    p.dir.write(u"ignored-hosts.txt"_qs, "# example\r\nnot a host\r\n");
    TfrmMainForm& w = p.open();
    QTest::qWait(50);  // the start-up problems are shown once the window is up
    ASSERT_FALSE(Dialogs::shown().empty());
    EXPECT_TRUE(Dialogs::shown().back().text.contains(u"line 2: \"not a host\""));

    p.run();
    EXPECT_EQ(p.tree(), u"(a,b,tyres,tyres price,x,y)"_qs);

    EXPECT_TRUE(w.links().apply(u"# shops\n*.market.example\n"_qs, false).isEmpty());
    EXPECT_TRUE(p.dir.read(u"ignored-hosts.txt"_qs).contains("*.market.example"));
    p.run();
    EXPECT_EQ(p.tree(), u"(a,b,x,y)(tyres,tyres price)"_qs);
    // The URL list still shows the market's pages.
    EXPECT_TRUE(w.treeModel().resultStore()->operator[](0).object->Urls.contains(kMarket1));

    w.links().apply(u"*.market.example\n"_qs, true);
    p.close();
    EXPECT_TRUE(p.dir.read(u"settings.ini"_qs).contains("MatchBy=host"));
    TfrmMainForm& again = p.open();
    EXPECT_TRUE(again.links().rules().byHost);
    EXPECT_FALSE(again.links().rules().ignored->empty());
}

TEST_F(LinkWindow, NothingChangesForAUserWhoDoesNothing) {
    Program p;
    p.open();
    p.run();
    EXPECT_EQ(p.tree(), u"(a,b,tyres,tyres price,x,y)"_qs);
    EXPECT_TRUE(Dialogs::shown().empty());
    Dialogs::setNextAnswer(QMessageBox::Discard);  // the run's tree is not kept at close
    p.close();
    EXPECT_FALSE(p.dir.read(u"settings.ini"_qs).contains("MatchBy"));
}

TEST_F(LinkWindow, WhyTogetherShowsTheChainForTwoSelectedPhrases) {
    Program p;
    TfrmMainForm& w = p.open();
    ClusterTreeView* view = w.tree();
    QAction* why = w.links().whyAction();
    // Before any run there is nothing to answer for.
    Q_EMIT view->popupMenu()->aboutToShow();
    EXPECT_FALSE(why->isVisible());

    p.run();
    view->selectionModel()->select(p.phrase(u"a"_qs),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Q_EMIT view->popupMenu()->aboutToShow();
    EXPECT_FALSE(why->isVisible());  // one phrase
    view->selectionModel()->select(p.phrase(u"b"_qs),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Q_EMIT view->popupMenu()->aboutToShow();
    ASSERT_TRUE(why->isVisible());

    why->trigger();
    auto* form = w.findChild<WhyTogetherForm*>();
    ASSERT_NE(form, nullptr);
    QTreeWidget* list = form->list();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), u"Shared URLs: 1"_qs);
    EXPECT_EQ(list->topLevelItem(0)->child(0)->text(0), u(100));
    QTreeWidgetItem* chain = list->topLevelItem(1);
    EXPECT_EQ(chain->text(0), u"Linked through a chain of 3 links:"_qs);
    ASSERT_EQ(chain->childCount(), 3);
    EXPECT_TRUE(chain->child(0)->text(0).startsWith(u"a  →  x"));
    EXPECT_TRUE(chain->child(2)->text(0).startsWith(u"y  →  b"));
    EXPECT_EQ(chain->child(1)->childCount(), 3);
    form->close();

    // A cluster in the selection hides the item.
    view->selectionModel()->select(w.treeModel().index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Q_EMIT view->popupMenu()->aboutToShow();
    EXPECT_FALSE(why->isVisible());
}

TEST_F(LinkWindow, TheClustersUrlListGivesTheShareOfItsPhrases) {
    Program p;
    TfrmMainForm& w = p.open();
    p.run();
    const TreeNode* cluster = w.treeModel().nodeOf(w.treeModel().index(0, 0));
    ASSERT_NE(cluster, nullptr);
    TForm1 form(*w.treeModel().resultStore(), *cluster, 0, {}, &w, UiLanguage::English);
    QTreeWidget* list = form.ListView1();
    EXPECT_EQ(list->headerItem()->text(3), u"Share"_qs);
    // Six phrases: u(100) is in a, b and tyres.
    bool found = false;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(1) == u(100)) {
            found = true;
            EXPECT_EQ(list->topLevelItem(i)->text(2), u"3"_qs);
            EXPECT_EQ(list->topLevelItem(i)->text(3), u"50 %"_qs);
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(LinkWindow, WeakLinksAreMarkedOnlyWhenAsked) {
    Program p;
    TfrmMainForm& w = p.open();
    p.run();
    QAction* weak = w.links().weakAction();
    EXPECT_FALSE(weak->isChecked());
    auto marked = [&] {
        QStringList out;
        for (const char16_t* t : {u"a", u"b", u"x", u"y", u"tyres", u"tyres price"}) {
            if (p.phrase(QString::fromUtf16(t)).data(WeakRole).toBool()) {
                out << QString::fromUtf16(t);
            }
        }
        return out;
    };
    EXPECT_TRUE(marked().isEmpty());
    // tyres price hangs on tyres, tyres on a, b on y, y on x, x on a.
    weak->setChecked(true);
    EXPECT_EQ(marked(), (QStringList{u"a"_qs, u"x"_qs, u"y"_qs, u"tyres"_qs}));
    weak->setChecked(false);
    EXPECT_TRUE(marked().isEmpty());
}
