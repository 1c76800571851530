// kelvara-cli as a program: arguments in, exit status, files and standard streams out.
#include "core/textfile.h"
#include "search/cache.h"
#include "support/service_double.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <set>
#include <thread>

using namespace kelvara;

namespace {

const QString kCli = QStringLiteral(KELVARA_CLI_PATH);
const QString kSamples = QStringLiteral(KELVARA_SAMPLES_DIR);

struct Finished {
    int code = -1;
    QByteArray out;
    QString err;
};

Finished runCli(const QStringList& args) {
    QProcess p;
    p.start(kCli, args);
    EXPECT_TRUE(p.waitForStarted(10'000)) << kCli.toStdString();
    EXPECT_TRUE(p.waitForFinished(120'000));
    Finished f;
    f.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    f.out = p.readAllStandardOutput();
    f.err = QString::fromLocal8Bit(p.readAllStandardError());
    return f;
}

// The clusters of an export: caption (n) -> phrases, checked for consistency on the way.
std::map<QString, std::set<QString>> clustersOf(const QString& text, qsizetype* lines) {
    std::map<QString, std::set<QString>> out;
    const QStringList all = text.split(u"\r\n"_qs);
    *lines = 0;
    static const QRegularExpression line(u"^(.*) \\((\\d+)\\);([^;]*);(\\d+)$"_qs);
    // Header (3 lines), body, an empty line, the footer, and nothing after the last CR LF.
    for (qsizetype i = 3; i + 3 < all.size(); ++i) {
        const QRegularExpressionMatch m = line.match(all[i]);
        EXPECT_TRUE(m.hasMatch()) << all[i].toStdString();
        out[m.captured(1) + u'/' + m.captured(2)].insert(m.captured(3));
        ++*lines;
    }
    for (const auto& [caption, phrases] : out) {
        EXPECT_EQ(qsizetype(phrases.size()), caption.section(u'/', -1).toLongLong())
            << caption.toStdString();
    }
    return out;
}

TEST(Cli, ImportsTheBundledSampleWithBothMethods) {
    const QString sample = kSamples + u"/queries-ru.csv"_qs;
    ASSERT_TRUE(QFileInfo::exists(sample)) << sample.toStdString();
    test::TempDir dir;
    for (const char16_t* method : {u"soft", u"hard"}) {
        const QString out = dir.path(QString::fromUtf16(method) + u".csv"_qs);
        const Finished f = runCli(
            {u"--import"_qs, sample, u"--method"_qs, QString::fromUtf16(method), u"--threshold"_qs,
             method == std::u16string_view(u"soft") ? u"3"_qs : u"4"_qs, u"--output"_qs, out,
             u"--no-cache"_qs, u"--lang"_qs, u"ru"_qs, u"--codepage"_qs, u"windows-1251"_qs});
        ASSERT_EQ(f.code, 0) << f.err.toStdString();
        EXPECT_TRUE(f.out.isEmpty());
        EXPECT_TRUE(f.err.contains(u"imported"_qs)) << f.err.toStdString();

        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = AnsiCodec("windows-1251").decode(file.readAll());
        EXPECT_TRUE(text.startsWith(
            u"Результат кластеризации запросов\r\n\r\nГруппа;Запрос;Главных\r\n"_qs));
        EXPECT_TRUE(
            text.endsWith(u"\r\n\r\nКластеризованно при помощи www.tarvelo.example\r\n"_qs));
        qsizetype lines = 0;
        const auto clusters = clustersOf(text, &lines);
        // A few hundred queries, and real clusters beside the bucket.
        EXPECT_GE(lines, 200);
        qsizetype real = 0;
        for (const auto& [caption, phrases] : clusters) {
            real += caption.startsWith(u"[ неотсортированные ]"_qs) ? 0 : 1;
        }
        EXPECT_GE(real, 10) << QString::fromUtf16(method).toStdString();
    }
}

// A pipe (not a terminal) still gets the CSV; the bundled sample carries a byte-order mark, so it
// reads right whatever code page is named (here one that could not read it otherwise).
TEST(Cli, APipeGetsTheCsvOfTheSample) {
    const Finished f = runCli({u"--import"_qs, kSamples + u"/queries-ru.csv"_qs, u"--no-cache"_qs,
                               u"--lang"_qs, u"ru"_qs, u"--codepage"_qs, u"windows-1252"_qs});
    ASSERT_EQ(f.code, 0) << f.err.toStdString();
    // The export falls back to UTF-8 with a mark for text its code page lacks.
    ASSERT_TRUE(f.out.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(f.out.sliced(3));
    EXPECT_TRUE(text.startsWith(u"Результат кластеризации запросов\r\n"_qs))
        << text.left(200).toStdString();
    EXPECT_TRUE(text.contains(u"новый блендер в хабаровске"_qs)) << text.left(400).toStdString();
}

TEST(Cli, StatusAndMessages) {
    test::TempDir dir;
    // Bad arguments.
    for (const QStringList& args :
         {QStringList{}, QStringList{u"--queries"_qs},
          QStringList{u"--import"_qs, u"x.csv"_qs, u"--threshold"_qs, u"12"_qs}}) {
        const Finished f = runCli(args);
        EXPECT_EQ(f.code, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(f.err.contains(u"--help"_qs));
    }
    const Finished help = runCli({u"--help"_qs});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("--import FILE.csv"));

    // An unreadable file, named.
    const QString missing = dir.path(u"no-such.csv"_qs);
    const Finished unreadable = runCli({u"--import"_qs, missing, u"--no-cache"_qs});
    EXPECT_EQ(unreadable.code, 2);
    EXPECT_TRUE(unreadable.err.contains(missing)) << unreadable.err.toStdString();

    // A query without a stored result and no service: the run fails, the cache is saved.
    const QString cache = dir.path(u"cache.txt"_qs);
    const QString stamp = QString::number(CurrentStamp() - 60'000);
    dir.write(u"cache.txt"_qs,
              (stamp + u";stored;http://a.ru/\r\n"_qs +
               QString::number(CurrentStamp() - 9 * 86'400'000LL) + u";old;http://b.ru/\r\n"_qs)
                  .toLatin1());
    dir.write(u"q.txt"_qs, "stored\r\nnot stored\r\n");
    const Finished failed = runCli({u"--queries"_qs, dir.path(u"q.txt"_qs), u"--cache"_qs, cache,
                                    u"--codepage"_qs, u"windows-1252"_qs});
    EXPECT_EQ(failed.code, 1) << failed.err.toStdString();
    EXPECT_TRUE(failed.err.contains(u"\"not stored\""_qs)) << failed.err.toStdString();
    EXPECT_EQ(
        dir.read(u"cache.txt"_qs),
        "\xEF\xBB\xBF" + (u"#region 213\r\n"_qs + stamp + u";stored;http://a.ru/\r\n"_qs).toUtf8());
}

// The program's own fetch: a query without a stored result is asked of the service; with
// nothing listening there, the run fails with the window's connection message (after the
// worker's retries) and saves the cache.
TEST(Cli, FetchesWhatIsMissingFromTheService) {
    test::TempDir dir;
    dir.write(u"q.txt"_qs, "not stored\r\n");
    const Finished f = runCli({u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs,
                               u"http://127.0.0.1:1/search/xml?user=u&key=k"_qs, u"--cache"_qs,
                               dir.path(u"cache.txt"_qs), u"--lang"_qs, u"en"_qs});
    EXPECT_EQ(f.code, 1);
    EXPECT_TRUE(f.err.contains(u"Error: failed to establish connection to the service, Yandex"_qs))
        << f.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir.path(u"cache.txt"_qs)));
}

// Ctrl+C or SIGTERM during a fetch: the request in flight is aborted, what was answered is in
// the cache, and the program says so and exits with 130.
TEST(Cli, ASignalDuringTheFetchKeepsWhatWasAnswered) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows sends no signal to another process; Ctrl+C reaches a console";
#else
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        test::ServiceDouble service;
        service.setResponder([](const QString& query) {
            if (query == u"third") {
                test::ServiceAnswer slow = test::ServiceAnswer::urls({u"http://late.ru/"_qs});
                slow.delayMs = 60'000;
                return slow;
            }
            return test::ServiceAnswer::urls({u"http://"_qs + query + u".ru/"_qs});
        });
        test::TempDir dir;
        dir.write(u"q.txt"_qs, "first\r\nsecond\r\nthird\r\nfourth\r\n");
        QProcess p;
        p.start(kCli, {u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs, service.searchUrl(),
                       u"--cache"_qs, dir.path(u"cache.txt"_qs), u"--lang"_qs, u"en"_qs});
        ASSERT_TRUE(p.waitForStarted(10'000));
        for (int i = 0; i < 2000 && service.requestCount() < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(service.requestCount(), 3);
        ASSERT_EQ(::kill(pid_t(p.processId()), signal), 0);
        ASSERT_TRUE(p.waitForFinished(20'000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 130);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(err.contains(u"stopped; what was fetched is kept"_qs)) << err.toStdString();
        const QString cache = QString::fromUtf8(dir.read(u"cache.txt"_qs));
        EXPECT_TRUE(cache.contains(u";first;http://first.ru/"_qs)) << cache.toStdString();
        EXPECT_TRUE(cache.contains(u";second;http://second.ru/"_qs));
        EXPECT_FALSE(cache.contains(u"third"_qs));
        EXPECT_EQ(service.requestCount(), 3);  // nothing asked after the signal
    }
#endif
}

}  // namespace
