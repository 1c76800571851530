#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "core/textfile.h"
#include "table/table_string.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kelvara {

// The header cell that names the URL column of an import file; compared exactly.
inline QString importUrlHeader() {
    return QStringLiteral("URL [Yandex]");
}

enum class ImportStatus {
    Imported,     // the file was a table with a URL column (it may still hold no query row)
    NotTable,     // one value, or blank: nothing imported
    NoUrlColumn,  // no header cell "URL [Yandex]": nothing imported
    FileFailed,   // the file could not be read: see error
};

struct ImportResult {
    ImportStatus status = ImportStatus::NotTable;
    // The query box's new lines: one per block, in block order, a repeated query once per block.
    QStringList lines;
    qsizetype added = 0;  // blocks whose query the store did not hold yet
    qsizetype kept = 0;   // blocks whose query the store held already: its entry stays
    qsizetype urls = 0;   // URLs of the added entries
    std::optional<FileError> error;
    // When nothing was imported: a likely cause seen in the file, for the user's message.
    enum class Hint { None, LfLineEnds, NotText };
    Hint hint = Hint::None;
};

// How the bytes of an import file become text. Detect: a byte-order mark is honoured; without
// one, bytes that are valid UTF-8 and not plain ASCII are UTF-8, anything else is in the code
// page. CodePage (a code page the user named): a mark is still honoured, everything else is in
// that code page.
enum class ImportEncoding { Detect, CodePage };

// The cell delimiter of an import file: ";", or "," when the header row (the first row that is
// not empty) holds no ";" and one of its comma-separated cells is the URL header cell.
QString importCellDelimiter(QStringView text);

// The import over a parsed table (its cell delimiter, CR LF). Row 0 is the header; each row with a
// non-empty first cell opens a block whose following rows with an empty first cell give its URLs
// from the URL column. Every block, the last one included, reaches the store; an empty URL cell
// adds no URL. A new entry is stamped by `clock` when its query row is read. The store keeps an
// entry it already has.
ImportResult importQueries(const TTableString& table, ResultStore& store, const StampClock& clock);

// The same over text as it would be read from a file, with the delimiter importCellDelimiter
// picks.
ImportResult importQueriesFromText(const QString& text, ResultStore& store,
                                   const StampClock& clock);

// The import of a file (see ImportEncoding). A file that cannot be read changes nothing and comes
// back as FileFailed with the file's error. Nothing reaches the store unless a query row does.
ImportResult ImportCsv(const QString& path, ResultStore& store, const StampClock& clock,
                       const AnsiCodec& codec, ImportEncoding encoding = ImportEncoding::Detect);

// Why nothing was imported (what the file lacks), for the user; empty when something was.
QString importProblem(const ImportResult& result, UiLanguage language = UiLanguage::English);

}  // namespace kelvara
