// Whole runs through the main window, offscreen, against the loopback search-service double.
#include "ui/main_form.h"
#include "search/cache.h"
#include "search/http_transport.h"
#include "support/service_double.h"
#include "support/temp_dir.h"
#include "tree/cluster_tree_model.h"
#include "tree/tree_notation.h"
#include "ui/about_form.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/progress_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QUndoStack>

using namespace kelvara;
using kelvara::test::ServiceAnswer;
using kelvara::test::ServiceDouble;

namespace {

constexpr Stamp kNow = 739'959 * kMsPerDay + 12 * 3600'000LL;

// The files beside the program, and the window over them.
struct Program {
    test::TempDir dir;
    std::unique_ptr<TfrmMainForm> window;
    QStringList opened;

    Program() {
        dir.write(u"regions.txt"_qs, "+225 Russia\r\n++213 Moscow\r\n++2 Saint Petersburg\r\n");
    }
    void writeCache(const QList<std::pair<QString, QStringList>>& entries, Stamp stamp = kNow) {
        QByteArray text;
        for (const auto& [query, urls] : entries) {
            text += QByteArray::number(stamp) + ';' + query.toUtf8();
            for (const QString& u : urls) {
                text += ';' + u.toUtf8();
            }
            text += "\r\n";
        }
        dir.write(u"cache.txt"_qs, QByteArray("\xEF\xBB\xBF") + text);
    }
    TfrmMainForm& open(UiLanguage language = UiLanguage::English) {
        TfrmMainForm::Environment env;
        env.platform.executableDir = dir.root() + u'/';
        env.platform.language = language;
        env.platform.codePage = "windows-1251";
        env.platform.clock = [] { return kNow; };
        CurlTransportOptions options;
        options.caFile = ServiceDouble::caFile();
        options.connectTimeoutMs = 2000;
        env.search.transport = std::make_shared<CurlTransport>(options);
        env.search.clock = env.platform.clock;
        env.search.codePage = "windows-1251";
        env.search.pause = [](int) {};
        env.opener = [this](const QString& url) { opened << url; };
        window = std::make_unique<TfrmMainForm>(std::move(env));
        window->runController().setPollInterval(20);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }
    template <class W>
    W* child(const char* name) {
        W* w = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void close() {
        window->close();
        window.reset();
    }
    // Fills the boxes and presses the cluster button; returns when the run has ended.
    void run(const QString& url, const QStringList& queries) {
        child<QLineEdit>("LabeledEdit2")->setText(url);
        child<QPlainTextEdit>("Memo1")->setPlainText(queries.join(u'\n'));
        QPushButton* button = child<QPushButton>("Button1");
        ASSERT_TRUE(button->isEnabled());
        window->Button1Click();
    }
    QString tree() const {
        QString out;
        for (const Cluster& c : window->treeModel().content()) {
            out += c.caption + u'(' + c.phrases.join(u',') + u')' + u' ';
        }
        return out.trimmed();
    }
};

class MainForm : public ::testing::Test {
protected:
    void SetUp() override { Dialogs::reset(); }
    void TearDown() override { Dialogs::reset(); }
};

QStringList urls(const QString& prefix, int n) {
    QStringList out;
    for (int i = 0; i < n; ++i) {
        out << QStringLiteral("http://%1%2.ru/").arg(prefix).arg(i);
    }
    return out;
}

}  // namespace

TEST_F(MainForm, FirstStartWithEmptyRegionsAndShutDownWritesBothFiles) {
    Program p;
    p.dir.write(u"regions.txt"_qs, "");
    TfrmMainForm& w = p.open();
    // "[*]": where the mark of unsaved changes goes.
    EXPECT_EQ(w.windowTitle(),
              QStringLiteral("Tarvelo Kelvara ") + GetVersionText(true) + u"[*]"_qs);
    EXPECT_EQ(p.child<QLineEdit>("LabeledEdit2")->text(), QString());
    EXPECT_TRUE(p.child<QRadioButton>("RadioButton1")->isChecked());
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"3"_qs);
    EXPECT_EQ(p.child<QComboBox>("cbRegion")->currentIndex(), -1);
    EXPECT_EQ(p.child<QLabel>("Label2")->text(), u"Queries for clustering: 0"_qs);
    EXPECT_EQ(p.child<QLabel>("lbCountText")->text(), u"Кластеров: 0, запросов: 0"_qs);
    EXPECT_FALSE(p.child<QPushButton>("Button1")->isEnabled());
    EXPECT_FALSE(p.child<QPushButton>("Button4")->isEnabled());
    p.close();
    // Both in UTF-8 with a mark; the settings (which hold the key) for the owner's eyes only.
    EXPECT_EQ(p.dir.read(u"settings.ini"_qs),
              QByteArray("\xEF\xBB\xBF[CONFIG]\r\nYandexURL=\r\nHardMode=0\r\nThreshold=3\r\n"
                         "Region=213\r\n"));
    EXPECT_EQ(QFile::permissions(p.dir.path(u"settings.ini"_qs)) &
                  (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                   QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_EQ(p.dir.read(u"cache.txt"_qs), QByteArray("\xEF\xBB\xBF"));
}

TEST_F(MainForm, ControlsFollowTheRules) {
    Program p;
    p.dir.write(u"settings.ini"_qs,
                "[config]\r\nyandexurl=http://s/?k=1\r\nhardmode=1\r\nregion=2\r\n");
    TfrmMainForm& w = p.open(UiLanguage::Russian);
    EXPECT_TRUE(p.child<QRadioButton>("RadioButton2")->isChecked());
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"4"_qs);
    EXPECT_EQ(p.child<QComboBox>("cbRegion")->currentData().toInt(), 2);
    EXPECT_EQ(p.child<QPushButton>("Button1")->text(), u"Кластеризовать"_qs);

    // The URL box alone re-evaluates the cluster button too.
    auto* url = p.child<QLineEdit>("LabeledEdit2");
    auto* memo = p.child<QPlainTextEdit>("Memo1");
    url->clear();
    memo->setPlainText(u"a\n\nb\n"_qs);  // a blank line is no query
    EXPECT_EQ(p.child<QLabel>("Label2")->text(), u"Запросы для кластеризации: 2"_qs);
    EXPECT_FALSE(p.child<QPushButton>("Button1")->isEnabled());
    QTest::keyClicks(url, u"http://x/?"_qs);
    EXPECT_TRUE(p.child<QPushButton>("Button1")->isEnabled());

    // Choosing a method resets the threshold.
    p.child<QComboBox>("cbPorog")->setCurrentIndex(6);
    QTest::mouseClick(p.child<QRadioButton>("RadioButton1"), Qt::LeftButton);
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"3"_qs);
    p.child<QComboBox>("cbPorog")->setCurrentIndex(6);
    QTest::mouseClick(p.child<QRadioButton>("RadioButton2"), Qt::LeftButton);
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"4"_qs);

    // Two equal halves until the splitter moves; then the left pane keeps its share.
    auto* splitter = p.child<QSplitter>("Splitter1");
    w.resize(1000, 600);
    QCoreApplication::processEvents();
    const int available = p.child<QWidget>("Panel1")->width() - 6;
    EXPECT_EQ(splitter->sizes().value(0), available / 2);
    splitter->setSizes({available / 3, available - available / 3});
    Q_EMIT splitter->splitterMoved(available / 3, 1);
    w.resize(1300, 600);
    QCoreApplication::processEvents();
    const int wider = p.child<QWidget>("Panel1")->width() - 6;
    EXPECT_NEAR(splitter->sizes().value(0), wider / 3.0, 1.0);
    p.close();
    EXPECT_TRUE(p.dir.read(u"settings.ini"_qs).contains("HardMode=1\r\nRegion=2\r\nThreshold=4"));
}

