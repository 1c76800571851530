#include "run/batch_run.h"

#include "clustering/assembly.h"
#include "clustering/engine.h"
#include "search/cache.h"
#include "search/fake_transport.h"
#include "support/service_double.h"
#include "support/temp_dir.h"
#include "table/csv_export.h"
#include "table/export_readback.h"
#include "table/project_file.h"
#include "table/query_import.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

const QByteArray kCp1251 = "windows-1251";

// Two topics of four queries, sharing five and four URLs (a hard group needs as many queries as
// the threshold), and two loners.
QByteArray topicalImport() {
    QString text = u"Запрос;Частота;URL [Yandex]\r\n"_qs;
    auto block = [&text](const QString& query, const QStringList& urls) {
        text += query + u";10;\r\n"_qs;
        for (const QString& u : urls) {
            text += u";;"_qs + u + u"\r\n"_qs;
        }
    };
    const QStringList windows = {u"http://okna.ru/"_qs, u"http://okna-moscow.ru/pvc"_qs,
                                 u"http://plastic.ru/"_qs, u"http://ramy.ru/okna"_qs,
                                 u"http://steklo.ru/"_qs};
    const QStringList doors = {u"http://dveri.ru/"_qs, u"http://dveri.ru/metal"_qs,
                               u"http://vhod.ru/"_qs, u"http://zamki.ru/dveri"_qs};
    block(u"пластиковые окна"_qs, windows + QStringList{u"http://a1.ru/"_qs});
    block(u"окна пвх"_qs, windows + QStringList{u"http://a2.ru/"_qs});
    block(u"купить пластиковые окна"_qs, windows);
    block(u"окна пвх цена"_qs, windows + QStringList{u"http://a3.ru/x"_qs});
    block(u"двери входные"_qs, doors);
    block(u"металлические двери"_qs, doors + QStringList{u"http://b1.ru/"_qs});
    block(u"купить входную дверь"_qs, doors);
    block(u"входные двери цена"_qs, doors + QStringList{u"http://b2.ru/page"_qs});
    block(u"погода"_qs, {u"http://pogoda.ru/"_qs, u"http://meteo.ru/"_qs});
    block(u"курс доллара"_qs, {u"http://cbr.ru/"_qs});
    return AnsiCodec(kCp1251).encode(text);
}

struct Captured {
    QByteArray out;
    QStringList err;
    BatchEnvironment env() {
        BatchEnvironment e;
        e.writeOut = [this](QByteArrayView b) {
            out += b;
            return true;
        };
        e.writeErr = [this](const QString& line) { err.append(line); };
        return e;
    }
};

BatchDefaults testDefaults(const test::TempDir& dir) {
    BatchDefaults d;
    d.cachePath = dir.path(u"cache.txt"_qs);
    d.language = UiLanguage::Russian;
    d.codePage = kCp1251;
    return d;
}

// What the window would write for the same file: import, cluster, assemble, export.
QByteArray windowExport(const QString& csv, bool hard, int threshold) {
    ResultStore store;
    const ImportResult imported = ImportCsv(csv, store, systemClock(), AnsiCodec(kCp1251));
    WorkList work;
    for (const QString& line : imported.lines) {
        work.push_back({line, findEntry(store, line)});
    }
    TStringListDynArray groups;
    GroupingProgress progress;
    runGrouping(work, groups, hard, threshold, progress);
    const ClusterList clusters = assembleClusters(groups);
    return exportBytes(exportText(clusters, store, UiLanguage::Russian), AnsiCodec(kCp1251));
}

TEST(BatchRun, ImportClusterAndExportAsTheWindowDoes) {
    test::TempDir dir;
    const QString csv = dir.write(u"in.csv"_qs, topicalImport());
    for (const bool hard : {false, true}) {
        Captured io;
        const QString out = dir.path(hard ? u"hard.csv"_qs : u"soft.csv"_qs);
        const int code = batchMain({u"--import"_qs, csv, u"--method"_qs,
                                    hard ? u"hard"_qs : u"soft"_qs, u"--output"_qs, out},
                                   testDefaults(dir), io.env());
        ASSERT_EQ(code, beSuccess) << io.err.join(u'\n').toStdString();
        const QByteArray bytes = dir.read(QFileInfo(out).fileName());
        EXPECT_EQ(bytes, windowExport(csv, hard, hard ? 4 : 3));

        const QString text = AnsiCodec(kCp1251).decode(bytes);
        EXPECT_TRUE(text.startsWith(
            u"Результат кластеризации запросов\r\n\r\nГруппа;Запрос;Главных\r\n"_qs));
        EXPECT_TRUE(text.contains(u"окна пвх (4);пластиковые окна;4\r\n"_qs));
        EXPECT_TRUE(text.contains(u"окна пвх (4);окна пвх цена;3\r\n"_qs));
        EXPECT_TRUE(text.contains(u"двери входные (4);металлические двери;3\r\n"_qs));
        EXPECT_TRUE(text.contains(u"двери входные (4);входные двери цена;2\r\n"_qs));
        EXPECT_TRUE(text.contains(u"[ неотсортированные ] (2);погода;2\r\n"_qs));
        EXPECT_TRUE(text.endsWith(u"\r\nКластеризованно при помощи www.tarvelo.example\r\n"_qs));
        EXPECT_TRUE(io.out.isEmpty());
        // The imported results reach the cache.
        ResultStore cached;
        loadCacheText(cached, decodeTextFile(dir.read(u"cache.txt"_qs), AnsiCodec(kCp1251)),
                      CurrentStamp());
        EXPECT_EQ(cached.size(), 10);
    }
}

