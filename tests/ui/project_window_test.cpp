// Projects through the main window, offscreen: save, open, the question at close, the recovery
// copy after a crash, and opening an export.
#include "search/http_transport.h"
#include "support/temp_dir.h"
#include "table/project_file.h"
#include "tree/cluster_tree_model.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace kelvara;

namespace {

constexpr Stamp kNow = 739'959 * kMsPerDay + 12 * 3600'000LL;
// Every query is answered from the cache, so the service is never asked.
const QString kServiceUrl = u"http://127.0.0.1:9/?key=secret"_qs;

QStringList urls(const QString& prefix, int n, bool mainPages) {
    QStringList out;
    for (int i = 0; i < n; ++i) {
        out << QStringLiteral("http://%1%2.ru/%3")
                   .arg(prefix)
                   .arg(i)
                   .arg(mainPages ? u""_qs : u"p"_qs);
    }
    return out;
}

struct Program {
    test::TempDir dir;
    std::unique_ptr<TfrmMainForm> window;

    Program() {
        dir.write(u"regions.txt"_qs, "+225 Russia\r\n++213 Moscow\r\n++2 Saint Petersburg\r\n");
        writeCache();
    }
    // Two queries sharing four main pages, and one alone with two main pages of its own.
    void writeCache() {
        const QList<std::pair<QString, QStringList>> entries = {
            {u"купить кофе"_qs, urls(u"shared"_qs, 4, true) + urls(u"a"_qs, 2, false)},
            {u"кофе купить"_qs, urls(u"shared"_qs, 4, true) + urls(u"b"_qs, 2, false)},
            {u"чай"_qs, urls(u"c"_qs, 2, true) + urls(u"d"_qs, 3, false)}};
        QByteArray text;
        for (const auto& [query, list] : entries) {
            text += QByteArray::number(kNow) + ';' + query.toUtf8() + ';' +
                    list.join(u';').toUtf8() + "\r\n";
        }
        dir.write(u"cache.txt"_qs, "\xEF\xBB\xBF" + text);
    }
    TfrmMainForm& open(const QString& startFile = {}) {
        TfrmMainForm::Environment env;
        env.platform.executableDir = dir.root() + u'/';
        env.platform.language = UiLanguage::English;
        env.platform.codePage = "windows-1251";
        env.platform.clock = [] { return kNow; };
        env.search.transport = std::make_shared<CurlTransport>();
        env.search.clock = env.platform.clock;
        env.search.codePage = "windows-1251";
        env.opener = [](const QString&) {};
        window = std::make_unique<TfrmMainForm>(std::move(env));
        window->runController().setPollInterval(20);
        if (!startFile.isEmpty()) {
            window->openAtStart(startFile);
        }
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();  // the start-up question, if any
        return *window;
    }
    template <class W>
    W* child(const char* name) {
        W* w = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void run() {
        child<QLineEdit>("LabeledEdit2")->setText(kServiceUrl);
        child<QPlainTextEdit>("Memo1")->setPlainText(u"купить кофе\nкофе купить\nчай"_qs);
        window->Button1Click();
    }
    // What a killed process leaves: the window is gone without its close.
    void crash() { window.reset(); }
    ClusterTreeModel& model() { return window->treeModel(); }
    QString tree() {
        QStringList out;
        for (const auto& c : model().clusters()) {
            QStringList phrases;
            for (const auto& p : c->children) {
                phrases << p->Data.Caption + (p->checked ? u"*"_qs : u""_qs);
            }
            out << c->Data.Caption + (c->checked ? u"*"_qs : u""_qs) + u'(' + phrases.join(u',') +
                       u')';
        }
        return out.join(u' ');
    }
    QString mainPages(int cluster, int phrase) {
        const QModelIndex c = model().index(cluster, tcMainPages);
        return model()
                   .data(model().index(phrase, tcMainPages, model().index(cluster, 0)))
                   .toString() +
               u'/' + model().data(c).toString();
    }
    QString program() const { return u"Tarvelo Kelvara "_qs + GetVersionText(true); }
    QString recovery() const { return dir.path(u"recovery.kelvara"_qs); }
};

class ProjectWindow : public ::testing::Test {
protected:
    void SetUp() override { Dialogs::reset(); }
    void TearDown() override { Dialogs::reset(); }
};

const QString kTree = u"кофе купить(кофе купить,купить кофе) [ неотсортированные ](чай)"_qs;

}  // namespace

TEST_F(ProjectWindow, SavedWorkOpensAgainAfterTheCacheIsGone) {
    Program p;
    TfrmMainForm& w = p.open();
    EXPECT_EQ(w.windowTitle(), p.program() + u"[*]"_qs);
    EXPECT_FALSE(w.isWindowModified());
    p.run();
    ASSERT_EQ(p.tree(), kTree);
    EXPECT_TRUE(w.isWindowModified());
    EXPECT_TRUE(QFile::exists(p.recovery()));  // written after the run

    // The user's edits: a rename, a checked cluster and one phrase unchecked again, settings.
    p.model().setData(p.model().index(1, 0), u"напитки"_qs, Qt::EditRole);
    p.model().setData(p.model().index(0, 0), Qt::Checked, Qt::CheckStateRole);
    p.model().setData(p.model().index(1, 0, p.model().index(0, 0)), Qt::Unchecked,
                      Qt::CheckStateRole);
    QTest::mouseClick(p.child<QRadioButton>("RadioButton2"), Qt::LeftButton);
    p.child<QComboBox>("cbPorog")->setCurrentIndex(6);
    const QString edited = u"кофе купить*(кофе купить*,купить кофе) напитки(чай)"_qs;
    ASSERT_EQ(p.tree(), edited);

    // Ctrl+S with no project yet asks where, and adds the extension.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    Dialogs::setNextFile(p.dir.path(u"кофе"_qs));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    EXPECT_EQ(Dialogs::shown()[0].kind, Dialogs::Kind::SaveFile);
    const QString file = p.dir.path(u"кофе.kelvara"_qs);
    EXPECT_EQ(w.projectPath(), file);
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(p.dir.read(u"кофе.kelvara"_qs).contains("secret"));  // the service key stays out
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_EQ(w.windowTitle(), u"кофе.kelvara[*] - "_qs + p.program());
    EXPECT_FALSE(QFile::exists(p.recovery()));  // nothing unsaved is left
    const QString mainPages = p.mainPages(0, 1);
    EXPECT_EQ(mainPages, u"4/4"_qs);
    w.close();
    EXPECT_FALSE(w.isVisible());  // nothing to ask

    // Another day: the cache has expired. The project brings its own results.
    QFile::remove(p.dir.path(u"cache.txt"_qs));
    TfrmMainForm& again = p.open();
    EXPECT_EQ(p.tree(), QString());
    Dialogs::setNextFile(file);
    p.child<QAction>("actionOpen")->trigger();
    EXPECT_EQ(p.tree(), edited);
    EXPECT_EQ(p.mainPages(0, 1), mainPages);
    EXPECT_EQ(p.mainPages(1, 0), u"2/"_qs);  // a renamed cluster names no query
    EXPECT_EQ(p.child<QPlainTextEdit>("Memo1")->toPlainText(), u"купить кофе\nкофе купить\nчай"_qs);
    EXPECT_TRUE(p.child<QRadioButton>("RadioButton2")->isChecked());
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"7"_qs);
    EXPECT_TRUE(p.child<QPushButton>("Button4")->isEnabled());
    EXPECT_FALSE(again.isWindowModified());
    EXPECT_EQ(again.windowTitle(), u"кофе.kelvara[*] - "_qs + p.program());