TEST_F(MainForm, AllFreshRunAsksNothingAndFillsTheTree) {
    Program p;
    const QStringList shared = urls(u"shared"_qs, 4);
    p.writeCache({{u"купить кофе"_qs, shared + urls(u"a"_qs, 2)},
                  {u"кофе купить"_qs, shared + urls(u"b"_qs, 2)},
                  {u"чай"_qs, urls(u"c"_qs, 5)}});
    ServiceDouble service;
    p.open();
    p.run(service.searchUrl(), {u"купить кофе"_qs, u"кофе купить"_qs, u"чай"_qs});
    EXPECT_EQ(service.requestCount(), 0);
    EXPECT_EQ(p.tree(), u"кофе купить(кофе купить,купить кофе) [ неотсортированные ](чай)"_qs);
    EXPECT_TRUE(p.child<QPushButton>("Button4")->isEnabled());
    EXPECT_EQ(p.child<QLabel>("lbCountText")->text(), u"Кластеров: 2, запросов: 3"_qs);
    EXPECT_FALSE(p.window->progressForm()->isVisible());
}

TEST_F(MainForm, StaleAndMissingQueriesAreFetchedAndKept) {
    Program p;
    p.writeCache({{u"old"_qs, urls(u"old"_qs, 3)}}, kNow - kFreshnessMs);  // loaded, not fresh
    ServiceDouble service;
    service.script(u"old"_qs, {ServiceAnswer::urls(urls(u"x"_qs, 5))});
    service.script(u"new"_qs,
                   {ServiceAnswer::withStatus(503), ServiceAnswer::urls(urls(u"x"_qs, 4))});
    p.open();
    p.run(service.searchUrl(), {u"old"_qs, u"new"_qs});
    EXPECT_EQ(service.requestCount(), 3);
    EXPECT_EQ(service.requests()[0].param(u"lr"_qs), u"213"_qs);
    EXPECT_EQ(p.tree(), u"new(new,old)"_qs);
    EXPECT_TRUE(Dialogs::shown().empty());
    p.close();
    const QByteArray cache = p.dir.read(u"cache.txt"_qs);
    EXPECT_TRUE(cache.contains(";new;http://x0.ru/")) << cache.toStdString();
    EXPECT_TRUE(cache.contains(";old;http://x0.ru/")) << cache.toStdString();
}