// The run saved as a project holds the tree the export shows, the queries and every phrase's URLs,
// so the window can open it after the cache is gone.
TEST(BatchRun, TheResultIsSavedAsAProjectToo) {
    test::TempDir dir;
    const QString csv = dir.write(u"in.csv"_qs, topicalImport());
    Captured io;
    const QString project = dir.path(u"run.kelvara"_qs);
    ASSERT_EQ(batchMain({u"--import"_qs, csv, u"--method"_qs, u"hard"_qs, u"--region"_qs, u"2"_qs,
                         u"--output"_qs, dir.path(u"out.csv"_qs), u"--project"_qs, project},
                        testDefaults(dir), io.env()),
              beSuccess)
        << io.err.join(u'\n').toStdString();
    const ProjectRead read = loadProject(project);
    ASSERT_TRUE(read.project) << projectErrorText(read.error, UiLanguage::English).toStdString();
    const Project& p = *read.project;
    EXPECT_TRUE(p.hardMethod);
    EXPECT_EQ(p.threshold, 4);
    EXPECT_EQ(p.region, 2);
    EXPECT_EQ(p.queries.split(u'\n').size(), 10);
    EXPECT_TRUE(p.queries.startsWith(u"пластиковые окна\nокна пвх\n"_qs));

    const ExportRead exported = readExport(dir.path(u"out.csv"_qs), AnsiCodec(kCp1251));
    ASSERT_TRUE(exported.clusters);
    ClusterList tree;
    for (const ProjectCluster& c : p.clusters) {
        tree.push_back({c.caption, {}});
        for (const ProjectPhrase& phrase : c.phrases) {
            EXPECT_FALSE(phrase.checked);
            tree.back().phrases.append(phrase.text);
        }
    }
    EXPECT_EQ(tree, *exported.clusters);
    ASSERT_EQ(p.results.size(), 10u);
    const auto courses =
        std::find_if(p.results.begin(), p.results.end(),
                     [](const ProjectResult& r) { return r.query == u"курс доллара"; });
    ASSERT_NE(courses, p.results.end());
    EXPECT_EQ(courses->urls, QStringList{u"http://cbr.ru/"_qs});

    // A project that cannot be written fails the run naming the file.
    Captured failed;
    EXPECT_EQ(batchMain({u"--import"_qs, csv, u"--no-cache"_qs, u"--output"_qs,
                         dir.path(u"out2.csv"_qs), u"--project"_qs, dir.root()},
                        testDefaults(dir), failed.env()),
              beBadInput);
    ASSERT_FALSE(failed.err.isEmpty());
    EXPECT_TRUE(failed.err.last().contains(dir.root()));
}

TEST(BatchRun, StandardOutputGetsTheSameBytes) {
    test::TempDir dir;
    const QString csv = dir.write(u"in.csv"_qs, topicalImport());
    Captured io;
    ASSERT_EQ(batchMain({u"--import"_qs, csv, u"--no-cache"_qs, u"--output"_qs, u"-"_qs},
                        testDefaults(dir), io.env()),
              beSuccess);
    EXPECT_EQ(io.out, windowExport(csv, false, 3));
    EXPECT_FALSE(QFile::exists(dir.path(u"cache.txt"_qs)));
}

