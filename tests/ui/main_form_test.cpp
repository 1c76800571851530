// Whole runs through the main window, offscreen, against the loopback search-service double.
#include "ui/main_form.h"
#include "search/cache.h"
#include "search/http_transport.h"
#include "support/service_double.h"
#include "support/temp_dir.h"
#include "tree/cluster_tree_model.h"
#include "ui/about_form.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/progress_form.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTest>
#include <QTimer>

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
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarvelo Kelvara ") + GetVersionText(true));
    EXPECT_EQ(p.child<QLineEdit>("LabeledEdit2")->text(), QString());
    EXPECT_TRUE(p.child<QRadioButton>("RadioButton1")->isChecked());
    EXPECT_EQ(p.child<QComboBox>("cbPorog")->currentText(), u"3"_qs);
    EXPECT_EQ(p.child<QComboBox>("cbRegion")->currentIndex(), -1);
    EXPECT_EQ(p.child<QLabel>("Label2")->text(), u"Queries for clustering: 0"_qs);
    EXPECT_EQ(p.child<QLabel>("lbCountText")->text(), u"Кластеров: 0, запросов: 0"_qs);
    EXPECT_FALSE(p.child<QPushButton>("Button1")->isEnabled());
    EXPECT_FALSE(p.child<QPushButton>("Button4")->isEnabled());
    p.close();
    EXPECT_EQ(p.dir.read(u"settings.ini"_qs),
              QByteArray("[CONFIG]\r\nYandexURL=\r\nHardMode=0\r\nRegion=213\r\n"));
    EXPECT_EQ(p.dir.read(u"cache.txt"_qs), QByteArray());
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
    EXPECT_TRUE(p.dir.read(u"settings.ini"_qs).contains("HardMode=1\r\nRegion=2"));
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