TEST_F(MainForm, FailedFetchesShowTheErrorBoxAndKeepTheTree) {
    struct Case {
        ServiceAnswer answer;
        QString message;
    };
    const Case cases[] = {
        // The message of the error, then the query that failed and, for a refused request,
        // the HTTP status.
        {ServiceAnswer::error(20, u"Внутренняя ошибка"_qs),
         u"Error: Yandex returned a search error:\r\n\"Внутренняя ошибка\"\r\n"
         u"Query: \"b\""_qs},
        {ServiceAnswer::error(32, u"Лимит запросов исчерпан"_qs),
         u"Error: the daily limit of requests to the service is used up (code 32). Everything "
         u"fetched so far is kept; run again when the limit renews.\r\nQuery: \"b\""_qs},
        {ServiceAnswer::error(42, u"Invalid key"_qs),
         u"Error: the service refuses every request (code 42): \"Invalid key\"\r\nCheck the key, "
         u"the folder and the address in the URL.\r\nQuery: \"b\""_qs},
        {ServiceAnswer::html(),
         u"Error: the answer from Yandex is not a valid XML\r\nQuery: \"b\""_qs},
        {ServiceAnswer::withStatus(503),
         u"Error: failed to establish connection to the service, Yandex\r\nQuery: \"b\"\r\n"
         u"HTTP status: 503"_qs},
    };
    for (const Case& c : cases) {
        Dialogs::reset();
        Program p;
        ServiceDouble service;
        service.script(u"a"_qs, {ServiceAnswer::urls(urls(u"a"_qs, 3))});
        service.script(u"b"_qs, {c.answer});
        p.open();
        Dialogs::setNextAnswer(QMessageBox::Ok);
        p.run(service.searchUrl(), {u"a"_qs, u"b"_qs});
        ASSERT_EQ(Dialogs::shown().size(), 1u);
        EXPECT_EQ(Dialogs::shown()[0].kind, Dialogs::Kind::Error);
        EXPECT_EQ(Dialogs::shown()[0].text, c.message);
        EXPECT_EQ(p.tree(), QString());
        EXPECT_FALSE(p.child<QPushButton>("Button4")->isEnabled());
        EXPECT_TRUE(findEntry(p.window->store(), u"a"));  // answered before the error: kept
        EXPECT_FALSE(p.window->progressForm()->isVisible());
        // No text the user sees carries the credentials of the URL.
        EXPECT_FALSE(Dialogs::shown()[0].text.contains(u"key="_qs));
    }
}

TEST_F(MainForm, ConnectionFailureNamesTheConnectionError) {
    Program p;
    int port = 0;
    {
        ServiceDouble gone;
        port = gone.port();
    }
    p.open();
    Dialogs::setNextAnswer(QMessageBox::Ok);
    p.run(QStringLiteral("http://127.0.0.1:%1/search/xml?user=u&key=secret").arg(port), {u"a"_qs});
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    // No answer came, so no HTTP status.
    EXPECT_EQ(Dialogs::shown()[0].text,
              u"Error: failed to establish connection to the service, Yandex\r\nQuery: \"a\""_qs);
}

// An address that is not a web one is refused before anything is sent, without its key.
TEST_F(MainForm, AServiceUrlThatIsNotHttpIsRefused) {
    for (const QString& url : {u"ftp://host/search?key=secret"_qs, u"host/search?key=secret"_qs}) {
        Dialogs::reset();
        Program p;
        p.open();
        Dialogs::setNextAnswer(QMessageBox::Ok);
        p.run(url, {u"a"_qs});
        ASSERT_EQ(Dialogs::shown().size(), 1u) << url.toStdString();
        EXPECT_TRUE(Dialogs::shown()[0].text.startsWith(
            u"The service URL must begin with http:// or https://"_qs));
        EXPECT_FALSE(Dialogs::shown()[0].text.contains(u"secret"_qs));
        EXPECT_FALSE(p.window->progressForm()->isVisible());
        EXPECT_EQ(p.tree(), QString());
    }
}