// A UTF-8 file (a spreadsheet's export) reads right without --codepage; a named code page reads
// unmarked bytes as before.
TEST(BatchRun, InputInUtf8UnlessACodePageIsNamed) {
    test::TempDir dir;
    const QByteArray utf8 = AnsiCodec(kCp1251).decode(topicalImport()).toUtf8();
    const QString csv = dir.write(u"in.csv"_qs, utf8);
    const QString queries = dir.write(u"q.txt"_qs, u"окна пвх\r\nпогода\r\n"_qs.toUtf8());
    Captured stored;  // the import's results, as read without a code page named
    ASSERT_EQ(batchMain({u"--import"_qs, csv, u"--output"_qs, dir.path(u"stored.csv"_qs)},
                        testDefaults(dir), stored.env()),
              beSuccess);
    for (const bool named : {false, true}) {
        Captured io;
        const QStringList codepage =
            named ? QStringList{u"--codepage"_qs, u"windows-1251"_qs} : QStringList{};
        ASSERT_EQ(
            batchMain(QStringList{u"--import"_qs, csv, u"--output"_qs, u"-"_qs, u"--no-cache"_qs} +
                          codepage,
                      testDefaults(dir), io.env()),
            beSuccess);
        const QString text = AnsiCodec(kCp1251).decode(io.out);
        EXPECT_EQ(text.contains(u"окна пвх (4);пластиковые окна;4\r\n"_qs), !named)
            << text.toStdString();
        // The queries file follows the same rule; its queries are stored by now.
        Captured q;
        const int code = batchMain(
            QStringList{u"--queries"_qs, queries, u"--output"_qs, dir.path(u"q.csv"_qs)} + codepage,
            testDefaults(dir), q.env());
        // Read right, both have a stored result; read as the code page, neither has.
        EXPECT_EQ(code, named ? beRunFailed : beSuccess) << q.err.join(u'\n').toStdString();
    }
}

// On a terminal a person reads the output: a summary in UTF-8 instead of the CSV, unless
// --output or --codepage asks for the CSV.
TEST(BatchRun, ATerminalGetsASummary) {
    test::TempDir dir;
    const QString csv = dir.write(u"in.csv"_qs, topicalImport());
    const struct {
        bool terminal;
        QStringList args;
        bool summary;
    } cases[] = {
        {true, {}, true},
        {true, {u"--lang"_qs, u"en"_qs}, true},
        {true, {u"--output"_qs, u"-"_qs}, false},
        {true, {u"--codepage"_qs, u"windows-1251"_qs}, false},
        {false, {}, false},
    };
    for (const auto& c : cases) {
        Captured io;
        BatchEnvironment env = io.env();
        env.outputIsTerminal = c.terminal;
        ASSERT_EQ(batchMain(QStringList{u"--import"_qs, csv, u"--no-cache"_qs} + c.args,
                            testDefaults(dir), env),
                  beSuccess);
        const QString said = QString::fromUtf8(io.out);
        if (!c.summary) {
            EXPECT_EQ(io.out, windowExport(csv, false, 3)) << c.args.join(u' ').toStdString();
            continue;
        }
        const bool en = c.args.contains(u"en"_qs);
        EXPECT_EQ(said.section(u'\n', 0, 0),
                  en ? u"Clusters: 2, queries: 10, left alone: 2"_qs
                     : u"Кластеров: 2, запросов: 10, вне кластеров: 2"_qs);
        EXPECT_TRUE(
            said.contains(en ? u"  окна пвх — queries: 4\n"_qs : u"  окна пвх — запросов: 4\n"_qs))
            << said.toStdString();
        EXPECT_TRUE(said.contains(u"--output"_qs));
        EXPECT_FALSE(said.contains(u"URL [Yandex]"_qs) || said.contains(u"Группа;Запрос"_qs));
    }
}