    // Ctrl+S saves to it without asking; the bytes are the same as before.
    const QByteArray saved = p.dir.read(u"кофе.kelvara"_qs);
    p.child<QAction>("actionSave")->trigger();
    EXPECT_EQ(p.dir.read(u"кофе.kelvara"_qs), saved);
    EXPECT_EQ(Dialogs::shown().size(), 2u);  // the open dialog only
}

TEST_F(ProjectWindow, ClosingWithUnsavedChangesAsks) {
    Program p;
    TfrmMainForm& w = p.open();
    QTest::keyClicks(p.child<QPlainTextEdit>("Memo1"), u"tea"_qs);
    EXPECT_TRUE(w.isWindowModified());

    Dialogs::setNextAnswer(QMessageBox::Cancel);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    EXPECT_EQ(Dialogs::shown()[0].kind, Dialogs::Kind::Question);
    EXPECT_EQ(Dialogs::shown()[0].text, u"The work has changes that are not saved. Save them?"_qs);
    EXPECT_EQ(Dialogs::shown()[0].buttons,
              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);

    // Save, but the save dialog is cancelled: the window stays.
    Dialogs::setNextAnswer(QMessageBox::Save);
    Dialogs::setNextFile(std::nullopt);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());

    // Save into a file: the work is in it and the window closes.
    Dialogs::setNextAnswer(QMessageBox::Save);
    Dialogs::setNextFile(p.dir.path(u"closed.kelvara"_qs));
    EXPECT_TRUE(w.close());
    const ProjectRead read = loadProject(p.dir.path(u"closed.kelvara"_qs));
    ASSERT_TRUE(read.project);
    EXPECT_EQ(read.project->queries, u"tea"_qs);
    EXPECT_TRUE(p.dir.read(u"settings.ini"_qs).contains("Region="));  // shut-down ran

    // Discard: closed, nothing written, nothing left to recover.
    TfrmMainForm& second = p.open();
    QTest::keyClicks(p.child<QPlainTextEdit>("Memo1"), u"coffee"_qs);
    second.setRecoveryInterval(5);
    QTest::qWait(50);
    EXPECT_TRUE(QFile::exists(p.recovery()));  // the timer kept a copy meanwhile
    Dialogs::setNextAnswer(QMessageBox::Discard);
    EXPECT_TRUE(second.close());
    EXPECT_FALSE(QFile::exists(p.recovery()));
    EXPECT_EQ(loadProject(p.dir.path(u"closed.kelvara"_qs)).project->queries, u"tea"_qs);
}