TEST_F(MainForm, CancelDuringTheFetchKeepsWhatWasAnswered) {
    Program p;
    ServiceDouble service;
    service.script(u"first"_qs, {ServiceAnswer::urls(urls(u"f"_qs, 3))});
    ServiceAnswer slow = ServiceAnswer::urls(urls(u"s"_qs, 3));
    slow.neverFinish = true;
    service.script(u"second"_qs, {slow});
    p.open();
    // The user presses Cancel once the first query has been answered.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (service.requestCount() >= 2) {
            QTest::mouseClick(p.window->progressForm()->BitBtn1(), Qt::LeftButton);
        }
    });
    watcher.start(20);
    p.run(service.searchUrl(), {u"first"_qs, u"second"_qs});
    watcher.stop();
    EXPECT_TRUE(Dialogs::shown().empty());
    EXPECT_EQ(p.tree(), QString());
    EXPECT_TRUE(findEntry(p.window->store(), u"first"));
    EXPECT_FALSE(findEntry(p.window->store(), u"second"));
    p.close();
    EXPECT_TRUE(p.dir.read(u"cache.txt"_qs).contains(";first;http://f0.ru/"));
}

TEST_F(MainForm, CancelDuringClusteringLeavesTheTreeAsItWas) {
    Program p;
    QList<std::pair<QString, QStringList>> entries;
    QStringList queries;
    for (int i = 0; i < 3000; ++i) {
        const QString q = QStringLiteral("query %1").arg(i);
        entries.append({q, urls(QStringLiteral("t%1-").arg(i % 500), 10)});
        queries << q;
    }
    p.writeCache(entries);
    ServiceDouble service;
    p.open();
    // Cancel as soon as the clustering phase shows itself.
    TfrmProgressForm* progress = p.window->progressForm();
    QObject::connect(progress, &QWidget::windowTitleChanged, progress,
                     [progress](const QString& t) {
                         if (t == u"Clustering"_qs) {
                             progress->reject();
                         }
                     });
    p.run(service.searchUrl(), queries);
    EXPECT_EQ(p.tree(), QString());
    EXPECT_FALSE(p.child<QPushButton>("Button4")->isEnabled());
    EXPECT_EQ(service.requestCount(), 0);
}

TEST_F(MainForm, StartUpFileErrorIsShownAndTheWindowStillOpens) {
    Program p;
    QFile::remove(p.dir.path(u"regions.txt"_qs));
    p.writeCache({{u"kept"_qs, urls(u"k"_qs, 2)}});
    Dialogs::setNextAnswer(QMessageBox::Ok);
    p.open();
    QTest::qWait(50);
    ASSERT_EQ(Dialogs::shown().size(), 1u);
    EXPECT_TRUE(Dialogs::shown()[0].text.contains(u"regions.txt"_qs));
    EXPECT_TRUE(findEntry(p.window->store(), u"kept"));  // the cache was still read
    p.close();
    EXPECT_TRUE(p.dir.read(u"cache.txt"_qs).contains(";kept;"));
}

TEST_F(MainForm, ShutDownWriteFailuresAreReportedAndTheOtherFileIsWritten) {
    Program p;
    ASSERT_TRUE(QDir(p.dir.root()).mkdir(u"cache.txt"_qs));  // a folder where the cache should be
    Dialogs::setNextAnswer(QMessageBox::Ok);                 // cannot read it at start-up
    Dialogs::setNextAnswer(QMessageBox::Ok);                 // nor write it at shut-down
    p.open();
    p.close();
    ASSERT_FALSE(Dialogs::shown().empty());
    EXPECT_TRUE(Dialogs::shown().back().text.contains(u"cache.txt"_qs));
    EXPECT_TRUE(p.dir.read(u"settings.ini"_qs).contains("Region=213"));
}

// What a new user meets in one run: a blank line is not asked, a query answered "nothing found"
// stays (in the bucket), and switching the region asks again instead of reusing another region's
// results; each region's answers survive a restart.
TEST_F(MainForm, RegionsBlankLinesAndQueriesWithoutResults) {
    Program p;
    ServiceDouble service;
    service.script(u"a"_qs, {ServiceAnswer::urls(urls(u"a"_qs, 3))});
    service.script(u"b"_qs, {ServiceAnswer::urls(urls(u"a"_qs, 3))});
    service.script(u"none"_qs, {ServiceAnswer::error(15, u"Nothing found"_qs)});
    p.open();
    auto* region = p.child<QComboBox>("cbRegion");
    region->setCurrentIndex(region->findData(213));
    p.run(service.searchUrl(), {u"a"_qs, u""_qs, u"   "_qs, u"none"_qs, u"b"_qs});
    EXPECT_TRUE(Dialogs::shown().empty());
    EXPECT_EQ(service.requestCount(), 3);  // neither blank line
    EXPECT_EQ(p.tree(), u"a(a,b) "_qs + unsortedCaption() + u"(none)"_qs);
    EXPECT_EQ(p.child<QLabel>("Label2")->text(), u"Queries for clustering: 3"_qs);

    region->setCurrentIndex(region->findData(2));
    p.run(service.searchUrl(), {u"a"_qs});
    ASSERT_EQ(service.requestCount(), 4);  // asked again for the other region
    EXPECT_EQ(service.requests()[3].param(u"lr"_qs), u"2"_qs);
    p.close();

    p.open();
    auto* again = p.child<QComboBox>("cbRegion");
    for (const int code : {213, 2}) {
        again->setCurrentIndex(again->findData(code));
        p.run(service.searchUrl(), {u"a"_qs, u"none"_qs});
    }
    EXPECT_EQ(service.requestCount(), 5);  // only "none" for region 2 was new
}