TEST(BatchRun, QueriesFromTheCacheInQueryOrder) {
    test::TempDir dir;
    const Stamp now = CurrentStamp();
    QString cache;
    for (const char16_t* q : {u"alpha one", u"alpha two", u"beta"}) {
        cache += QString::number(now - 1000) + u';' + QString::fromUtf16(q);
        const bool alpha = QString::fromUtf16(q).startsWith(u"alpha");
        for (int i = 0; i < 5; ++i) {
            cache += alpha ? u";http://alpha%1.ru/"_qs.arg(i) : u";http://beta%1.ru/p"_qs.arg(i);
        }
        cache += u"\r\n"_qs;
    }
    dir.write(u"cache.txt"_qs, cache.toLatin1());
    // Lines unchanged: another letter case, a repeat; no empty line after the last line end.
    dir.write(u"q.txt"_qs, "ALPHA TWO\r\nbeta\nalpha one\r\nbeta\r\n");
    Captured io;
    ASSERT_EQ(batchMain({u"--queries"_qs, dir.path(u"q.txt"_qs), u"--lang"_qs, u"en"_qs,
                         u"--codepage"_qs, u"windows-1252"_qs, u"--threshold"_qs, u"5"_qs},
                        testDefaults(dir), io.env()),
              beSuccess)
        << io.err.join(u'\n').toStdString();

    // The window's run over the same lines: the work list in query order, each line with the
    // store's entry.
    ResultStore store;
    loadCacheText(store, cache, now);
    WorkList work;
    for (const QString& line : {u"ALPHA TWO"_qs, u"beta"_qs, u"alpha one"_qs, u"beta"_qs}) {
        work.push_back({line, findEntry(store, line)});
    }
    TStringListDynArray groups;
    GroupingProgress progress;
    runGrouping(work, groups, false, 5, progress);
    const ClusterList clusters = assembleClusters(groups);
    EXPECT_EQ(io.out, exportBytes(exportText(clusters, store, UiLanguage::English),
                                  AnsiCodec("windows-1252")));
    // The two alpha lines, another letter case included, form one cluster of two.
    const QStringList lines = QString::fromUtf8(io.out).split(u"\r\n"_qs);
    QStringList alphaCaptions;
    for (const QString& line : lines) {
        if (line.endsWith(u";ALPHA TWO;5"_qs) || line.endsWith(u";alpha one;5"_qs)) {
            alphaCaptions.append(line.section(u';', 0, 0));
        }
    }
    ASSERT_EQ(alphaCaptions.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_EQ(alphaCaptions[0], alphaCaptions[1]);
    EXPECT_TRUE(alphaCaptions[0].endsWith(u" (2)"_qs));
    EXPECT_FALSE(alphaCaptions[0].startsWith(u'['));
    const QString text = QString::fromUtf8(io.out);
    EXPECT_EQ(text.count(u";beta;0\r\n"_qs), 2);
}

TEST(BatchRun, AMissingResultWithoutAServiceFailsAndTheCacheIsStillSaved) {
    test::TempDir dir;
    const Stamp now = CurrentStamp();
    const QString fresh = QString::number(now - 1000) + u";known;http://a.ru/;http://b.ru/\r\n"_qs;
    const QString expired = QString::number(now - 8 * kMsPerDay) + u";expired;http://c.ru/\r\n"_qs;
    dir.write(u"cache.txt"_qs, (fresh + expired).toLatin1());
    dir.write(u"q.txt"_qs, "known\r\nunknown %2 100%\r\n");
    Captured io;
    EXPECT_EQ(batchMain({u"--queries"_qs, dir.path(u"q.txt"_qs)}, testDefaults(dir), io.env()),
              beRunFailed);
    EXPECT_TRUE(io.err.join(u'\n').contains(u"the first \"unknown %2 100%\" (query 2)"_qs))
        << io.err.join(u'\n').toStdString();
    EXPECT_TRUE(io.err.join(u'\n').contains(u"--url"_qs));
    EXPECT_TRUE(io.out.isEmpty());
    // Saved: the expired line is gone, the fresh one stays, now marked with its region (a file
    // of an older version holds the results of region 213 when no settings say otherwise).
    EXPECT_EQ(dir.read(u"cache.txt"_qs), "\xEF\xBB\xBF" + (u"#region 213\r\n"_qs + fresh).toUtf8());
}

// The fetch plugs in through BatchEnvironment::fetch; what it fetched before failing is kept.
TEST(BatchRun, AFailedFetchKeepsWhatItFetched) {
    test::TempDir dir;
    dir.write(u"q.txt"_qs, "first\r\nsecond\r\n");
    Captured io;
    BatchEnvironment env = io.env();
    QString askedUrl;
    env.fetch = [&](FetchList& list, const FetchRequest& request) -> FetchStatus {
        askedUrl = request.baseUrl;
        EXPECT_EQ(list.size(), 2u);
        if (list.size() != 2) {
            return {};
        }
        EXPECT_EQ(list[0].text, u"first"_qs);
        EXPECT_EQ(list[1].text, u"second"_qs);
        EXPECT_EQ(request.codePage, kCp1251);
        list[0].entry = std::make_unique<TSerpEntry>(CurrentStamp());
        list[0].entry->Urls.add(u"http://first.ru/"_qs);
        request.progress(1, 2);
        FetchStatus r;
        r.kind = FetchStatus::Kind::Error;
        r.error = yrConnect;
        r.answered = 1;
        return r;
    };
    EXPECT_EQ(batchMain({u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs,
                         u"http://127.0.0.1:1/search?user=u&key=k"_qs, u"--region"_qs, u"2"_qs},
                        testDefaults(dir), env),
              beRunFailed);
    EXPECT_EQ(askedUrl, u"http://127.0.0.1:1/search?user=u&key=k&lr=2"_qs);
    EXPECT_TRUE(io.err.join(u'\n').contains(
        u"Ошибка: не удалось установить подключение к сервису Яндекс"_qs));
    EXPECT_TRUE(AnsiCodec(kCp1251)
                    .decode(dir.read(u"cache.txt"_qs))
                    .contains(u";first;http://first.ru/"_qs));
}

TEST(BatchRun, ASuccessfulFetchGivesTheRunItsWorkList) {
    test::TempDir dir;
    dir.write(u"q.txt"_qs, "one\r\ntwo\r\n");
    Captured io;
    BatchEnvironment env = io.env();
    env.fetch = [&](FetchList& list, const FetchRequest&) {
        FetchStatus r;
        for (FetchLine& line : list) {
            line.entry = std::make_unique<TSerpEntry>(CurrentStamp());
            for (int i = 0; i < 4; ++i) {
                line.entry->Urls.add(u"http://shared%1.ru/"_qs.arg(i));
            }
            ++r.answered;
        }
        return r;
    };
    ASSERT_EQ(batchMain({u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs, u"http://x/?a=b"_qs,
                         u"--lang"_qs, u"en"_qs},
                        testDefaults(dir), env),
              beSuccess);
    EXPECT_TRUE(QString::fromLatin1(io.out).contains(u"one (2);one;4\r\none (2);two;4\r\n"_qs));
}

// The search worker itself behind the run, over an in-memory transport: what is stored is not
// asked again, the answers are clustered, and a service error is the window's message.
TEST(BatchRun, TheSearchWorkerFetchesWhatIsMissing) {
    test::TempDir dir;
    const Stamp now = CurrentStamp();
    dir.write(u"cache.txt"_qs,
              (QString::number(now - 1000) +
               u";stored;http://s0.ru/;http://s1.ru/;http://s2.ru/;http://x.ru/\r\n"_qs)
                  .toLatin1());
    dir.write(u"q.txt"_qs, "stored\r\nasked\r\nfailing\r\n");
    const QStringList shared = {u"http://s0.ru/"_qs, u"http://s1.ru/"_qs, u"http://s2.ru/"_qs,
                                u"http://y.ru/page"_qs};
    auto transport = std::make_shared<test::QueueTransport>(std::vector<HttpResponse>{
        test::answered(test::xmlWithUrls(shared)),
        test::answered(test::xmlWithError(32, u"Лимит запросов исчерпан"_qs))});
    SearchContext context;
    context.transport = transport;
    context.pause = [](int) {};
    Captured io;
    BatchEnvironment env = io.env();
    env.fetch = serviceFetcher(context);
    const QStringList args = {u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs,
                              u"http://127.0.0.1:9/search/xml?user=u&key=k"_qs};
    EXPECT_EQ(batchMain(args, testDefaults(dir), env), beRunFailed);
    const QString said = io.err.join(u'\n');
    EXPECT_TRUE(said.contains(u"Ошибка: исчерпан суточный лимит запросов к сервису (код 32)"_qs))
        << said.toStdString();
    ASSERT_GE(transport->requests().size(), 2u);
    EXPECT_EQ(test::queryParam(transport->requests()[0]), u"asked"_qs);
    EXPECT_TRUE(transport->requests()[0].url.contains("&lr=213"));
    // What was answered before the error is in the cache.
    ResultStore cached;
    loadCacheText(cached, decodeTextFile(dir.read(u"cache.txt"_qs), AnsiCodec(kCp1251)), now);
    ASSERT_TRUE(findEntry(cached, u"asked"));
    EXPECT_EQ(findEntry(cached, u"asked")->Urls.size(), 4);

    // The next run asks only for what is still missing; with an answer it clusters.
    dir.write(u"q.txt"_qs, "stored\r\nasked\r\n");
    Captured again;
    BatchEnvironment env2 = again.env();
    auto unused = std::make_shared<test::QueueTransport>();
    context.transport = unused;
    env2.fetch = serviceFetcher(context);
    ASSERT_EQ(batchMain(args + QStringList{u"--lang"_qs, u"en"_qs}, testDefaults(dir), env2),
              beSuccess)
        << again.err.join(u'\n').toStdString();
    EXPECT_TRUE(unused->requests().empty());
    const QString exported = QString::fromLatin1(again.out);
    EXPECT_TRUE(exported.contains(u"asked (2);asked;3\r\n"_qs)) << exported.toStdString();
    EXPECT_TRUE(exported.contains(u"asked (2);stored;4\r\n"_qs)) << exported.toStdString();
}

// Over real sockets: the loopback service, the libcurl transport, the worker. The missing results
// are fetched, clustered and cached; the next run asks for nothing; a service error fails the
// run and keeps what came.
TEST(BatchRun, FetchesFromTheLoopbackServiceAndCaches) {
    test::ServiceDouble service;
    service.setResponder([](const QString& q) {
        if (q == u"broken") {
            return test::ServiceAnswer::error(32, u"Limit exceeded"_qs);
        }
        const QString topic = q.left(q.indexOf(u' '));
        QStringList urls;
        for (int i = 0; i < 4; ++i) {
            urls.append(u"http://%1%2.ru/"_qs.arg(topic).arg(i));
        }
        urls.append(u"http://own.ru/"_qs + QString(q).replace(u' ', u'-'));
        return test::ServiceAnswer::urls(urls);
    });
    test::TempDir dir;
    dir.write(u"q.txt"_qs, "alpha one\r\nbeta one\r\nalpha two\r\nbeta two\r\nlone query\r\n");
    SearchContext context;
    context.transport = std::make_shared<CurlTransport>();
    context.pause = [](int) {};
    const QStringList args = {
        u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs, service.searchUrl(), u"--region"_qs,
        u"2"_qs,         u"--lang"_qs,          u"en"_qs};
    auto run = [&](Captured& io) {
        BatchEnvironment env = io.env();
        env.fetch = serviceFetcher(context);
        return batchMain(args, testDefaults(dir), env);
    };
    Captured first;
    ASSERT_EQ(run(first), beSuccess) << first.err.join(u'\n').toStdString();
    EXPECT_EQ(service.requestCount(), 5);
    for (const test::RecordedRequest& r : service.requests()) {
        EXPECT_EQ(r.param(u"lr"_qs), u"2"_qs);
    }
    const QString text = AnsiCodec(kCp1251).decode(first.out);
    for (const char16_t* line :
         {u"alpha one (2);alpha one;4\r\n", u"alpha one (2);alpha two;4\r\n",
          u"beta one (2);beta two;4\r\n", u"[ неотсортированные ] (1);lone query;4\r\n"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf16(line))) << text.toStdString();
    }

    Captured second;
    ASSERT_EQ(run(second), beSuccess);
    EXPECT_EQ(service.requestCount(), 5);
    EXPECT_EQ(second.out, first.out);

    dir.write(u"q.txt"_qs, "alpha one\r\ngamma one\r\nbroken\r\n");
    Captured failed;
    EXPECT_EQ(run(failed), beRunFailed);
    EXPECT_TRUE(failed.err.join(u'\n').contains(
        u"Error: the daily limit of requests to the service is used up (code 32)"_qs))
        << failed.err.join(u'\n').toStdString();
    EXPECT_TRUE(failed.out.isEmpty());
    ResultStore cached;
    loadCacheText(cached, decodeTextFile(dir.read(u"cache.txt"_qs), AnsiCodec(kCp1251)),
                  CurrentStamp());
    EXPECT_TRUE(findEntry(cached, u"gamma one"));
    EXPECT_TRUE(findEntry(cached, u"beta two"));
    EXPECT_FALSE(findEntry(cached, u"broken"));
}