TEST_F(ProjectWindow, UnsavedWorkIsOfferedBackAfterACrash) {
    Program p;
    TfrmMainForm& w = p.open();
    p.run();
    Dialogs::setNextFile(p.dir.path(u"a.kelvara"_qs));
    ASSERT_TRUE(w.saveProjectAs());
    // An edit after the save, then the process dies before the next save.
    p.model().setData(p.model().index(0, 0), u"кофе"_qs, Qt::EditRole);
    w.setRecoveryInterval(5);
    QTest::qWait(50);
    p.crash();
    ASSERT_TRUE(QFile::exists(p.recovery()));

    Dialogs::reset();
    Dialogs::setNextAnswer(QMessageBox::Yes);
    TfrmMainForm& back = p.open();
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    EXPECT_TRUE(Dialogs::shown()[0].text.contains(u"Restore it?"_qs));
    EXPECT_EQ(p.tree(), u"кофе(кофе купить,купить кофе) [ неотсортированные ](чай)"_qs);
    EXPECT_EQ(p.child<QPlainTextEdit>("Memo1")->toPlainText(), u"купить кофе\nкофе купить\nчай"_qs);
    // Still unsaved, and named after its project: Ctrl+S goes there.
    EXPECT_TRUE(back.isWindowModified());
    EXPECT_EQ(back.windowTitle(), u"a.kelvara[*] - "_qs + p.program());
    ASSERT_TRUE(back.saveProject());
    EXPECT_EQ(loadProject(p.dir.path(u"a.kelvara"_qs)).project->clusters[0].caption, u"кофе"_qs);
    EXPECT_FALSE(QFile::exists(p.recovery()));

    // Refused: the copy is deleted and the window starts empty.
    p.model().setData(p.model().index(0, 0), u"x"_qs, Qt::EditRole);
    back.setRecoveryInterval(5);
    QTest::qWait(50);
    p.crash();
    ASSERT_TRUE(QFile::exists(p.recovery()));
    Dialogs::setNextAnswer(QMessageBox::No);
    p.open();
    EXPECT_EQ(p.tree(), QString());
    EXPECT_FALSE(QFile::exists(p.recovery()));
}