namespace {

// The keys go to the active window's shortcuts; the progress window of a run had the focus.
void activate(Program& p) {
    p.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(p.window.get()));
}

// A run whose answers are all in the cache: "ab" and "cd" with two queries each, "z" alone.
void clusteredRun(Program& p, const ServiceDouble& service) {
    p.writeCache({{u"ab"_qs, urls(u"ab"_qs, 6)},
                  {u"abc"_qs, urls(u"ab"_qs, 6)},
                  {u"cd"_qs, urls(u"cd"_qs, 6)},
                  {u"cde"_qs, urls(u"cd"_qs, 6)},
                  {u"z"_qs, urls(u"z"_qs, 6)}});
    p.open();
    p.run(service.searchUrl(), {u"ab"_qs, u"abc"_qs, u"cd"_qs, u"cde"_qs, u"z"_qs});
    activate(p);
}

QModelIndex node(Program& p, const char* path) {
    const QModelIndex i = tree_notation::at(p.window->treeModel(), path);
    EXPECT_TRUE(i.isValid()) << path;
    return i;
}

void selectOnly(Program& p, std::initializer_list<const char*> paths) {
    ClusterTreeView* view = p.window->tree();
    view->selectionModel()->clearSelection();
    for (const char* path : paths) {
        view->selectionModel()->select(node(p, path),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    view->selectionModel()->setCurrentIndex(node(p, *paths.begin()), QItemSelectionModel::NoUpdate);
}

QString dumpTree(Program& p) {
    return tree_notation::dump(p.window->treeModel());
}

}  // namespace

TEST_F(MainForm, TreeEditsAreUndoneAndRedoneByKeysAndTheTreeMenu) {
    Program p;
    ServiceDouble service;
    ASSERT_NO_FATAL_FAILURE(clusteredRun(p, service));
    TfrmMainForm& w = *p.window;
    ClusterTreeView* view = w.tree();
    const QString ran = dumpTree(p);
    ASSERT_EQ(ran, u"ab(ab, abc) | cd(cd, cde) | [U](z)"_qs);
    EXPECT_EQ(w.undoStack().count(), 1);  // the run is a step of its own
    w.undoStack().setClean();             // as a save would
    QSignalSpy clean(&w.undoStack(), &QUndoStack::cleanChanged);
    auto key = [&](QWidget* to, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(to, k, m);
        QApplication::processEvents();
    };

    // Delete two selected clusters with the key, the first one expanded.
    view->setFocus();
    view->expand(node(p, "ab"));
    view->setCurrentIndex(node(p, "ab/abc"));
    selectOnly(p, {"ab", "cd"});
    Dialogs::setNextAnswer(QMessageBox::Yes);
    key(view, Qt::Key_Delete);
    const QString deleted = u"[U](z, ab, abc, cd, cde)"_qs;
    EXPECT_EQ(dumpTree(p), deleted);
    EXPECT_FALSE(w.undoStack().isClean());
    EXPECT_EQ(clean.count(), 1);

    // Ctrl+Z brings the clusters back, expanded and selected as they were.
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), ran);
    EXPECT_TRUE(w.undoStack().isClean());
    EXPECT_EQ(clean.count(), 2);
    EXPECT_TRUE(view->isExpanded(node(p, "ab")));
    EXPECT_FALSE(view->isExpanded(node(p, "cd")));
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 2);
    EXPECT_TRUE(view->selectionModel()->isRowSelected(0, {}));
    EXPECT_TRUE(view->selectionModel()->isRowSelected(1, {}));
    EXPECT_EQ(w.treeModel().nodeOf(view->currentIndex()), w.treeModel().nodeOf(node(p, "ab")));
    EXPECT_EQ(p.child<QLabel>("lbCountText")->text(), u"Кластеров: 3, запросов: 5"_qs);
    // Both redo keys.
    key(view, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), deleted);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    key(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dumpTree(p), deleted);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(dumpTree(p), ran);

    // A move through the menu's submenu, and a rename by F2: one step each.
    view->expand(node(p, "cd"));
    selectOnly(p, {"cd/cde"});
    view->PopupMenu1Popup();
    QMenu* n3 = view->popupMenu()->findChild<QAction*>(u"N3"_qs)->menu();
    Q_EMIT n3->aboutToShow();
    n3->actions()[1]->trigger();  // to "ab"
    EXPECT_EQ(dumpTree(p), u"ab(ab, abc, cde) | cd(cd) | [U](z)"_qs);
    view->setCurrentIndex(node(p, "cd"));
    Dialogs::setNextInput(u"Двери"_qs);
    key(view, Qt::Key_F2);
    EXPECT_EQ(dumpTree(p), u"ab(ab, abc, cde) | Двери(cd) | [U](z)"_qs);
    // The run, the move and the rename: the undone delete went when the move was made.
    EXPECT_EQ(w.undoStack().count(), 3);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), u"ab(ab, abc, cde) | cd(cd) | [U](z)"_qs);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), ran);
    EXPECT_EQ(view->selectionModel()->selectedRows(), QModelIndexList{node(p, "cd/cde")});

    // A phrase dropped on a cluster, as the platform delivers a drag from the tree itself.
    selectOnly(p, {"cd/cde"});
    const std::unique_ptr<QMimeData> mime(view->dragMimeData());
    const QPoint onAb = view->visualRect(node(p, "ab")).center();
    QDragEnterEvent enter(onAb, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &enter);
    QDragMoveEvent move(onAb, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &move);
    QDropEvent drop(onAb, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &drop);
    EXPECT_EQ(dumpTree(p), u"ab(ab, abc, cde) | cd(cd) | [U](z)"_qs);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), ran);

    // In place: the accepted editor is a step too.
    view->setCurrentIndex(node(p, "ab"));
    view->edit(node(p, "ab"));
    QLineEdit* editor = view->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(u"Окна"_qs);
    key(editor, Qt::Key_Return);
    EXPECT_EQ(dumpTree(p), u"Окна(ab, abc) | cd(cd, cde) | [U](z)"_qs);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), ran);

    // The tree's menu starts with the two entries, greyed when there is nothing to take: here
    // before the run, with an empty tree.
    w.undoStack().setIndex(0);
    EXPECT_EQ(dumpTree(p), QString());
    view->PopupMenu1Popup();
    const QList<QAction*> items = view->popupMenu()->actions();
    ASSERT_GE(items.size(), 3);
    EXPECT_EQ(items[0]->text(), u"Undo"_qs);
    EXPECT_EQ(items[1]->text(), u"Redo"_qs);
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_TRUE(items[1]->isEnabled());
    items[1]->trigger();
    EXPECT_EQ(dumpTree(p), ran);
    EXPECT_TRUE(items[0]->isEnabled());
    items[1]->trigger();
    EXPECT_EQ(dumpTree(p), u"Окна(ab, abc) | cd(cd, cde) | [U](z)"_qs);
    EXPECT_FALSE(items[1]->isEnabled());
    items[0]->trigger();
    EXPECT_EQ(dumpTree(p), ran);

    // Ctrl+Z in the query box is the box's own undo, not the tree's.
    QPlainTextEdit* memo = p.child<QPlainTextEdit>("Memo1");
    memo->setFocus();
    key(memo, Qt::Key_X);
    key(memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), ran);
    EXPECT_EQ(w.undoStack().index(), 1);
    EXPECT_TRUE(w.undoStack().canRedo());
}

