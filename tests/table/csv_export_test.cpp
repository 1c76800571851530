#include "table/csv_export.h"

#include "clustering/main_pages.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <random>

using namespace kelvara;

namespace {

void addEntry(ResultStore& store, const QString& query, const QStringList& urls) {
    auto e = std::make_unique<TSerpEntry>(1);
    for (const QString& u : urls) {
        e->Urls.add(u);
    }
    store.add(query, std::move(e));
}

const QByteArray kEnglishHeader = "Query clustering result\r\n\r\nGroup;Query;Main page\r\n";
const QByteArray kEnglishFooter = "\r\nClustered with www.tarvelo.example\r\n";

TEST(CsvExport, EmptyTree) {
    const ResultStore store;
    const QByteArray bytes =
        exportBytes(exportText({}, store, UiLanguage::English), AnsiCodec("windows-1252"));
    EXPECT_EQ(bytes, kEnglishHeader + kEnglishFooter);
}

TEST(CsvExport, OneLinePerPhraseWithItsMainPages) {
    ResultStore store;
    addEntry(store, u"p1"_qs, {u"http://a.ru/"_qs, u"https://b.ru:8080/"_qs, u"http://c.ru/x"_qs});
    addEntry(store, u"p2"_qs, {u"http://a.ru/dir/"_qs});
    const ClusterList clusters = {
        {u"Alpha"_qs, {u"p1"_qs, u"p2"_qs}},
        {u"Empty"_qs, {}},  // a cluster without phrases writes no line
        // A phrase the store does not know counts 0; a ";" in a caption is not quoted.
        {u"a;b \"c\""_qs, {u"P1"_qs, u"unknown"_qs}},
    };
    const QByteArray bytes =
        exportBytes(exportText(clusters, store, UiLanguage::English), AnsiCodec("windows-1252"));
    EXPECT_EQ(bytes, kEnglishHeader +
                         "Alpha (2);p1;2\r\n"
                         "Alpha (2);p2;0\r\n"
                         "a;b \"c\" (2);P1;2\r\n"
                         "a;b \"c\" (2);unknown;0\r\n" +
                         kEnglishFooter);
}

TEST(CsvExport, RussianInTheCodePage) {
    ResultStore store;
    addEntry(store, u"окна"_qs, {u"http://окна.рф/"_qs});
    const ClusterList clusters = {{unsortedCaption(), {u"окна"_qs}}};
    bool utf8 = true;
    const QByteArray bytes = exportBytes(exportText(clusters, store, UiLanguage::Russian),
                                         AnsiCodec("windows-1251"), &utf8);
    EXPECT_FALSE(utf8);
    const QString expected =
        u"Результат кластеризации запросов\r\n\r\nГруппа;Запрос;Главных\r\n"
        "[ неотсортированные ] (1);окна;1\r\n"
        "\r\nКластеризованно при помощи www.tarvelo.example\r\n"_qs;
    EXPECT_EQ(bytes, AnsiCodec("windows-1251").encode(expected));
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
}

// A code page without Cyrillic would turn every Russian phrase into "?": the whole file is then
// UTF-8 with a mark instead.
TEST(CsvExport, FallsBackToUtf8WhenTheCodePageLacksACharacter) {
    ResultStore store;
    const ClusterList clusters = {{u"Alpha"_qs, {u"café"_qs, u"окна"_qs}}};
    bool utf8 = false;
    const QString text = exportText(clusters, store, UiLanguage::English);
    const QByteArray bytes = exportBytes(text, AnsiCodec("windows-1252"), &utf8);
    EXPECT_TRUE(utf8);
    EXPECT_EQ(bytes, QByteArray("\xEF\xBB\xBF") + text.toUtf8());
    // When everything fits, the code page it is, é as one byte.
    const QByteArray latin =
        exportBytes(exportText({{u"Alpha"_qs, {u"café"_qs}}}, store, UiLanguage::English),
                    AnsiCodec("windows-1252"), &utf8);
    EXPECT_FALSE(utf8);
    EXPECT_TRUE(latin.contains("Alpha (1);caf\xE9;0\r\n"));
}

// Big trees look phrases up through an exact-text index first; letter case must still be
// ignored as in the store.
TEST(CsvExport, LargeTreeCountsLikeTheStore) {
    ResultStore store;
    ClusterList clusters(1);
    clusters[0].caption = u"big"_qs;
    QByteArray expected = kEnglishHeader;
    for (int i = 0; i < 1000; ++i) {
        const QString query = u"запрос %1"_qs.arg(i);
        QStringList urls;
        for (int k = 0; k < i % 4; ++k) {
            urls.append(u"http://site%1-%2.ru/"_qs.arg(i).arg(k));
        }
        urls.append(u"http://page.ru/%1"_qs.arg(i));
        addEntry(store, query, urls);
        // Every third phrase differs from the stored text in letter case.
        clusters[0].phrases.append(i % 3 == 0 ? query.toUpper() : query);
    }
    clusters[0].phrases.append(u"not stored"_qs);
    for (qsizetype i = 0; i < clusters[0].phrases.size(); ++i) {
        const QString line =
            u"big (1001);%1;%2\r\n"_qs.arg(clusters[0].phrases[i]).arg(i < 1000 ? i % 4 : 0);
        expected += line.toUtf8();
    }
    expected += kEnglishFooter;
    EXPECT_EQ(exportText(clusters, store, UiLanguage::English).toUtf8(), expected);
}

TEST(CsvExport, WritesTheFileAndReportsAFailure) {
    test::TempDir dir;
    ResultStore store;
    addEntry(store, u"p"_qs, {u"http://a.ru/"_qs});
    const QString path = dir.path(u"out.csv"_qs);
    dir.write(u"out.csv"_qs,
              "old content that is longer than the export will be ............."
              "................................................................");
    ASSERT_FALSE(ExportCsv(path, {{u"c"_qs, {u"p"_qs}}}, store, UiLanguage::English,
                           AnsiCodec("windows-1252")));
    EXPECT_EQ(dir.read(u"out.csv"_qs), kEnglishHeader + "c (1);p;1\r\n" + kEnglishFooter);

    const QString bad = dir.path(u"no-such-folder/out.csv"_qs);
    const std::optional<FileError> e =
        ExportCsv(bad, {}, store, UiLanguage::English, AnsiCodec("windows-1252"));
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->message().contains(bad));
    EXPECT_FALSE(QFile::exists(bad));
}

