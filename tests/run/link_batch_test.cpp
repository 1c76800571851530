// kelvara-cli's --ignore-hosts and --match-by.
#include "run/batch_run.h"

#include "clustering/cluster.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

// Two topics whose queries share three pages of their topic and two of a marketplace; one tyre
// query also has a coffee page: at threshold 3 the marketplace chains the topics together.
QByteArray marketplaceImport() {
    QString text = u"Запрос;URL [Yandex]\r\n"_qs;
    auto block = [&text](const QString& query, const QStringList& urls) {
        text += query + u";\r\n"_qs;
        for (const QString& u : urls) {
            text += u";"_qs + u + u"\r\n"_qs;
        }
    };
    const QStringList market = {u"https://www.market.example/a"_qs, u"https://market.example/b"_qs};
    const QStringList coffee = {u"http://kofe.ru/1"_qs, u"http://kofe.ru/2"_qs,
                                u"http://kofe.ru/3"_qs};
    const QStringList tyres = {u"http://shiny.ru/1"_qs, u"http://shiny.ru/2"_qs,
                               u"http://shiny.ru/3"_qs};
    block(u"кофе в зернах"_qs, market + coffee);
    block(u"купить кофе"_qs, market + coffee);
    block(u"зимние шины"_qs, market + tyres + QStringList{u"http://kofe.ru/1"_qs});
    block(u"шины цена"_qs, market + tyres);
    return AnsiCodec("windows-1251").encode(text);
}

struct Result {
    int exit = -1;
    qsizetype clusters = 0;
    QStringList err;
};

Result run(const QStringList& extra, const test::TempDir& dir) {
    Result r;
    const QString input = dir.write(u"in.csv"_qs, marketplaceImport());
    BatchDefaults defaults;
    defaults.codePage = "windows-1251";
    const ParsedArguments parsed =
        parseBatchArguments(QStringList{u"--import"_qs, input, u"--no-cache"_qs, u"--threshold"_qs,
                                        u"3"_qs, u"--output"_qs, dir.path(u"out.csv"_qs)} +
                                extra,
                            defaults);
    if (!parsed.options) {
        r.err << parsed.error;
        return r;
    }
    BatchEnvironment env;
    env.writeErr = [&r](const QString& line) { r.err << line; };
    const BatchReport report = runBatch(*parsed.options, env);
    r.exit = report.exitCode;
    r.clusters = report.clusters;
    return r;
}

}  // namespace

TEST(BatchLinks, IgnoredHostsAndMatchingByHostChangeOnlyTheClustering) {
    test::TempDir dir;
    EXPECT_EQ(run({}, dir).clusters, 1);
    const QByteArray plain = dir.read(u"out.csv"_qs);

    // Garbage lines are reported, the rest used.
    const QString hosts =
        dir.write(u"hosts.txt"_qs, "\xef\xbb\xbf# shops\r\n*.market.example\r\nnot a host\r\n");
    const Result ignored = run({u"--ignore-hosts"_qs, hosts}, dir);
    EXPECT_EQ(ignored.exit, beSuccess);
    EXPECT_EQ(ignored.clusters, 2);
    EXPECT_TRUE(ignored.err.join(u'\n').contains(u"line 3: \"not a host\""))
        << ignored.err.join(u'\n').toStdString();
    // The export still lists the phrases; its URL-free lines are what the tree holds.
    EXPECT_NE(dir.read(u"out.csv"_qs), plain);

    // By host no two queries share three hosts: every query is left alone.
    EXPECT_EQ(run({u"--match-by"_qs, u"host"_qs}, dir).clusters, 1);
    EXPECT_TRUE(
        dir.read(u"out.csv"_qs).contains(AnsiCodec("windows-1251").encode(unsortedCaption())));
    EXPECT_EQ(run({u"--match-by"_qs, u"url"_qs}, dir).clusters, 1);
    EXPECT_EQ(dir.read(u"out.csv"_qs), plain);
}

TEST(BatchLinks, BadArgumentsAndFilesAreRefused) {
    test::TempDir dir;
    EXPECT_TRUE(run({u"--match-by"_qs, u"domain"_qs}, dir).err.join(u' ').contains(u"--match-by"));
    EXPECT_TRUE(run({u"--ignore-hosts"_qs, QString()}, dir).err.join(u' ').contains(u"empty"));
    const Result missing = run({u"--ignore-hosts"_qs, dir.path(u"nowhere.txt"_qs)}, dir);
    EXPECT_EQ(missing.exit, beBadInput);
    EXPECT_TRUE(missing.err.join(u' ').contains(u"does not exist"));
    EXPECT_TRUE(batchUsage().contains(u"--ignore-hosts FILE"));
    EXPECT_TRUE(batchUsage().contains(u"--match-by url|host"));
}