TEST_F(ProjectWindow, AnExportOpensAsATreeAndBadFilesChangeNothing) {
    Program p;
    TfrmMainForm& w = p.open();
    p.run();
    const QString csv = p.dir.path(u"grouped.csv"_qs);
    Dialogs::setNextFile(csv);
    QTest::mouseClick(p.child<QPushButton>("Button4"), Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(csv));
    Dialogs::setNextAnswer(QMessageBox::Discard);
    ASSERT_TRUE(w.close());

    // Named on the command line, as a file manager would start the program.
    Dialogs::reset();
    TfrmMainForm& opened = p.open(csv);
    EXPECT_TRUE(Dialogs::shown().empty());
    EXPECT_EQ(p.tree(), kTree);
    EXPECT_EQ(p.mainPages(0, 1), u"4/4"_qs);  // from the stored results
    EXPECT_EQ(p.child<QPlainTextEdit>("Memo1")->toPlainText(), u"кофе купить\nкупить кофе\nчай"_qs);
    EXPECT_EQ(opened.windowTitle(), u"grouped.csv[*] - "_qs + p.program());
    EXPECT_FALSE(opened.isWindowModified());
    EXPECT_TRUE(opened.projectPath().isEmpty());
    // Saving never writes a project over the export: it asks, proposing a project beside it.
    Dialogs::setNextFile(std::nullopt);
    EXPECT_FALSE(opened.saveProject());
    EXPECT_EQ(Dialogs::shown().back().value, p.dir.path(u"grouped.kelvara"_qs));

    // Files that are neither: a message naming the line, and the work as it was.
    struct Bad {
        const char* name;
        QByteArray bytes;
        const char* says;
    };
    const Bad bad[] = {
        {"newer.kelvara", "kelvara-project 9\r\n", "newer version of Kelvara"},
        {"cut.kelvara", "kelvara-project 1\r\nmethod soft\r\nthreshold 3\r\n",
         "cut short: it ends at line 3"},
        {"picture.kelvara", QByteArray("\x89PNG\r\n\x1a\n", 8), "not a Kelvara project"},
        {"notes.csv", "Query clustering result\r\n\r\nGroup;Query;Main page\r\nA;a\r\n",
         "line 4 is not a line of an export"},
    };
    p.model().setData(p.model().index(0, 0), Qt::Checked, Qt::CheckStateRole);
    const QString before = p.tree();
    for (const Bad& b : bad) {
        Dialogs::reset();
        EXPECT_FALSE(opened.openFile(p.dir.write(QString::fromLatin1(b.name), b.bytes)));
        ASSERT_EQ(Dialogs::shown().size(), 1u) << b.name;  // no question about the changes
        EXPECT_EQ(Dialogs::shown()[0].kind, Dialogs::Kind::Error);
        EXPECT_TRUE(Dialogs::shown()[0].text.contains(QString::fromUtf8(b.says)))
            << Dialogs::shown()[0].text.toStdString();
        EXPECT_TRUE(Dialogs::shown()[0].text.contains(QString::fromLatin1(b.name)));
        EXPECT_EQ(p.tree(), before);
        EXPECT_TRUE(opened.isWindowModified());
    }
}
