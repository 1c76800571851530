#pragma once

#include "clustering/cluster.h"
#include "core/platform.h"
#include "core/textfile.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace kelvara {

// Reading the CSV export back into clusters, so that an exported tree can be edited again: the
// header (in either language), one line "caption (count);phrase;main pages" per phrase, the
// footer. Captions come back without their count; the main pages are not read (the window counts
// them from its stored results). Nothing in the export is quoted, so a caption or phrase holding
// ";" is found by the count: a group's first line is split where "caption (n);" is followed by
// n - 1 more lines that begin the same way. Clusters without phrases are not in an export and
// do not come back.

enum class ExportProblem {
    NoHeader,    // the first three lines are not the header of an export
    BadLine,     // a line is not "caption (count);phrase;main pages"
    ShortGroup,  // a group ends before the count its lines give
    NoFooter,    // the file ends without the footer
    AfterFooter  // text after the footer
};

struct ExportRead {
    std::optional<ClusterList> clusters;  // set when the text is an export
    ExportProblem problem = ExportProblem::NoHeader;
    qsizetype line = 0;              // 1-based: where the text stops being an export
    QString group;                   // ShortGroup: the group's caption
    qsizetype count = 0, found = 0;  // ShortGroup: the count it gives, the lines it has
    std::optional<FileError> fileError;
};

ExportRead parseExport(QStringView text);
// The file in the code page, or in UTF-8 when it begins with a byte-order mark (what the export
// writes when the code page lacks a character).
ExportRead readExport(const QString& path, const AnsiCodec& codec);

// Why the text is no export, in the interface language; empty when it is one.
QString exportReadProblem(const ExportRead& read, UiLanguage language);

}  // namespace kelvara
