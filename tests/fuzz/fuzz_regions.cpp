// regions.txt, a file users edit by hand.
//
// Properties: an item for each line with a usable code and for no other; its text is the depth's
// indent, the name and " (code)"; the code is positive; findRegion finds the first item of a code.

#include "fuzz_common.h"

#include "search/regions.h"

#include <map>

using namespace kelvara;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString text = decodeTextFile(fuzz::bytesOf(data, size), fuzz::cp1251());
    const std::vector<RegionItem> items = parseRegions(text);

    size_t next = 0;
    forEachLine(text, [&](QStringView line) {
        const std::optional<RegionItem> one = parseRegionLine(line);
        if (!one) {
            return;
        }
        FUZZ_CHECK(next < items.size(), fuzz::shown(line));
        const RegionItem& item = items[next++];
        FUZZ_CHECK(item.code == one->code && item.text == one->text, fuzz::shown(line));
        FUZZ_CHECK(item.code > 0, fuzz::shown(line));

        qsizetype marks = 0;
        while (marks < line.size() && line[marks] == u'+') {
            ++marks;
        }
        const QString indent(marks * 2, u' ');
        const QString suffix = u" ("_qs + QString::number(item.code) + u')';
        FUZZ_CHECK(item.text.startsWith(indent) && item.text.endsWith(suffix),
                   fuzz::shown(line) + " -> " + fuzz::shown(item.text));
        // The code is the run of digits after the marks (a line without marks skips one).
        const qsizetype start = marks == 0 ? 1 : marks;
        qsizetype end = start;
        while (end < line.size() && line[end] >= u'0' && line[end] <= u'9') {
            ++end;
        }
        FUZZ_CHECK(line.sliced(start, end - start).toLongLong() == item.code, fuzz::shown(line));
    });
    FUZZ_CHECK(next == items.size(), QByteArray::number(qsizetype(items.size())));

    std::map<qint32, qsizetype> first;
    for (size_t i = 0; i < items.size(); ++i) {
        first.emplace(items[i].code, qsizetype(i));
    }
    for (const auto& [code, at] : first) {
        FUZZ_CHECK(findRegion(items, code) == at, QByteArray::number(code));
    }
    FUZZ_CHECK(findRegion(items, 0) == -1, "code 0");
    return 0;
}