// The export does not depend on how many requests were in flight: the answers join the run in
// the order of the query file. A query the service refuses for itself is skipped and listed,
// and the run goes on; a dry run prints the plan and asks nothing.
TEST(FetchPoolExport, OneAndEightSlotsWriteTheSameBytes) {
    test::ServiceDouble service;
    service.setResponder([](const QString& q) {
        if (q == u"bad (query") {
            return test::ServiceAnswer::error(1, u"Syntax error"_qs);
        }
        const int n = q.mid(1).toInt();
        QStringList urls;
        for (int i = 0; i < 4; ++i) {
            urls.append(u"http://t%1-%2.ru/"_qs.arg(n % 7).arg(i));
        }
        urls.append(u"http://own.ru/"_qs + q);
        test::ServiceAnswer a = test::ServiceAnswer::urls(urls);
        a.delayMs = (n * 7) % 30;  // the slots finish out of order
        return a;
    });
    test::TempDir dir;
    QByteArray file;
    for (int i = 0; i < 60; ++i) {
        file += "q" + QByteArray::number(i) + "\r\n";
        if (i == 30) {
            file += "bad (query\r\n";
        }
    }
    dir.write(u"q.txt"_qs, file);
    SearchContext context;
    context.transport = std::make_shared<CurlTransport>();
    context.pause = [](int) {};
    auto run = [&](Captured& io, const QStringList& more) {
        BatchEnvironment env = io.env();
        env.fetch = serviceFetcher(context);
        return batchMain(
            QStringList{u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs, service.searchUrl(),
                        u"--no-cache"_qs, u"--lang"_qs, u"en"_qs} +
                more,
            testDefaults(dir), env);
    };
    Captured dry;
    ASSERT_EQ(run(dry, {u"--dry-run"_qs, u"--threads"_qs, u"8"_qs, u"--max-rps"_qs, u"4"_qs}),
              beSuccess);
    EXPECT_EQ(service.requestCount(), 0);
    EXPECT_TRUE(dry.out.isEmpty());
    EXPECT_TRUE(dry.err.join(u'\n').contains(
        u"61 queries will be asked (0 come from the cache); at the configured pace that takes "
        u"about 0:16."_qs))
        << dry.err.join(u'\n').toStdString();

    Captured one;
    Captured eight;
    ASSERT_EQ(run(one, {u"--threads"_qs, u"1"_qs}), beSuccess) << one.err.join(u'\n').toStdString();
    ASSERT_EQ(run(eight, {u"--threads"_qs, u"8"_qs}), beSuccess);
    EXPECT_EQ(service.requestCount(), 2 * 61);
    EXPECT_FALSE(one.out.isEmpty());
    EXPECT_EQ(one.out, eight.out);
    const QString err = eight.err.join(u'\n');
    EXPECT_TRUE(err.contains(u"1 queries were skipped"_qs)) << err.toStdString();
    EXPECT_TRUE(err.contains(u"\"bad (query\": code 1, \"Syntax error\""_qs)) << err.toStdString();
    EXPECT_FALSE(QString::fromLatin1(one.out).contains(u"bad (query"_qs));
}