// The export counts main pages with its own scan; it must answer as the main-page rule does, on
// every short text of the characters that matter.
TEST(CsvExport, MainPageScanAgreesWithTheRule) {
    const char16_t alphabet[] = u"/:ah";
    std::vector<QString> texts = {u""_qs};
    for (int length = 1; length <= 7; ++length) {
        const size_t from = texts.size();
        for (size_t i = 0; i < from; ++i) {
            if (texts[i].size() == length - 1) {
                for (const char16_t c : std::u16string_view(alphabet)) {
                    texts.push_back(texts[i] + QChar(c));
                }
            }
        }
    }
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        QString t;
        for (int k = int(rng() % 30); k > 0; --k) {
            t += QChar(alphabet[rng() % 4]);
        }
        texts.push_back(t);
    }
    for (const QString& t : texts) {
        ASSERT_EQ(mainPageForExport(t), isMainPage(t)) << t.toStdString();
    }
}

TEST(CsvExport, TheCsvExtensionRule) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"result.txt", u"result.txt.csv"},
        {u"grouped.csv", u"grouped.csv"},
        {u"GROUPED.CSV", u"GROUPED.CSV"},
        {u"mixed.CsV", u"mixed.CsV"},
        {u"noextension", u"noextension.csv"},
        {u"csv", u"csv.csv"},
        {u"trailing.", u"trailing..csv"},
        {u"/tmp/dir.csv/name", u"/tmp/dir.csv/name.csv"},
        {u"/tmp/a.b/file.csv", u"/tmp/a.b/file.csv"},
        {u"file.csv.bak", u"file.csv.bak.csv"},
    };
    for (const auto& [name, want] : cases) {
        EXPECT_EQ(withCsvExtension(QString::fromUtf16(name)), QString::fromUtf16(want));
    }
}

}  // namespace
