#pragma once

#include "core/platform.h"
#include "core/textfile.h"
#include "core/serp_entry.h"
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
    // When nothing was imported: a likely cause seen in the file (a byte-order mark, LF line
    // ends), for the user's message.
    QString hint;
};

// The import over a parsed table (";" and CR LF). Row 0 is the header; each row with a non-empty
// first cell opens a block whose following rows with an empty first cell give its URLs from the
// URL column. Every block, the last one included, reaches the store; an empty URL cell adds no
// URL. A new entry is stamped by `clock` when its query row is read. The store keeps an entry it
// already has.
ImportResult importQueries(const TTableString& table, ResultStore& store, const StampClock& clock);

// The same over text as it would be read from a file.
ImportResult importQueriesFromText(const QString& text, ResultStore& store,
                                   const StampClock& clock);

// The import of a file, read in the code page without looking for a byte-order mark. A file that
// cannot be read changes nothing and comes back as FileFailed with the file's error.
ImportResult ImportCsv(const QString& path, ResultStore& store, const StampClock& clock,
                       const AnsiCodec& codec);

// A sentence for the user on why nothing was imported, or empty when something was.
QString importProblem(const ImportResult& result);

}  // namespace kelvara