TEST_F(MainForm, ARunThatReplacesTheEditedTreeIsUndoneLikeAnEdit) {
    Program p;
    ServiceDouble service;
    ASSERT_NO_FATAL_FAILURE(clusteredRun(p, service));
    TfrmMainForm& w = *p.window;
    ClusterTreeView* view = w.tree();
    view->setFocus();
    selectOnly(p, {"cd"});
    Dialogs::setNextAnswer(QMessageBox::Yes);
    QTest::keyClick(view, Qt::Key_Delete);
    const QString edited = u"ab(ab, abc) | [U](z, cd, cde)"_qs;
    ASSERT_EQ(dumpTree(p), edited);
    view->expand(node(p, "[U]"));
    w.undoStack().setClean();  // as a save would

    // Another run, on fewer queries.
    p.run(service.searchUrl(), {u"ab"_qs, u"abc"_qs, u"z"_qs});
    ASSERT_NO_FATAL_FAILURE(activate(p));
    view->setFocus();
    const QString second = u"ab(ab, abc) | [U](z)"_qs;
    ASSERT_EQ(dumpTree(p), second);
    EXPECT_FALSE(w.undoStack().isClean());

    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), edited);
    EXPECT_TRUE(w.undoStack().isClean());
    EXPECT_TRUE(view->isExpanded(node(p, "[U]")));
    EXPECT_EQ(p.child<QLabel>("lbCountText")->text(), u"Кластеров: 2, запросов: 5"_qs);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), u"ab(ab, abc) | cd(cd, cde) | [U](z)"_qs);
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(dumpTree(p), second);
    EXPECT_FALSE(view->isExpanded(node(p, "[U]")));
}

