#pragma once

#include "core/serp_entry.h"
#include "core/textfile.h"

#include <QLocale>
#include <optional>

namespace kelvara {

// cache.txt: one line per query, "stamp;query;url;url;...".

// Reads field 0 of a cache line: a decimal number in the locale's format, rounded to the
// nearest integer (a half to the even neighbour); anything unreadable gives 0.
Stamp parseStamp(QStringView field, const QLocale& locale = QLocale::system());

struct SaveCacheReport {
    qsizetype written = 0;
    qsizetype skipped = 0;  // entries the format cannot hold (";" or a line break in a field)
};

// The file holds the results of every region: a line "#region N" (without ";", so that older
// versions pass over it) says that the entries after it, up to the next such line, are results
// for region N; entries before the first such line (a file of an older version) are results for
// legacyRegion. See docs/cache-file.md.
std::optional<FileError> LoadCache(ResultStores& stores, const QString& path, Stamp now,
                                   const AnsiCodec& codec, int legacyRegion,
                                   const QLocale& locale = QLocale::system());
void loadCacheText(ResultStores& stores, QStringView text, Stamp now, int legacyRegion,
                   const QLocale& locale = QLocale::system());
// The region of a "#region N" line; none for any other line.
std::optional<int> cacheRegionMark(QStringView line);

// Every region's store, each after its "#region N" line, regions in ascending order.
std::optional<FileError> SaveCache(const ResultStores& stores, const QString& path,
                                   SaveCacheReport* report = nullptr);
QString cacheText(const ResultStores& stores, SaveCacheReport* report = nullptr);

// One region's store alone, as an older version reads and writes the file (every entry of the
// file into one store; "#region" lines are passed over like any line without a ";").
//
// Adds the file's lines to the store. Lines older than seven days (age > 604,800,000 ms), lines
// with fewer than two fields and queries the store already holds are passed over. A missing file
// is normal: nothing happens and nothing is reported.
std::optional<FileError> LoadCache(ResultStore& store, const QString& path, Stamp now,
                                   const AnsiCodec& codec,
                                   const QLocale& locale = QLocale::system());
// The same from text already read, for tests and fuzzing.
void loadCacheText(ResultStore& store, QStringView text, Stamp now,
                   const QLocale& locale = QLocale::system());

// Writes the whole store, replacing the file atomically: a failed write leaves the old file
// whole. Always written in UTF-8 with a byte-order mark, whatever the ANSI code page (which
// only reads a file without a mark).
std::optional<FileError> SaveCache(const ResultStore& store, const QString& path,
                                   SaveCacheReport* report = nullptr);
QString cacheText(const ResultStore& store, SaveCacheReport* report = nullptr);
// One line of the file for the entry, added to the text; false (and nothing added) when the
// format cannot hold it.
bool appendCacheLine(QString& text, QStringView query, const TSerpEntry& entry);
// Writes text made of such lines as the file, atomically, in UTF-8 with a byte-order mark.
std::optional<FileError> writeCacheText(const QString& path, QStringView text);

}  // namespace kelvara
