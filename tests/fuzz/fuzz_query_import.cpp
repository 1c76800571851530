// The query import over a CSV file of another tool.
//
// Properties: the bytes read as UTF-8 exactly when they carry its mark, or when they are valid
// UTF-8 that is not plain ASCII, else as the code page (or the UTF-16 their mark names); the cell
// delimiter is "," exactly when the header row holds no ";" and a comma-separated cell of it is
// the URL header; the query lines are the rows with a first cell, in order; every block reaches
// the store, and the store ends exactly as adding the blocks one by one in file order would leave
// it (the bulk merge of large files included); the counts add up; entries the store held stay.

#include "fuzz_common.h"

#include "table/query_import.h"

#include <algorithm>

using namespace kelvara;
using kelvara::fuzz::russian;

namespace {

constexpr Stamp kImportStamp = 63'850'000'000'000;
constexpr Stamp kOldStamp = 1'000;

// What the store held before the import: a few queries a file may also hold.
ResultStore heldBefore() {
    ResultStore store(russian());
    for (const char16_t* q : {u"купить кофе", u"Кофе", u"seo tools", u"a", u""}) {
        auto e = std::make_unique<TSerpEntry>(kOldStamp);
        e->Urls.add(u"http://held.example/"_qs);
        store.add(QString::fromUtf16(q), std::move(e));
    }
    return store;
}

QByteArray describe(const ResultStore& store) {
    QByteArray out;
    for (const auto& line : store) {
        out += QByteArray::number(line.object->Stamp) + ' ' + fuzz::shown(line.text) + " (" +
               QByteArray::number(line.object->Urls.size()) + ")\n";
    }
    return out;
}

// The cell delimiter by the header row, as a person would read it.
QString delimiterOf(const QString& text) {
    const QStringList rows = text.split(u"\r\n"_qs, Qt::SkipEmptyParts);
    if (rows.isEmpty() || rows[0].contains(u';')) {
        return u";"_qs;
    }
    const QStringList cells = rows[0].split(u',');
    for (QString cell : cells) {
        if (cell.size() >= 2) {  // a quoted cell loses its quotes, as every cell of the table
            if (cell.startsWith(u'"')) {
                cell.remove(0, 1);
            }
            if (cell.endsWith(u'"')) {
                cell.chop(1);
            }
        }
        if (cells.size() > 1 && cell == importUrlHeader()) {
            return u","_qs;
        }
    }
    return u";"_qs;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size).toByteArray();
    const QString text = decodeTextFileDetectingUtf8(bytes, fuzz::cp1251());
    const bool marked = bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
                        bytes.startsWith("\xFE\xFF");
    const bool utf8 = !marked && QString::fromUtf8(bytes).toUtf8() == bytes &&
                      std::any_of(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
    FUZZ_CHECK(text == (marked ? decodeTextFile(bytes, fuzz::cp1251())
                        : utf8 ? QString::fromUtf8(bytes)
                               : fuzz::cp1251().decode(bytes)),
               fuzz::shown(text));

    ResultStore store = heldBefore();
    const qsizetype heldCount = store.size();
    const ImportResult result = importQueriesFromText(text, store, [] { return kImportStamp; });

    const QString delimiter = delimiterOf(text);
    FUZZ_CHECK(importCellDelimiter(text) == delimiter, fuzz::shown(text.left(200)));
    TTableString table;
    table.SetCellDelimeter(delimiter);
    table.SetRowDelimeter(u"\r\n"_qs);
    table.SetText(text);

    // The reference: blocks in file order, each added on its own.
    ResultStore expected = heldBefore();
    QStringList lines;
    qsizetype urls = 0;
    qsizetype added = 0;
    std::int32_t urlColumn = -1;
    for (std::int32_t c = 0; table.IsTableFormat() && c < table.ColumnsCount(); ++c) {
        if (table.cellView(c, 0) == importUrlHeader()) {
            urlColumn = c;
            break;
        }
    }
    if (urlColumn >= 0) {
        std::unique_ptr<TSerpEntry> open;
        QString query;
        auto close = [&] {
            if (open) {
                const qsizetype n = open->Urls.size();
                if (expected.add(query, std::move(open)).inserted) {
                    ++added;
                    urls += n;
                }
            }
        };
        for (std::int32_t r = 1; r < table.RowsCount(); ++r) {
            const QStringView first = table.cellView(0, r);
            if (!first.isEmpty()) {
                close();
                query = first.toString();
                lines.append(query);
                open = std::make_unique<TSerpEntry>(kImportStamp);
            } else if (open && !table.cellView(urlColumn, r).isEmpty()) {
                open->Urls.add(table.cellView(urlColumn, r).toString());
            }
        }
        close();
    }

    const ImportStatus status = !table.IsTableFormat() ? ImportStatus::NotTable
                                : urlColumn < 0        ? ImportStatus::NoUrlColumn
                                                       : ImportStatus::Imported;
    FUZZ_CHECK(result.status == status, QByteArray::number(int(result.status)));
    FUZZ_CHECK(result.lines == lines, QByteArray::number(result.lines.size()) +
                                          " lines instead of " + QByteArray::number(lines.size()));
    FUZZ_CHECK(
        result.added == added && result.urls == urls && result.added + result.kept == lines.size(),
        "added " + QByteArray::number(result.added) + " kept " + QByteArray::number(result.kept) +
            " urls " + QByteArray::number(result.urls));
    FUZZ_CHECK(store.size() == heldCount + added, describe(store));

    bool same = store.size() == expected.size();
    for (qsizetype i = 0; same && i < store.size(); ++i) {
        const TSerpEntry& a = *store[i].object;
        const TSerpEntry& b = *expected[i].object;
        same = store[i].text == expected[i].text && a.Stamp == b.Stamp &&
               a.Urls.size() == b.Urls.size();
        for (qsizetype u = 0; same && u < a.Urls.size(); ++u) {
            same = a.Urls[u].text == b.Urls[u].text;
        }
    }
    FUZZ_CHECK(same, describe(store) + "--- instead of:\n" + describe(expected));
    for (qsizetype i = 1; i < store.size(); ++i) {
        FUZZ_CHECK(russian().compare(store[i - 1].text, store[i].text) < 0, describe(store));
    }
    return 0;
}
