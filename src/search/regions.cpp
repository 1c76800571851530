#include "search/regions.h"

namespace kelvara {

namespace {
// Blanks and control characters, as the usual trim of the platform removes them.
QStringView trimBlanks(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b].unicode() <= 0x20) {
        ++b;
    }
    while (e > b && s[e - 1].unicode() <= 0x20) {
        --e;
    }
    return s.mid(b, e - b);
}
}  // namespace

std::optional<RegionItem> parseRegionLine(QStringView line) {
    qsizetype marks = 0;
    while (marks < line.size() && line[marks] == u'+') {
        ++marks;
    }
    const QString indent(marks * 2, QLatin1Char(' '));
    // A line without marks is read as though its first character were one.
    const qsizetype start = marks == 0 ? 1 : marks;
    qsizetype p = start;
    qint64 code = 0;
    bool tooLarge = false;
    while (p < line.size() && line[p] >= u'0' && line[p] <= u'9') {
        if (!tooLarge) {
            code = code * 10 + (line[p].unicode() - u'0');
            tooLarge = code > 2147483647LL;
        }
        ++p;
    }
    if (p == start || tooLarge || code == 0) {
        return std::nullopt;
    }
    const QStringView name = p >= line.size() ? line : line.mid(p);
    return RegionItem{indent + trimBlanks(name).toString() + QStringLiteral(" (") +
                          QString::number(code) + QLatin1Char(')'),
                      qint32(code)};
}

std::vector<RegionItem> parseRegions(QStringView text) {
    std::vector<RegionItem> items;
    forEachLine(text, [&items](QStringView line) {
        if (auto item = parseRegionLine(line)) {
            items.push_back(std::move(*item));
        }
    });
    return items;
}

RegionsResult LoadRegions(const QString& path, const AnsiCodec& codec) {
    RegionsResult r;
    ReadResult file = readWholeFile(path, kSmallFileReadLimit);
    if (file.missing) {
        r.error =
            FileError{path, QStringLiteral("the file does not exist"), QStringLiteral("read")};
        return r;
    }
    if (file.error) {
        r.error = file.error;
        return r;
    }
    r.items = parseRegions(decodeTextFile(file.bytes, codec));
    return r;
}

qsizetype findRegion(const std::vector<RegionItem>& items, qint32 code) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].code == code) {
            return qsizetype(i);
        }
    }
    return -1;
}

}  // namespace kelvara
