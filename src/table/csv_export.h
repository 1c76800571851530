#pragma once

#include "clustering/cluster.h"
#include "core/platform.h"
#include "core/textfile.h"
#include "core/serp_entry.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace kelvara {

// The export's text: the header (message 11), then for each cluster in order one line per
// phrase, "caption (n);phrase;main pages", then the footer (message 12); every line ends with
// CR LF and nothing is quoted, so a ";" in a caption shifts that line's cells.
QString exportText(const ClusterList& clusters, const ResultStore& store, UiLanguage language);

// The export's bytes: the code page when every character fits it, otherwise the whole text as
// UTF-8 after a byte-order mark, so that no query turns into "?".
QByteArray exportBytes(const QString& text, const AnsiCodec& codec, bool* wroteUtf8 = nullptr);

// Writes the export in one go, replacing the file atomically: a failed write leaves any old file
// whole and is reported with the file's name and the reason.
std::optional<FileError> ExportCsv(const QString& path, const ClusterList& clusters,
                                   const ResultStore& store, UiLanguage language,
                                   const AnsiCodec& codec, bool* wroteUtf8 = nullptr);

// The main-page rule as the export applies it (the same answers as isMainPage, faster); exposed
// for its test.
bool mainPageForExport(QStringView url);

// The name the export is saved under: ".csv" is appended unless the name's extension, in lower
// case, is ".csv" already.
QString withCsvExtension(const QString& name);

}  // namespace kelvara
