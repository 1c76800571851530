// TTableString over delimited text written by other programs.
//
// The first byte picks the delimiters; the rest is the file's bytes in the code page.
// Properties: the table is rectangular to its reader (the empty string outside it and in padded
// cells); a table rebuilt with GetText and parsed again has the same cells, except that a cell
// may lose one more pair of enclosing quotes; Assign gives the same cells; a blank text changes
// nothing but IsTableFormat.

#include "fuzz_common.h"

#include "table/table_string.h"

#include <algorithm>
#include <array>

using namespace kelvara;

namespace {

struct Delimiters {
    const char16_t* cell;
    const char16_t* row;
    // The rebuilt text reads back only when no delimiter can be formed across a cell's edge: a
    // one-character cell delimiter that does not occur in the row delimiter. Others are only
    // read, not rebuilt.
    bool rebuildable;
};

constexpr std::array<Delimiters, 8> kDelimiters{{
    {u";", u"\r\n", true},
    {u"\t", u"\r\n", true},
    {u",", u"\n", true},
    {u";", u"\n", true},
    {u";;", u"\r\n", false},
    {u"", u"\r\n", false},
    {u";", u"", false},
    {u"ab", u"aba", false},
}};

// The quote rule: a cell of two or more characters loses one double quote at each end.
QStringView unquoted(QStringView cell) {
    if (cell.size() >= 2) {
        if (cell.front() == u'"') {
            cell = cell.sliced(1);
        }
        if (!cell.isEmpty() && cell.back() == u'"') {
            cell.chop(1);
        }
    }
    return cell;
}

QByteArray where(std::int32_t c, std::int32_t r, QStringView a, QStringView b) {
    return "cell " + QByteArray::number(c) + "," + QByteArray::number(r) + ": " + fuzz::shown(a) +
           " / " + fuzz::shown(b);
}

void checkShape(const TTableString& t) {
    FUZZ_CHECK(t.IsTableFormat() == (t.RowsCount() > 1 || t.ColumnsCount() > 1) ||
                   (!t.IsTableFormat() && t.RowsCount() == 0 && t.ColumnsCount() == 0),
               QByteArray::number(t.RowsCount()) + "x" + QByteArray::number(t.ColumnsCount()));
    FUZZ_CHECK(t.GetCells(-1, 0).isEmpty() && t.GetCells(0, -1).isEmpty() &&
                   t.GetCells(t.ColumnsCount(), 0).isEmpty() &&
                   t.GetCells(0, t.RowsCount()).isEmpty(),
               "outside the table");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const Delimiters& d = kDelimiters[data[0] % kDelimiters.size()];
    const QString text = fuzz::cp1251().decode(fuzz::bytesOf(data + 1, size - 1));

    TTableString table;
    table.SetCellDelimeter(QString::fromUtf16(d.cell));
    table.SetRowDelimeter(QString::fromUtf16(d.row));
    table.SetText(text);
    checkShape(table);
    for (std::int32_t r = 0; r < table.RowsCount(); ++r) {
        for (std::int32_t c = 0; c < table.ColumnsCount(); ++c) {
            FUZZ_CHECK(table.GetCells(c, r) == table.cellView(c, r), where(c, r, {}, {}));
        }
    }

    if (d.rebuildable) {
        TTableString rebuilt;
        rebuilt.SetCellDelimeter(table.CellDelimeter());
        rebuilt.SetRowDelimeter(table.RowDelimeter());
        const QString rebuiltText = table.GetText();
        rebuilt.SetText(rebuiltText);
        // Cells of blanks only (also once their quotes are gone) rebuild a blank text, which is
        // not parsed at all.
        const bool blank = std::all_of(rebuiltText.begin(), rebuiltText.end(),
                                       [](QChar c) { return c.unicode() <= 0x20; });
        if (blank) {
            FUZZ_CHECK(!rebuilt.IsTableFormat() && rebuilt.RowsCount() == 0, "blank rebuilt text");
        } else if (table.IsTableFormat()) {
            FUZZ_CHECK(rebuilt.RowsCount() == table.RowsCount() &&
                           rebuilt.ColumnsCount() == table.ColumnsCount(),
                       QByteArray::number(rebuilt.RowsCount()) + "x" +
                           QByteArray::number(rebuilt.ColumnsCount()) + " instead of " +
                           QByteArray::number(table.RowsCount()) + "x" +
                           QByteArray::number(table.ColumnsCount()));
            for (std::int32_t r = 0; r < table.RowsCount(); ++r) {
                for (std::int32_t c = 0; c < table.ColumnsCount(); ++c) {
                    const QStringView expected = unquoted(table.cellView(c, r));
                    FUZZ_CHECK(rebuilt.cellView(c, r) == expected,
                               where(c, r, rebuilt.cellView(c, r), expected));
                }
            }

            TTableString copy;
            copy.Assign(table);
            FUZZ_CHECK(copy.RowsCount() == rebuilt.RowsCount() &&
                           copy.ColumnsCount() == rebuilt.ColumnsCount(),
                       "Assign");
            for (std::int32_t r = 0; r < copy.RowsCount(); ++r) {
                for (std::int32_t c = 0; c < copy.ColumnsCount(); ++c) {
                    FUZZ_CHECK(copy.cellView(c, r) == rebuilt.cellView(c, r),
                               where(c, r, copy.cellView(c, r), rebuilt.cellView(c, r)));
                }
            }
        } else {
            FUZZ_CHECK(!rebuilt.IsTableFormat() && table.GetText().isEmpty(), "not a table");
        }
    }

    // A blank text keeps the cells and the counts.
    const std::int32_t rows = table.RowsCount();
    const std::int32_t columns = table.ColumnsCount();
    const QString firstCell = table.GetCells(0, 0);
    table.SetText(u" \r\n\t "_qs);
    FUZZ_CHECK(!table.IsTableFormat() && table.RowsCount() == rows &&
                   table.ColumnsCount() == columns && table.GetCells(0, 0) == firstCell,
               "blank text");

    // Resizing keeps what still fits and reads the rest as empty.
    table.SetColumnsCount(columns + 1);
    table.SetRowsCount(rows / 2);
    FUZZ_CHECK(table.GetCells(columns, 0).isEmpty(), "new column");
    FUZZ_CHECK(rows / 2 == 0 || columns == 0 || table.GetCells(0, 0) == firstCell, "kept cell");
    table.Clear();
    FUZZ_CHECK(table.RowsCount() == 0 && table.ColumnsCount() == 0 && table.GetText().isEmpty(),
               "Clear");
    return 0;
}
