#include "search/regions.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(Regions, LinesToItems) {
    struct Case {
        const char16_t* line;
        const char16_t* text;  // null: no item
        qint32 code;
    };
    const Case cases[] = {
        {u"+225 North", u"  North (225)", 225},
        {u"++213 Lakeside", u"    Lakeside (213)", 213},
        {u"++0213Lakeside", u"    Lakeside (213)", 213},
        {u"+0 All", nullptr, 0},
        {u"", nullptr, 0},
        {u"+++", nullptr, 0},
        {u"213 Lakeside", u"Lakeside (13)", 13},
        {u"+12345678901234567890 Big", nullptr, 0},
        {u"+2147483648 Big", nullptr, 0},
        {u"+2147483647 Max", u"  Max (2147483647)", 2147483647},
        {u"++213", u"    ++213 (213)", 213},
        {u"+1 \t Москва и область \x01", u"  Москва и область (1)", 1},
        {u"+x1 Name", nullptr, 0},
    };
    for (const Case& c : cases) {
        const auto item = parseRegionLine(c.line);
        if (!c.text) {
            EXPECT_FALSE(item) << QString::fromUtf16(c.line).toStdString();
            continue;
        }
        ASSERT_TRUE(item) << QString::fromUtf16(c.line).toStdString();
        EXPECT_EQ(item->text, QString::fromUtf16(c.text));
        EXPECT_EQ(item->code, c.code);
    }
}

TEST(Regions, FileInOrderWithBomAndAnyLineEnds) {
    test::TempDir dir;
    const QString path = dir.write(
        u"regions.txt"_qs,
        QByteArray("\xEF\xBB\xBF") +
            u"+225 Россия\r++1 Москва\n+++213 Москва\r\n\r\n+0 x\r\n+2 Dup\r\n+2 Dup2"_qs.toUtf8());
    const RegionsResult r = LoadRegions(path, AnsiCodec("windows-1251"));
    ASSERT_FALSE(r.error);
    ASSERT_EQ(r.items.size(), 5u);
    EXPECT_EQ(r.items[2].text, u"      Москва (213)"_qs);
    EXPECT_EQ(findRegion(r.items, 2), 3);
    EXPECT_EQ(findRegion(r.items, 9), -1);
    EXPECT_TRUE(parseRegions(u""_qs).empty());
    const RegionsResult missing = LoadRegions(dir.path(u"none.txt"_qs), AnsiCodec());
    ASSERT_TRUE(missing.error);
    EXPECT_TRUE(missing.error->message().contains(u"none.txt"_qs));
}

TEST(Regions, BundledFileIsUsable) {
    const RegionsResult r =
        LoadRegions(QStringLiteral(KELVARA_SOURCE_DATA "/regions.txt"), AnsiCodec());
    ASSERT_FALSE(r.error);
    for (qint32 code : {225, 1, 213, 2, 54, 65, 43}) {
        EXPECT_GE(findRegion(r.items, code), 0) << code;
    }
}
