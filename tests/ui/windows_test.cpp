// The about window, the URL list window, and the import and export buttons.
#include "search/cache.h"
#include "support/temp_dir.h"
#include "tree/cluster_tree_model.h"
#include "ui/about_form.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"
#include "ui/qt_translations.h"
#include "ui/url_list_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

using namespace kelvara;

namespace {

constexpr Stamp kNow = 739'959 * kMsPerDay;

class Windows : public ::testing::Test {
protected:
    void SetUp() override { Dialogs::reset(); }
    void TearDown() override { Dialogs::reset(); }
};

QStringList rowsOf(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = list->topLevelItem(i);
        out << it->text(0) + u'|' + it->text(1) + u'|' + it->text(2);
    }
    return out;
}

void remember(ResultStore& store, const QString& q, const QStringList& urls) {
    auto e = std::make_unique<TSerpEntry>(kNow);
    for (const QString& u : urls) {
        e->Urls.add(u);
    }
    store.add(q, std::move(e));
}

}  // namespace

TEST_F(Windows, AboutWindowRuleTextsAndLinks) {
    QStringList opened;
    TfrmAboutForm about(UiLanguage::English, [&](const QString& u) { opened << u; });
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_EQ(about.size(), QSize(377, 238));
    EXPECT_EQ(about.windowTitle(), u"About the program"_qs);
    EXPECT_EQ(about.findChild<QLabel*>(u"Label3"_qs)->text(),
              u"Version "_qs + GetVersionText(false));
    auto* label4 = about.findChild<QLabel*>(u"Label4"_qs);
    EXPECT_EQ(label4->geometry().right() + 1, about.width() - 5);

    // The rule, read back from the window itself.
    const QImage shot = about.grab().toImage();
    const int y = 137;
    auto grey = [&](int x) { return qRed(shot.pixel(x, y)); };
    for (int x = 150; x < 377 - 150; ++x) {
        ASSERT_EQ(shot.pixel(x, y) & 0xFFFFFF, 0u) << x;
    }
    for (int k = 0; k <= 124; ++k) {
        ASSERT_EQ(grey(150 - k), TfrmAboutForm::fadeGrey(k)) << k;
        ASSERT_EQ(grey(377 - 150 + k), TfrmAboutForm::fadeGrey(k)) << k;
    }
    EXPECT_EQ(TfrmAboutForm::fadeGrey(124), 254);
    EXPECT_EQ(shot.pixel(20, y) & 0xFFFFFF, 0xFFFFFFu);

    // Hover moves the highlight; a click opens the page and clears both.
    auto* web = about.findChild<QLabel*>(u"Label5"_qs);
    auto* mail = about.findChild<QLabel*>(u"Label6"_qs);
    auto* background = about.findChild<QLabel*>(u"Image1"_qs);
    auto lit = [](QLabel* l) {
        return l->font().bold() && l->palette().color(QPalette::WindowText) == QColor(52, 102, 153);
    };
    QTest::mouseMove(web, QPoint(5, 5));
    EXPECT_TRUE(lit(web));
    EXPECT_FALSE(lit(mail));
    QTest::mouseMove(mail, QPoint(5, 5));
    EXPECT_TRUE(lit(mail));
    EXPECT_FALSE(lit(web));
    QTest::mouseMove(background, QPoint(300, 20));
    EXPECT_FALSE(lit(mail));
    QTest::mouseMove(web, QPoint(5, 5));
    QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(lit(web));
    EXPECT_EQ(opened, QStringList{TfrmAboutForm::productPage()});
    QTest::mouseClick(about.findChild<QLabel*>(u"Panel2"_qs), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(Windows, UrlListForAPhraseAndForACluster) {
    ResultStore store;
    QStringList ten;
    for (int i = 0; i < 10; ++i) {
        ten << QStringLiteral("http://site%1.ru/").arg(i);
    }
    remember(store, u"p1"_qs, ten);
    remember(store, u"p2"_qs, {u"http://site3.ru/"_qs, u"http://xn--e1afmkfd.xn--p1ai/"_qs});
    remember(store, u"p3"_qs, {u"http://site3.ru/"_qs, u"file:///etc/passwd"_qs});
    ClusterTreeModel model;
    model.setResultStore(&store);
    model.fillTree({{u"p1"_qs, {u"p1"_qs, u"p2"_qs, u"p3"_qs}}, {u"empty"_qs, {}}});
    QStringList opened;
    const UrlOpener opener = [&](const QString& u) { opened << u; };

    const TreeNode* cluster = model.nodeOf(model.index(0, 0));
    TForm1 phrase(store, *cluster->children[0], 1, opener);
    EXPECT_EQ(phrase.windowTitle(), u"Список URL"_qs);
    EXPECT_EQ(phrase.width(), 680);
    const QStringList rows = rowsOf(phrase.ListView1());
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows[0], u"1|http://site0.ru/|-"_qs);
    EXPECT_EQ(rows[9], u"10|http://site9.ru/|-"_qs);

    TForm1 whole(store, *cluster, 0, opener);
    const QStringList counted = rowsOf(whole.ListView1());
    ASSERT_GE(counted.size(), 3);
    EXPECT_EQ(counted[0], u"1|http://site3.ru/|3"_qs);
    EXPECT_TRUE(counted.join(u' ').contains(u"|http://пример.рф|1"_qs))
        << counted.join(u' ').toStdString();
    EXPECT_GT(whole.height(), phrase.height());

    // A click opens the decoded address; a file: address is never opened.
    whole.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&whole));
    QTreeWidget* list = whole.ListView1();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* it = list->topLevelItem(i);
        list->scrollToItem(it);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(it).center());
    }
    EXPECT_TRUE(opened.contains(u"http://пример.рф"_qs));
    EXPECT_TRUE(opened.contains(u"http://site3.ru/"_qs));
    EXPECT_FALSE(opened.join(u' ').contains(u"file:"_qs));

    TForm1 empty(store, *model.nodeOf(model.index(1, 0)), 0, opener);
    EXPECT_EQ(empty.ListView1()->topLevelItemCount(), 0);
}