// An import that finds nothing says which file and what it lacks, and leaves the user's queries,
// the store and the tree as they were; no run starts.
TEST_F(MainForm, AnImportThatFindsNothingKeepsTheWork) {
    Program p;
    p.writeCache({{u"кофе"_qs, urls(u"k"_qs, 4)}, {u"кофе цена"_qs, urls(u"k"_qs, 4)}});
    const struct {
        const char* name;
        QByteArray bytes;
        QString missing;  // what the message says the file lacks
    } cases[] = {
        {"empty.csv", "", u"no table"_qs},
        {"no-header.csv", "Query;URL\r\nq;\r\n;http://a.ru/\r\n", u"\"URL [Yandex]\""_qs},
        {"comma.csv", "Query,Url\r\nq,\r\n,http://a.ru/\r\n", u"\"URL [Yandex]\""_qs},
        {"binary.png", QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), u"not a text file"_qs},
        {"header-only.csv", "Query;URL [Yandex]\r\n", u"no query row"_qs},
    };
    ServiceDouble service;
    p.open();
    p.run(service.searchUrl(), {u"кофе"_qs, u"кофе цена"_qs});
    const QString tree = p.tree();
    ASSERT_EQ(tree, u"кофе(кофе,кофе цена)"_qs);
    auto* memo = p.child<QPlainTextEdit>("Memo1");
    memo->setPlainText(u"кофе\nкофе цена\nмоя новая строка"_qs);
    const qsizetype stored = p.window->store().size();
    for (const auto& c : cases) {
        Dialogs::reset();
        const QString file = p.dir.write(QString::fromLatin1(c.name), c.bytes);
        Dialogs::setNextFile(file);
        Dialogs::setNextAnswer(QMessageBox::Ok);
        QTest::mouseClick(p.child<QPushButton>("BitBtn2"), Qt::LeftButton);
        ASSERT_EQ(Dialogs::shown().size(), 2u) << c.name;  // the file dialog, then the message
        const Dialogs::Shown& said = Dialogs::shown()[1];
        EXPECT_EQ(said.kind, Dialogs::Kind::Error);
        EXPECT_TRUE(said.text.startsWith(u"Nothing was imported from \""_qs + file + u'"'))
            << said.text.toStdString();
        EXPECT_TRUE(said.text.contains(c.missing)) << said.text.toStdString();
        EXPECT_EQ(memo->toPlainText(), u"кофе\nкофе цена\nмоя новая строка"_qs) << c.name;
        EXPECT_EQ(p.tree(), tree) << c.name;
        EXPECT_EQ(p.window->store().size(), stored) << c.name;
        EXPECT_FALSE(p.window->progressForm()->isVisible());
    }
    EXPECT_EQ(service.requestCount(), 0);

    // The same message in Russian for a Russian window (the run's work discarded at close, so
    // no recovery copy is offered).
    Dialogs::setNextAnswer(QMessageBox::Discard);
    p.close();
    Dialogs::reset();
    p.open(UiLanguage::Russian);
    Dialogs::setNextFile(p.dir.path(u"no-header.csv"_qs));
    Dialogs::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(p.child<QPushButton>("BitBtn2"), Qt::LeftButton);
    ASSERT_EQ(Dialogs::shown().size(), 2u);
    EXPECT_EQ(Dialogs::shown()[1].text,
              u"Из файла \""_qs + p.dir.path(u"no-header.csv"_qs) +
                  u"\" ничего не импортировано: ни одна ячейка заголовка не равна "
                  u"\"URL [Yandex]\"."_qs);
}

// A spreadsheet's CSV in UTF-8 without a mark, with commas: the queries read as they were typed
// and are clustered from their imported results without asking the service.
TEST_F(MainForm, AUtf8ImportReadsRight) {
    Program p;
    QString csv = u"Запрос,URL [Yandex]\r\n"_qs;
    for (const QString& q : {u"купить кофе"_qs, u"кофе купить"_qs}) {
        csv += q + u",\r\n"_qs;
        for (const QString& u : urls(u"кофе"_qs, 4)) {
            csv += u","_qs + u + u"\r\n"_qs;
        }
    }
    csv += u"чай,\r\n,http://чай.рф/\r\n"_qs;
    const QString file = p.dir.write(u"utf8.csv"_qs, csv.toUtf8());
    ServiceDouble service;
    p.open();
    p.child<QLineEdit>("LabeledEdit2")->setText(service.searchUrl());
    Dialogs::setNextFile(file);
    QTest::mouseClick(p.child<QPushButton>("BitBtn2"), Qt::LeftButton);
    EXPECT_TRUE(Dialogs::shown().size() == 1u);  // the file dialog alone
    EXPECT_EQ(p.child<QPlainTextEdit>("Memo1")->toPlainText(), u"купить кофе\nкофе купить\nчай"_qs);
    EXPECT_EQ(p.tree(),
              u"кофе купить(кофе купить,купить кофе) "_qs + unsortedCaption() + u"(чай)"_qs);
    EXPECT_EQ(service.requestCount(), 0);
    // And the cache keeps them readable under any code page.
    p.close();
    const QByteArray cache = p.dir.read(u"cache.txt"_qs);
    EXPECT_TRUE(cache.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(cache.contains(u";чай;http://чай.рф/\r\n"_qs.toUtf8()));
}

// The threshold the user chose comes back at the next start; a value the box lacks gives the
// method's default; choosing a method still sets its default.
TEST_F(MainForm, TheThresholdIsRestored) {
    Program p;
    p.open();
    QTest::mouseClick(p.child<QRadioButton>("RadioButton2"), Qt::LeftButton);
    p.child<QComboBox>("cbPorog")->setCurrentIndex(6);
    p.close();
    EXPECT_TRUE(p.dir.read(u"settings.ini"_qs).contains("HardMode=1\r\nThreshold=7\r\n"));
    p.open();
    EXPECT_TRUE(p.child<QRadioButton>("RadioButton2")->isChecked());
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"7"_qs);
    QTest::mouseClick(p.child<QRadioButton>("RadioButton1"), Qt::LeftButton);
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"3"_qs);
    p.close();

    for (const char* bad : {"Threshold=11", "Threshold=0", "Threshold=abc"}) {
        p.dir.write(u"settings.ini"_qs, QByteArray("[CONFIG]\r\nHardMode=1\r\n") + bad);
        p.open();
        EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"4"_qs) << bad;
        p.close();
    }
}