// A skipped query moves the progress on like an answered one: when it is the last to finish, the
// final line still says that every query is done.
TEST(FetchPoolExport, ASkipFinishingTheFetchStillShowsTheLastProgressLine) {
    test::ServiceDouble service;
    service.setResponder([](const QString& q) {
        return q == u"bad (query" ? test::ServiceAnswer::error(1, u"Syntax error"_qs)
                                  : test::ServiceAnswer::urls({u"http://a.ru/"_qs});
    });
    test::TempDir dir;
    dir.write(u"q.txt"_qs, "first\r\nbad (query\r\n");
    SearchContext context;
    context.transport = std::make_shared<CurlTransport>();
    context.pause = [](int) {};
    Captured io;
    BatchEnvironment env = io.env();
    env.fetch = serviceFetcher(context);
    ASSERT_EQ(batchMain({u"--queries"_qs, dir.path(u"q.txt"_qs), u"--url"_qs, service.searchUrl(),
                         u"--no-cache"_qs, u"--threads"_qs, u"1"_qs},
                        testDefaults(dir), env),
              beSuccess);
    const QString err = io.err.join(u'\n');
    EXPECT_TRUE(err.contains(u"fetched 2 of 2"_qs)) << err.toStdString();
}

TEST(BatchRun, BadInputFilesExitTwoNamingTheFile) {
    test::TempDir dir;
    struct Case {
        const char* name;
        QByteArray bytes;
        const char16_t* said;
    };
    const Case cases[] = {
        {"empty.csv", "", u"no table"},
        {"lone.csv", "just one value", u"no table"},
        {"no-url.csv", "Query;URL\r\nq;\r\n;http://a.ru/\r\n", u"URL [Yandex]"},
        {"comma.csv", "Query,URL\r\nq,\r\n,http://a.ru/\r\n", u"URL [Yandex]"},
        {"bom.csv", "\xEF\xBB\xBFQuery;URL [Yandex]\r\n;http://a.ru/\r\n", u"no query row"},
        {"lf.csv", "Query;URL [Yandex]\nq;\n;http://a.ru/\n", u"LF"},
        {"header.csv", "Query;URL [Yandex]\r\n;http://a.ru/\r\n", u"no query row"},
        {"zeros.csv", QByteArray("\0\0\0;\0\r\n\0", 8), u"not a text file"},
    };
    for (const Case& c : cases) {
        const QString path = dir.write(QString::fromLatin1(c.name), c.bytes);
        Captured io;
        EXPECT_EQ(batchMain({u"--import"_qs, path, u"--no-cache"_qs}, testDefaults(dir), io.env()),
                  beBadInput)
            << c.name;
        const QString said = io.err.join(u'\n');
        EXPECT_TRUE(said.contains(path)) << said.toStdString();
        EXPECT_TRUE(said.contains(QString::fromUtf16(c.said))) << said.toStdString();
    }
    // Files that cannot be read at all.
    for (const QStringList& args : {QStringList{u"--import"_qs, dir.path(u"missing.csv"_qs)},
                                    QStringList{u"--queries"_qs, dir.path(u"missing.txt"_qs)},
                                    QStringList{u"--queries"_qs, dir.root()}}) {
        Captured io;
        EXPECT_EQ(batchMain(args + QStringList{u"--no-cache"_qs}, testDefaults(dir), io.env()),
                  beBadInput);
        EXPECT_TRUE(io.err.join(u'\n').contains(args[1])) << io.err.join(u'\n').toStdString();
    }
    // An output that cannot be written.
    const QString csv = dir.write(u"in.csv"_qs, topicalImport());
    Captured io;
    const QString bad = dir.path(u"no-folder/out.csv"_qs);
    EXPECT_EQ(batchMain({u"--import"_qs, csv, u"--output"_qs, bad, u"--no-cache"_qs},
                        testDefaults(dir), io.env()),
              beBadInput);
    EXPECT_TRUE(io.err.join(u'\n').contains(bad));
}

