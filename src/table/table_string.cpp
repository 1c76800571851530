#include "table/table_string.h"

#include <algorithm>
#include <limits>

namespace kelvara {

namespace {

// The next occurrence of the delimiter at or after `from`, or -1. A one-character delimiter (the
// usual ";" or TAB) and the first character of a longer one are found with the vectorised
// character search.
qsizetype findDelimiter(QStringView text, qsizetype from, QStringView delimiter) {
    const qsizetype n = delimiter.size();
    const QChar first = delimiter.front();
    if (n == 1) {
        return text.indexOf(first, from);
    }
    const QStringView rest = delimiter.sliced(1);
    while (true) {
        const qsizetype i = text.indexOf(first, from);
        if (i < 0 || i > text.size() - n) {
            return -1;
        }
        if (text.sliced(i + 1, n - 1) == rest) {
            return i;
        }
        from = i + 1;
    }
}

bool isBlank(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0x20; });
}

constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

}  // namespace

TTableString::TTableString()
    : FCellDelimeter(QStringLiteral("\t")), FRowDelimeter(QStringLiteral("\r\n")) {}

QStringView TTableString::cellView(std::int32_t ACol, std::int32_t ARow) const {
    if (ACol < 0 || ARow < 0 || ACol >= FColumnsCount || ARow >= FRowsCount) {
        return {};
    }
    const Row& row = rows_[size_t(ARow)];
    if (ACol >= row.count) {
        return {};
    }
    const Span& s = cells_[size_t(row.first + ACol)];
    return QStringView(source_).sliced(s.pos, s.len);
}

QString TTableString::GetCells(std::int32_t ACol, std::int32_t ARow) const {
    const QStringView v = cellView(ACol, ARow);
    if (v.isEmpty()) {
        return {};
    }
    // A whole-text cell shares the text instead of copying it.
    if (v.size() == source_.size()) {
        return source_;
    }
    return v.toString();
}

const QString& TTableString::GetText() {
    FText = BuildText();
    return FText;
}

void TTableString::SetText(const QString& value) {
    ParseText(value);
}

void TTableString::Clear() {
    ResizeTable(0, 0);
    FText.clear();
}

void TTableString::Assign(const TTableString& Table) {
    SetCellDelimeter(Table.FCellDelimeter);
    SetRowDelimeter(Table.FRowDelimeter);
    SetText(Table.BuildText());
}

std::optional<FileError> TTableString::LoadFromFile(const QString& FileName,
                                                    const AnsiCodec& codec) {
    ReadResult r = readWholeFile(FileName);
    if (r.error) {
        return r.error;
    }
    if (r.missing) {
        return FileError{FileName, QStringLiteral("No such file or directory"),
                         QStringLiteral("read")};
    }
    // The bytes are in the code page whatever they start with: a byte-order mark is text here.
    SetText(codec.decode(r.bytes));
    return std::nullopt;
}

void TTableString::ResizeTable(std::int32_t columns, std::int32_t rows) {
    columns = std::max(columns, 0);
    rows = std::max(rows, 0);
    if (rows == 0 || columns == 0) {
        // Nothing of the old cells is reachable: let go of them and of the text they point into.
        rows_.clear();
        rows_.shrink_to_fit();
        cells_.clear();
        cells_.shrink_to_fit();
        source_.clear();
        if (rows > 0) {
            rows_.resize(size_t(rows), Row{0, 0});
        }
    } else {
        if (columns < FColumnsCount) {
            for (Row& r : rows_) {
                r.count = std::min(r.count, columns);
            }
        }
        // New rows hold no cells; they read as empty until the table is parsed again.
        rows_.resize(size_t(rows), Row{qsizetype(cells_.size()), 0});
    }
    FColumnsCount = columns;
    FRowsCount = rows;
}

void TTableString::ParseText(const QString& text) {
    FIsTableFormat = false;
    if (isBlank(text)) {
        return;
    }
    const QStringView all(text);
    const QStringView rowDelim(FRowDelimeter);
    const QStringView cellDelim(FCellDelimeter);

    std::vector<Row> rows;
    std::vector<Span> cells;
    // Growth is geometric, so a file of a million rows reallocates about twenty times, not once
    // per row; a rough first guess saves most of those.
    rows.reserve(std::min<size_t>(size_t(all.size() / 32) + 16, 1 << 20));
    std::int32_t columns = 0;

    auto addRow = [&](qsizetype rowStart, qsizetype rowEnd) {
        Row row{qsizetype(cells.size()), 0};
        qsizetype pos = rowStart;
        const QStringView line = all.first(rowEnd);
        // An empty cell delimiter: the row is one cell.
        while (pos < rowEnd) {
            qsizetype at = cellDelim.isEmpty() ? -1 : findDelimiter(line, pos, cellDelim);
            const qsizetype end = at < 0 ? rowEnd : at;
            Span s{pos, end - pos};
            if (s.len >= 2) {
                if (all[s.pos] == u'"') {
                    ++s.pos;
                    --s.len;
                }
                if (s.len > 0 && all[s.pos + s.len - 1] == u'"') {
                    --s.len;
                }
            }
            cells.push_back(s);
            if (row.count < kMaxCount) {
                ++row.count;
            }
            if (at < 0) {
                break;
            }
            pos = at + cellDelim.size();
        }
        columns = std::max(columns, row.count);
        if (rows.size() < size_t(kMaxCount)) {
            rows.push_back(row);
        }
    };

    qsizetype pos = 0;
    const qsizetype size = all.size();
    while (pos < size) {
        const qsizetype at = rowDelim.isEmpty() ? -1 : findDelimiter(all, pos, rowDelim);
        const qsizetype end = at < 0 ? size : at;
        if (end > pos) {
            addRow(pos, end);
        }
        if (at < 0) {
            break;
        }
        pos = at + rowDelim.size();
    }

    const auto rowCount = std::int32_t(rows.size());
    if (rowCount > 1 || columns > 1) {
        FIsTableFormat = true;
        source_ = text;
        rows_ = std::move(rows);
        cells_ = std::move(cells);
        FRowsCount = rowCount;
        FColumnsCount = columns;
    } else {
        // A lone value (or no row at all) is not a table.
        ResizeTable(0, 0);
    }
}

QString TTableString::BuildText() const {
    if (FRowsCount == 0) {
        return {};
    }
    qsizetype size = 0;
    for (const Row& r : rows_) {
        for (std::int32_t c = 0; c < r.count; ++c) {
            size += cells_[size_t(r.first + c)].len;
        }
    }
    size += qsizetype(FRowsCount) *
            (qsizetype(FColumnsCount) * FCellDelimeter.size() + FRowDelimeter.size());
    QString out;
    out.reserve(size);
    const QStringView src(source_);
    for (const Row& r : rows_) {
        for (std::int32_t c = 0; c < FColumnsCount; ++c) {
            if (c < r.count) {
                const Span& s = cells_[size_t(r.first + c)];
                out += src.sliced(s.pos, s.len);
            }
            out += FCellDelimeter;
        }
        out += FRowDelimeter;
    }
    return out;
}

}  // namespace kelvara