// Tab leaves the query box instead of typing a tab into a query, and the tab order runs through
// every control of the window.
TEST_F(MainForm, TabMovesTheFocusThroughEveryControl) {
    Program p;
    p.writeCache({{u"a"_qs, urls(u"a"_qs, 3)}});
    TfrmMainForm& w = p.open();
    auto* memo = p.child<QPlainTextEdit>("Memo1");
    // A tree, and both buttons enabled, so that every control can take the focus.
    p.run(u"http://s/"_qs, {u"a"_qs});
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Tab);
    EXPECT_FALSE(memo->toPlainText().contains(u'\t'));
    EXPECT_NE(w.focusWidget(), memo);

    p.child<QLineEdit>("LabeledEdit2")->setFocus();
    QStringList order;
    for (int i = 0; i < 13 && w.focusWidget(); ++i) {
        order << w.focusWidget()->objectName();
        QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
    }
    // The two method buttons are one stop, as a group of radio buttons is: the arrow keys move
    // between them.
    EXPECT_EQ(order, (QStringList{u"LabeledEdit2"_qs, u"cbRegion"_qs, u"sbThreads"_qs,
                                  u"BitBtn2"_qs, u"BitBtn1"_qs, u"LinksButton"_qs, u"Memo1"_qs,
                                  u"RadioButton1"_qs, u"cbPorog"_qs, u"Button1"_qs, u"vdtList"_qs,
                                  u"Button4"_qs, u"LabeledEdit2"_qs}));
}

// At its minimum size, in either language, every control shows whole and none overlaps another;
// the window cannot be made smaller.
TEST_F(MainForm, AtItsMinimumSizeNothingOverlapsOrIsClipped) {
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
        Program p;
        TfrmMainForm& w = p.open(language);
        w.resize(200, 150);
        QCoreApplication::processEvents();
        EXPECT_GE(w.width(), w.minimumWidth());
        EXPECT_GE(w.height(), w.minimumHeight());
        w.resize(w.minimumSize());
        QCoreApplication::processEvents();
        std::vector<QWidget*> controls;
        for (const char* name :
             {"LabeledEdit2Label", "LabeledEdit2", "Label1", "cbRegion", "BitBtn2", "BitBtn1",
              "Label2", "lbCountText", "Memo1", "RadioButton1", "RadioButton2", "Label3", "cbPorog",
              "Button1", "vdtList", "Button4"}) {
            controls.push_back(p.child<QWidget>(name));
        }
        const QRect window = w.rect();
        auto where = [&w](QWidget* c) { return QRect(c->mapTo(&w, QPoint(0, 0)), c->size()); };
        for (QWidget* c : controls) {
            const QString name = c->objectName();
            EXPECT_TRUE(window.contains(where(c))) << name.toStdString();
            // Whole: as wide and high as it asks to be at least.
            const QSize least = c->minimumSizeHint().expandedTo(c->minimumSize());
            EXPECT_GE(c->width(), least.width()) << name.toStdString();
            EXPECT_GE(c->height(), least.height()) << name.toStdString();
            if (auto* label = qobject_cast<QLabel*>(c)) {
                EXPECT_GE(label->width(), label->sizeHint().width()) << name.toStdString();
            }
            if (auto* button = qobject_cast<QAbstractButton*>(c)) {
                EXPECT_GE(button->width(), button->sizeHint().width()) << name.toStdString();
            }
            for (QWidget* other : controls) {
                if (other != c) {
                    EXPECT_FALSE(where(c).intersects(where(other)))
                        << name.toStdString() << " and " << other->objectName().toStdString();
                }
            }
        }
        p.close();
    }
}