TEST(BatchArguments, Defaults) {
    BatchDefaults d;
    d.cachePath = u"/opt/kelvara/cache.txt"_qs;
    d.language = UiLanguage::Russian;
    d.codePage = kCp1251;
    const ParsedArguments soft = parseBatchArguments({u"--queries"_qs, u"q.txt"_qs}, d);
    ASSERT_TRUE(soft.options) << soft.error.toStdString();
    EXPECT_EQ(soft.options->source, BatchOptions::Source::Queries);
    EXPECT_FALSE(soft.options->hardMethod);
    EXPECT_EQ(soft.options->threshold, 3);
    EXPECT_EQ(soft.options->cachePath, u"/opt/kelvara/cache.txt"_qs);
    EXPECT_EQ(soft.options->region, 213);
    EXPECT_EQ(soft.options->language, UiLanguage::Russian);
    EXPECT_EQ(soft.options->codePage, kCp1251);
    EXPECT_TRUE(soft.options->outputPath.isEmpty());

    const ParsedArguments hard = parseBatchArguments(
        {u"--import=x.csv"_qs, u"--method"_qs, u"hard"_qs, u"--no-cache"_qs, u"--lang=en"_qs,
         u"--region"_qs, u"2"_qs, u"--output"_qs, u"-"_qs, u"--codepage"_qs, u"windows-1252"_qs},
        d);
    ASSERT_TRUE(hard.options) << hard.error.toStdString();
    EXPECT_EQ(hard.options->source, BatchOptions::Source::Import);
    EXPECT_EQ(hard.options->inputPath, u"x.csv"_qs);
    EXPECT_TRUE(hard.options->hardMethod);
    EXPECT_EQ(hard.options->threshold, 4);
    EXPECT_FALSE(hard.options->cachePath);
    EXPECT_EQ(hard.options->region, 2);
    EXPECT_EQ(hard.options->language, UiLanguage::English);

    const ParsedArguments k = parseBatchArguments(
        {u"--queries"_qs, u"q"_qs, u"--threshold"_qs, u"10"_qs, u"--cache"_qs, u"c.txt"_qs}, d);
    ASSERT_TRUE(k.options);
    EXPECT_EQ(k.options->threshold, 10);
    EXPECT_EQ(k.options->cachePath, u"c.txt"_qs);
    EXPECT_TRUE(parseBatchArguments({u"--help"_qs}, d).help);
}

