#pragma once

#include "core/textfile.h"

#include <QString>
#include <optional>
#include <vector>

namespace kelvara {

// One entry of the region box: the indented display text and the region code.
struct RegionItem {
    QString text;
    qint32 code = 0;
};

// regions.txt: "+" marks for the depth, the decimal code, the name. Lines without a usable code
// give no item.
std::optional<RegionItem> parseRegionLine(QStringView line);
std::vector<RegionItem> parseRegions(QStringView text);

struct RegionsResult {
    std::vector<RegionItem> items;
    std::optional<FileError> error;  // the file could not be read (a missing file included)
};
RegionsResult LoadRegions(const QString& path, const AnsiCodec& codec);

// Position of the first item with the code, or -1.
qsizetype findRegion(const std::vector<RegionItem>& items, qint32 code);

}  // namespace kelvara
