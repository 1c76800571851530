#include "table/export_readback.h"

#include "support/temp_dir.h"
#include "table/csv_export.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

const AnsiCodec& cp1251() {
    static const AnsiCodec codec("windows-1251");
    return codec;
}

// Captions and phrases that make the unquoted cells ambiguous: ";" in both, a caption that
// looks like "caption (count);", two groups of one caption in a row, and the bucket.
ClusterList tricky() {
    return {
        {u"окна пвх"_qs, {u"купить окна"_qs, u"окна пвх"_qs, u"окна; пвх (2);цена"_qs}},
        {u"a (1);b"_qs, {u"x"_qs, u"y"_qs}},
        {u"двери"_qs, {u"дверь"_qs}},
        {u"двери"_qs, {u"двери входные"_qs}},
        {u""_qs, {u"без названия"_qs}},
        {unsortedCaption(), {u"погода"_qs, u"курс (1);доллара"_qs}},
    };
}

ClusterList readBack(const QByteArray& bytes) {
    const ExportRead r = parseExport(decodeTextFile(bytes, cp1251()));
    EXPECT_TRUE(r.clusters) << exportReadProblem(r, UiLanguage::English).toStdString();
    return r.clusters.value_or(ClusterList());
}

}  // namespace

TEST(ExportReadback, ClustersComeBackInOrderInBothLanguagesAndEncodings) {
    ResultStore store;
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
        ClusterList clusters = tricky();
        const QString text = exportText(clusters, store, language);
        // In the code page.
        bool utf8 = true;
        const QByteArray ansi = exportBytes(text, cp1251(), &utf8);
        EXPECT_FALSE(utf8);
        EXPECT_EQ(readBack(ansi), clusters);

        // A text the code page lacks: the export is UTF-8 after a byte-order mark.
        clusters[1].phrases.append(u"東京 ✓ 😀"_qs);
        const QByteArray wide = exportBytes(exportText(clusters, store, language), cp1251(), &utf8);
        EXPECT_TRUE(utf8);
        EXPECT_EQ(readBack(wide), clusters);
    }
    // A cluster without phrases leaves no line in the export, so it cannot come back.
    const ClusterList withEmpty = {{u"A"_qs, {u"a"_qs}}, {u"empty"_qs, {}}};
    EXPECT_EQ(readBack(exportBytes(exportText(withEmpty, store, UiLanguage::English), cp1251())),
              ClusterList({{u"A"_qs, {u"a"_qs}}}));
}

TEST(ExportReadback, FromTheFileAsTheExportWroteIt) {
    test::TempDir dir;
    ResultStore store;
    const QString path = dir.path(u"grouped.csv"_qs);
    ASSERT_FALSE(ExportCsv(path, tricky(), store, UiLanguage::Russian, cp1251()));
    const ExportRead r = readExport(path, cp1251());
    ASSERT_TRUE(r.clusters);
    EXPECT_EQ(*r.clusters, tricky());
    EXPECT_TRUE(readExport(dir.path(u"missing.csv"_qs), cp1251()).fileError);
}

TEST(ExportReadback, WhatIsNoExportIsRefusedNamingTheLine) {
    const QByteArray head = "Query clustering result\r\n\r\nGroup;Query;Main page\r\n";
    const QByteArray foot = "\r\nClustered with www.tarvelo.example\r\n";
    struct Case {
        const char* what;
        QByteArray bytes;
        ExportProblem problem;
        qsizetype line;
        const char* says;
    };
    const Case cases[] = {
        {"an import file", "Запрос;URL [Yandex]\r\nа;http://a.ru/\r\n", ExportProblem::NoHeader, 1,
         "not a Kelvara export: line 1"},
        {"a header cut short", "Query clustering result\r\n\r\nGroup;Query\r\n",
         ExportProblem::NoHeader, 3, "line 3"},
        {"no count", head + "A;a;0\r\n" + foot, ExportProblem::BadLine, 4,
         "line 4 is not a line of an export"},
        {"no main pages", head + "A (1);a\r\n" + foot, ExportProblem::BadLine, 4, "line 4"},
        {"a group cut short", head + "A (3);a;0\r\nA (3);b;1\r\nB (1);c;0\r\n" + foot,
         ExportProblem::ShortGroup, 6, "line 6: the group \"A\" counts 3 queries but has 2 lines"},
        {"no footer", head + "A (1);a;0\r\n", ExportProblem::NoFooter, 4, "ends at line 4"},
        {"a stray line after the body", head + "A (1);a;0\r\n\r\nnot the footer\r\n",
         ExportProblem::BadLine, 6, "line 6"},
        {"text after the footer", head + "A (1);a;0\r\n" + foot + "more;1\r\n",
         ExportProblem::AfterFooter, 7, "line 7"},
    };
    for (const Case& c : cases) {
        const ExportRead r = parseExport(decodeTextFile(c.bytes, cp1251()));
        EXPECT_FALSE(r.clusters) << c.what;
        EXPECT_EQ(r.problem, c.problem) << c.what;
        EXPECT_EQ(r.line, c.line) << c.what;
        const QString text = exportReadProblem(r, UiLanguage::English);
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.says)))
            << c.what << ": " << text.toStdString();
        EXPECT_TRUE(exportReadProblem(r, UiLanguage::Russian).contains(QString::number(c.line)));
    }
    // An empty tree's export is an export of nothing.
    const ExportRead empty = parseExport(decodeTextFile(head + foot, cp1251()));
    ASSERT_TRUE(empty.clusters);
    EXPECT_TRUE(empty.clusters->empty());
}