TEST(BatchArguments, BadArgumentsExitTwo) {
    const QStringList bad[] = {
        {},
        {u"--queries"_qs, u"q"_qs, u"--import"_qs, u"i.csv"_qs},
        {u"--queries"_qs},
        {u"--queries"_qs, u"q"_qs, u"--threshold"_qs, u"0"_qs},
        {u"--queries"_qs, u"q"_qs, u"--threshold"_qs, u"11"_qs},
        {u"--queries"_qs, u"q"_qs, u"--threshold"_qs, u"3x"_qs},
        {u"--queries"_qs, u"q"_qs, u"--method"_qs, u"Soft"_qs},
        {u"--queries"_qs, u"q"_qs, u"--lang"_qs, u"de"_qs},
        {u"--queries"_qs, u"q"_qs, u"--codepage"_qs, u"no-such-code-page"_qs},
        {u"--queries"_qs, u"q"_qs, u"--region"_qs, u"-1"_qs},
        {u"--queries"_qs, u"q"_qs, u"--cache"_qs, u"c"_qs, u"--no-cache"_qs},
        {u"--queries"_qs, u"q"_qs, u"--queries"_qs, u"r"_qs},
        {u"--queries"_qs, u"q"_qs, u"--frobnicate"_qs},
        {u"--queries"_qs, u"q"_qs, u"stray"_qs},
        {u"--queries"_qs, u"q"_qs, u"--quiet=yes"_qs},
        {u"--queries"_qs, u"q"_qs, u"--project"_qs, u""_qs},
        {u"--queries"_qs, u"q"_qs, u"--threads"_qs, u"0"_qs},
        {u"--queries"_qs, u"q"_qs, u"--threads"_qs, u"51"_qs},
        {u"--queries"_qs, u"q"_qs, u"--max-rps"_qs, u"-1"_qs},
        {u"--queries"_qs, u"q"_qs, u"--max-rps"_qs, u"fast"_qs},
    };
    test::TempDir dir;
    for (const QStringList& args : bad) {
        Captured io;
        EXPECT_EQ(batchMain(args, testDefaults(dir), io.env()), beBadInput)
            << args.join(u' ').toStdString();
        ASSERT_FALSE(io.err.isEmpty());
        EXPECT_TRUE(io.err.last().contains(u"--help"_qs));
    }
}

}  // namespace
