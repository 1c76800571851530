#pragma once

#include "core/textfile.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace kelvara {

// Delimited text as a rectangular table of text cells, and back. Both delimiters are whole
// strings. Rows are split at the row delimiter (empty pieces dropped), cells at the cell
// delimiter (empty cells kept, but no empty cell after a trailing delimiter); a cell of two or
// more characters loses one enclosing double quote at each end. A single row holding a single
// cell is not a table. Reading outside the table gives the empty string.
//
// The cells are kept as spans of the text that was parsed, so a file of a million rows costs
// two flat arrays and no string per cell. Rows shorter than the widest row are padded with empty
// cells only logically: a ragged file cannot blow the table up to rows x widest-row strings.
class TTableString {
public:
    TTableString();

    // The cell in column ACol of row ARow; empty outside the table.
    QString GetCells(std::int32_t ACol, std::int32_t ARow) const;
    QString Cells(std::int32_t ACol, std::int32_t ARow) const { return GetCells(ACol, ARow); }
    // The same without a copy; valid until the table changes.
    QStringView cellView(std::int32_t ACol, std::int32_t ARow) const;

    const QString& CellDelimeter() const { return FCellDelimeter; }
    const QString& RowDelimeter() const { return FRowDelimeter; }
    // Store the delimiter only; the cells are not parsed again.
    void SetCellDelimeter(const QString& value) { FCellDelimeter = value; }
    void SetRowDelimeter(const QString& value) { FRowDelimeter = value; }

    // Rebuilds the text from the cells: every cell followed by the cell delimiter, every row by
    // the row delimiter, nothing quoted.
    const QString& GetText();
    QString Text() { return GetText(); }
    // Parses the text. A blank text (only characters up to U+0020) leaves the cells and counts
    // as they are and only clears IsTableFormat.
    void SetText(const QString& value);

    bool IsTableFormat() const { return FIsTableFormat; }
    std::int32_t RowsCount() const { return FRowsCount; }
    std::int32_t ColumnsCount() const { return FColumnsCount; }
    void SetRowsCount(std::int32_t value) { ResizeTable(FColumnsCount, value); }
    void SetColumnsCount(std::int32_t value) { ResizeTable(value, FRowsCount); }

    // 0 by 0 and no text; the delimiters and IsTableFormat stay.
    void Clear();
    // Takes the other table's delimiters and re-parses its rebuilt text.
    void Assign(const TTableString& Table);

    // Reads the whole file as bytes in the code page (no byte-order mark is looked for) and
    // parses it. A file that cannot be read leaves the table unchanged and is reported.
    std::optional<FileError> LoadFromFile(const QString& FileName, const AnsiCodec& codec);

private:
    struct Span {
        qsizetype pos = 0;
        qsizetype len = 0;
    };
    struct Row {
        qsizetype first = 0;     // index of the row's first cell in cells_
        std::int32_t count = 0;  // cells held; columns past it read as empty
    };

    void ParseText(const QString& text);
    QString BuildText() const;
    void ResizeTable(std::int32_t columns, std::int32_t rows);

    QString FCellDelimeter;
    QString FRowDelimeter;
    QString FText;
    std::int32_t FRowsCount = 0;
    std::int32_t FColumnsCount = 0;
    bool FIsTableFormat = false;

    // FArrayData: the text the cells point into, and the rows with their cells.
    QString source_;
    std::vector<Row> rows_;
    std::vector<Span> cells_;
};

}  // namespace kelvara