TEST_F(Windows, OnlyTheIconColumnOfTheTreeOpensTheUrlList) {
    test::TempDir dir;
    dir.write(u"regions.txt"_qs, "+213 Moscow\r\n");
    TfrmMainForm::Environment env;
    env.platform.executableDir = dir.root() + u'/';
    env.platform.clock = [] { return kNow; };
    TfrmMainForm w(env);
    remember(w.store(), u"q"_qs, {u"http://a.ru/"_qs});
    w.treeModel().fillTree({{u"q"_qs, {u"q"_qs}}});
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ClusterTreeView* tree = w.tree();
    int opened = 0;
    QStringList rows;
    for (int column : {0, 2, 3, 1}) {
        QTimer::singleShot(0, [&] {
            if (auto* form = qobject_cast<TForm1*>(QApplication::activeModalWidget())) {
                ++opened;
                rows = rowsOf(form->ListView1());
                form->reject();
            }
        });
        const QRect r = tree->visualRect(w.treeModel().index(0, column));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
        QTest::qWait(20);
    }
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(rows, QStringList{u"1|http://a.ru/|1"_qs});
}

TEST_F(Windows, ImportThenRunAndExportToANameWithoutCsv) {
    test::TempDir dir;
    dir.write(u"regions.txt"_qs, "+213 Moscow\r\n");
    // windows-1251: "Запрос;URL [Yandex]", then two queries sharing three URLs, and a third.
    QByteArray csv = "\xC7\xE0\xEF\xF0\xEE\xF1;URL [Yandex]\r\n";
    for (const char* q : {"\xEA\xEE\xF4\xE5", "\xEA\xEE\xF4\xE5 \xF6\xE5\xED\xE0"}) {
        csv += QByteArray(q) + ";\r\n;http://a.ru/\r\n;http://b.ru/\r\n;http://c.ru/\r\n";
    }
    csv += "\xF7\xE0\xE9;\r\n;http://tea.ru/\r\n";
    const QString file = dir.write(u"in.csv"_qs, csv);
    TfrmMainForm::Environment env;
    env.platform.executableDir = dir.root() + u'/';
    env.platform.codePage = "windows-1251";
    env.platform.clock = [] { return kNow; };
    TfrmMainForm w(env);
    w.runController().setPollInterval(10);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    Dialogs::setNextFile(file);
    QTest::mouseClick(w.findChild<QPushButton*>(u"BitBtn2"_qs), Qt::LeftButton);
    EXPECT_EQ(w.findChild<QPlainTextEdit*>(u"Memo1"_qs)->toPlainText(), u"кофе\nкофе цена\nчай"_qs);
    EXPECT_EQ(w.treeModel().content(), (ClusterList{{u"кофе"_qs, {u"кофе"_qs, u"кофе цена"_qs}},
                                                    {unsortedCaption(), {u"чай"_qs}}}));

    auto* exportButton = w.findChild<QPushButton*>(u"Button4"_qs);
    ASSERT_TRUE(exportButton->isEnabled());
    Dialogs::setNextFile(dir.path(u"result.txt"_qs));
    QTest::mouseClick(exportButton, Qt::LeftButton);
    const QByteArray out = dir.read(u"result.txt.csv"_qs);
    EXPECT_TRUE(out.startsWith("Query clustering result\r\n\r\nGroup;Query;Main page\r\n"));
    EXPECT_TRUE(out.contains("\xEA\xEE\xF4\xE5 (2);\xEA\xEE\xF4\xE5;3\r\n"));
    // The dialog proposes the last file next time.
    Dialogs::setNextFile(std::nullopt);
    QTest::mouseClick(exportButton, Qt::LeftButton);
    EXPECT_EQ(Dialogs::shown().back().value, dir.path(u"result.txt.csv"_qs));

    // A file that cannot be read: the error names it, and no run starts.
    Dialogs::setNextFile(dir.path(u"missing.csv"_qs));
    Dialogs::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(w.findChild<QPushButton*>(u"BitBtn2"_qs), Qt::LeftButton);
    EXPECT_EQ(Dialogs::shown().back().kind, Dialogs::Kind::Error);
    EXPECT_TRUE(Dialogs::shown().back().text.contains(u"missing.csv"_qs));
    EXPECT_EQ(w.treeModel().content().size(), 2u);
}

// Qt's own buttons and dialogs speak the interface language: a Russian window asks "Да"/"Отмена".
TEST_F(Windows, QtStandardButtonsFollowTheInterfaceLanguage) {
    auto buttons = [] {
        QMessageBox box(QMessageBox::Question, {}, u"?"_qs, QMessageBox::Yes | QMessageBox::Cancel);
        return box.button(QMessageBox::Yes)->text().remove(u'&') + u'/' +
               box.button(QMessageBox::Cancel)->text().remove(u'&');
    };
    EXPECT_EQ(installQtTranslations(UiLanguage::English), nullptr);
    EXPECT_EQ(buttons(), u"Yes/Cancel"_qs);
    QTranslator* russian = installQtTranslations(UiLanguage::Russian);
    ASSERT_NE(russian, nullptr) << "Qt's translations (Debian: qt6-translations-l10n) are missing";
    EXPECT_EQ(buttons(), u"Да/Отмена"_qs);
    QCoreApplication::removeTranslator(russian);
    delete russian;
    EXPECT_EQ(buttons(), u"Yes/Cancel"_qs);
    EXPECT_EQ(installQtTranslations(UiLanguage::Russian, u"/no/such/folder"_qs), nullptr);
}
