#include "table/table_string.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kelvara;

namespace {

using Grid = std::vector<std::vector<QString>>;

TTableString semicolonTable() {
    TTableString t;
    t.SetCellDelimeter(u";"_qs);
    t.SetRowDelimeter(u"\r\n"_qs);
    return t;
}

// Every cell of the table's shape, plus a check that the shape is rectangular as read.
Grid cellsOf(const TTableString& t) {
    Grid g;
    for (int r = 0; r < t.RowsCount(); ++r) {
        std::vector<QString> row;
        for (int c = 0; c < t.ColumnsCount(); ++c) {
            row.push_back(t.Cells(c, r));
        }
        g.push_back(row);
    }
    return g;
}

struct ParseCase {
    const char* name;
    QString text;
    bool isTable;
    Grid cells;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class TableParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(TableParse, GivesTheCellsAndTheShape) {
    const ParseCase& c = GetParam();
    TTableString t = semicolonTable();
    t.SetText(c.text);
    EXPECT_EQ(t.IsTableFormat(), c.isTable);
    EXPECT_EQ(cellsOf(t), c.cells);
    EXPECT_EQ(t.RowsCount(), int(c.cells.size()));
}

const QString q = u"\""_qs;

INSTANTIATE_TEST_SUITE_P(
    Cases, TableParse,
    ::testing::Values(
        ParseCase{"ShortRowPadded", u"a;b\r\nx"_qs, true, {{u"a"_qs, u"b"_qs}, {u"x"_qs, u""_qs}}},
        ParseCase{"LoneValue", u"a"_qs, false, {}},
        ParseCase{"LoneValueWithLineEnd", u"a\r\n"_qs, false, {}},
        ParseCase{"LoneEmptyCell", u";"_qs, false, {}},
        ParseCase{"BlankLinesVanish", u"\r\n\r\na;b\r\n\r\n"_qs, true, {{u"a"_qs, u"b"_qs}}},
        ParseCase{"EmptyMiddleCell", u"a;;b"_qs, true, {{u"a"_qs, u""_qs, u"b"_qs}}},
        ParseCase{"NoEmptyCellAfterTrailingDelimiter", u"a;b;"_qs, true, {{u"a"_qs, u"b"_qs}}},
        ParseCase{"LeadingEmptyCell", u";a"_qs, true, {{u""_qs, u"a"_qs}}},
        ParseCase{"RowOfOneDelimiterIsOneEmptyCell", u"x\r\n;"_qs, true, {{u"x"_qs}, {u""_qs}}},
        ParseCase{"RowOfSpacesIsARow", u"  \r\nb"_qs, true, {{u"  "_qs}, {u"b"_qs}}},
        ParseCase{
            "Quotes",
            q + u"x"_qs + q + u";"_qs + q + q + u";"_qs + q + u";x"_qs + q + u";"_qs + q + u"x"_qs,
            true,
            {{u"x"_qs, u""_qs, q, u"x"_qs, u"x"_qs}}},
        ParseCase{"InnerQuotesStay",
                  u"a"_qs + q + u"b;"_qs + q + q + q,
                  true,
                  {{u"a"_qs + q + u"b"_qs, q}}},
        ParseCase{"QuotedDelimiterStillSplits", q + u"x;y"_qs + q, true, {{u"x"_qs, u"y"_qs}}},
        ParseCase{"CellsNotTrimmed",
                  u" a ; b \r\nc"_qs,
                  true,
                  {{u" a "_qs, u" b "_qs}, {u"c"_qs, u""_qs}}},
        ParseCase{
            "BareLineFeedsAreOneRow", u"a;b\nc;d\n"_qs, true, {{u"a"_qs, u"b\nc"_qs, u"d\n"_qs}}},
        ParseCase{"LoneCarriageReturnIsText",
                  u"a;b\r\r\nc"_qs,
                  true,
                  {{u"a"_qs, u"b\r"_qs}, {u"c"_qs, u""_qs}}},
        ParseCase{"NulIsText",
                  QString::fromUtf16(u"a\0;b", 4),
                  true,
                  {{QString::fromUtf16(u"a\0", 2), u"b"_qs}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TableString, DelimitersAreWholeStrings) {
    TTableString t;
    t.SetCellDelimeter(u"||"_qs);
    t.SetRowDelimeter(u"##"_qs);
    t.SetText(u"a||b|c#d##e|||f"_qs);
    EXPECT_TRUE(t.IsTableFormat());
    EXPECT_EQ(cellsOf(t), (Grid{{u"a"_qs, u"b|c#d"_qs}, {u"e"_qs, u"|f"_qs}}));
}

TEST(TableString, StartsWithTabAndCrLfAndEmpty) {
    TTableString t;
    EXPECT_EQ(t.CellDelimeter(), u"\t"_qs);
    EXPECT_EQ(t.RowDelimeter(), u"\r\n"_qs);
    EXPECT_EQ(t.RowsCount(), 0);
    EXPECT_FALSE(t.IsTableFormat());
    t.SetText(u"a\tb\r\nc\td"_qs);
    EXPECT_EQ(cellsOf(t), (Grid{{u"a"_qs, u"b"_qs}, {u"c"_qs, u"d"_qs}}));
}

TEST(TableString, BlankTextLeavesTheTableButClearsTheFlag) {
    TTableString t = semicolonTable();
    t.SetText(u"a;b\r\nc;d"_qs);
    ASSERT_TRUE(t.IsTableFormat());
    for (const QString& blank : {u""_qs, u"  \r\n \t\r\n"_qs, QString::fromUtf16(u"\0\x1f", 2)}) {
        t.SetText(blank);
        EXPECT_FALSE(t.IsTableFormat());
        EXPECT_EQ(cellsOf(t), (Grid{{u"a"_qs, u"b"_qs}, {u"c"_qs, u"d"_qs}}));
    }
    // A lone value, though, replaces the table.
    t.SetText(u"alone"_qs);
    EXPECT_EQ(t.RowsCount(), 0);
    EXPECT_EQ(t.ColumnsCount(), 0);
}

TEST(TableString, ReadingOutsideTheTableIsEmpty) {
    TTableString t = semicolonTable();
    EXPECT_EQ(t.Cells(0, 0), u""_qs);
    t.SetText(u"a;b\r\nc;d"_qs);
    EXPECT_EQ(t.Cells(2, 0), u""_qs);
    EXPECT_EQ(t.Cells(0, 2), u""_qs);
    EXPECT_EQ(t.Cells(-1, 0), u""_qs);
    EXPECT_EQ(t.Cells(1, 1), u"d"_qs);
}

TEST(TableString, RebuildsTheText) {
    TTableString t = semicolonTable();
    EXPECT_EQ(t.GetText(), u""_qs);
    t.SetText(u"a;b\r\nx;y"_qs);
    EXPECT_EQ(t.GetText(), u"a;b;\r\nx;y;\r\n"_qs);
    // A short row is written with its padding cells.
    t.SetText(u"a;b;c\r\nx"_qs);
    EXPECT_EQ(t.Text(), u"a;b;c;\r\nx;;;\r\n"_qs);
    // Parsing the rebuilt text gives the cells back, except enclosing quotes.
    t.SetText(q + u"a;b"_qs + q + u"\r\nc"_qs);
    const QString rebuilt = t.GetText();
    TTableString again = semicolonTable();
    again.SetText(rebuilt);
    EXPECT_EQ(cellsOf(again), cellsOf(t));
}

TEST(TableString, CountSettersKeepTheOverlap) {
    TTableString t = semicolonTable();
    t.SetText(u"a;b;c\r\nd;e;f\r\ng;h;i"_qs);
    t.SetColumnsCount(2);
    t.SetRowsCount(4);
    EXPECT_EQ(cellsOf(t),
              (Grid{{u"a"_qs, u"b"_qs}, {u"d"_qs, u"e"_qs}, {u"g"_qs, u"h"_qs}, {u""_qs, u""_qs}}));
    // Widening again does not bring cut cells back.
    t.SetColumnsCount(3);
    EXPECT_EQ(t.Cells(2, 0), u""_qs);
    EXPECT_EQ(t.GetText(), u"a;b;;\r\nd;e;;\r\ng;h;;\r\n;;;\r\n"_qs);

    // A table of one cell made through the setters rebuilds to text that is no table.
    TTableString one = semicolonTable();
    one.SetColumnsCount(1);
    one.SetRowsCount(1);
    EXPECT_EQ(one.GetText(), u";\r\n"_qs);
    TTableString back = semicolonTable();
    back.SetText(one.GetText());
    EXPECT_FALSE(back.IsTableFormat());
    EXPECT_EQ(back.RowsCount(), 0);
}

TEST(TableString, ClearAndAssign) {
    TTableString t = semicolonTable();
    t.SetText(u"a;b\r\nc;d"_qs);
    TTableString copy;
    copy.Assign(t);
    EXPECT_EQ(copy.CellDelimeter(), u";"_qs);
    EXPECT_EQ(cellsOf(copy), cellsOf(t));
    t.Clear();
    EXPECT_EQ(t.RowsCount(), 0);
    EXPECT_EQ(t.ColumnsCount(), 0);
    EXPECT_TRUE(t.IsTableFormat());  // Clear keeps the flag
    EXPECT_EQ(t.CellDelimeter(), u";"_qs);
    EXPECT_EQ(copy.Cells(1, 1), u"d"_qs);  // the copy holds its own text
}

TEST(TableString, EmptyDelimitersDoNotSplit) {
    TTableString t;
    t.SetCellDelimeter(QString());
    t.SetRowDelimeter(u"\r\n"_qs);
    t.SetText(u"a;b\r\nc"_qs);
    EXPECT_EQ(cellsOf(t), (Grid{{u"a;b"_qs}, {u"c"_qs}}));
    t.SetCellDelimeter(u";"_qs);
    t.SetRowDelimeter(QString());
    t.SetText(u"a;b\r\nc"_qs);
    EXPECT_EQ(cellsOf(t), (Grid{{u"a"_qs, u"b\r\nc"_qs}}));
}

TEST(TableString, NoRowAtAllIsNoTable) {
    TTableString t;
    t.SetCellDelimeter(u";"_qs);
    t.SetRowDelimeter(u"|"_qs);
    t.SetText(u"a;b|c"_qs);
    ASSERT_TRUE(t.IsTableFormat());
    t.SetText(u"|||"_qs);
    EXPECT_FALSE(t.IsTableFormat());
    EXPECT_EQ(t.RowsCount(), 0);
}

// One very wide row among many short ones: the table is rows x widest row in shape, and must
// not hold that many strings.
TEST(TableString, RaggedRowsDoNotBlowUp) {
    QString text;
    const int rows = 200'000;
    const int wide = 200'000;
    text.reserve(rows * 3 + wide);
    text += QString(wide, u';');
    text += u"end\r\n"_qs;
    for (int i = 0; i < rows; ++i) {
        text += u"a\r\n"_qs;
    }
    TTableString t = semicolonTable();
    t.SetText(text);
    EXPECT_EQ(t.RowsCount(), rows + 1);
    EXPECT_EQ(t.ColumnsCount(), wide + 1);
    EXPECT_EQ(t.Cells(wide, 0), u"end"_qs);
    EXPECT_EQ(t.Cells(0, rows), u"a"_qs);
    EXPECT_EQ(t.Cells(wide, rows), u""_qs);
}

TEST(TableString, LoadsTheCodePageWithoutLookingForAMark) {
    test::TempDir dir;
    // "URL;Запрос" in windows-1251, after a UTF-8 byte-order mark.
    const QString path =
        dir.write(u"bom.csv"_qs, QByteArray("\xEF\xBB\xBFURL;\xC7\xE0\xEF\xF0\xEE\xF1\r\nx;y"));
    TTableString t = semicolonTable();
    ASSERT_FALSE(t.LoadFromFile(path, AnsiCodec("windows-1251")));
    EXPECT_EQ(t.Cells(0, 0), u"п»їURL"_qs);
    EXPECT_EQ(t.Cells(1, 0), u"Запрос"_qs);
    ASSERT_FALSE(t.LoadFromFile(path, AnsiCodec("windows-1252")));
    EXPECT_EQ(t.Cells(0, 0), u"ï»¿URL"_qs);
}

TEST(TableString, AFileThatCannotBeReadLeavesTheTable) {
    test::TempDir dir;
    TTableString t = semicolonTable();
    t.SetText(u"a;b"_qs);
    const QString missing = dir.path(u"missing.csv"_qs);
    const std::optional<FileError> e = t.LoadFromFile(missing, AnsiCodec("windows-1251"));
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->message().contains(missing));
    EXPECT_FALSE(e->reason.isEmpty());
    EXPECT_EQ(t.Cells(1, 0), u"b"_qs);
    EXPECT_TRUE(t.IsTableFormat());

    const std::optional<FileError> d = t.LoadFromFile(dir.root(), AnsiCodec("windows-1251"));
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->message().contains(dir.root()));
    EXPECT_EQ(t.Cells(1, 0), u"b"_qs);
}

}  // namespace
