#include "table/query_import.h"

#include "core/messages.h"

#include <QSet>

#include <algorithm>
#include <memory>
#include <numeric>
#include <ranges>
#include <vector>

namespace kelvara {

namespace {

struct Block {
    QString query;
    std::unique_ptr<TSerpEntry> entry;
};

// Below this many blocks each goes into the store on its own; above it the blocks are sorted
// once and merged with the store, since inserting one by one into a sorted array of n lines
// moves O(n) lines each time.
constexpr size_t kBulkMergeFrom = 64;

void addOneByOne(std::vector<Block>& blocks, ResultStore& store, ImportResult& result) {
    for (Block& b : blocks) {
        const qsizetype urls = b.entry->Urls.size();
        if (store.add(std::move(b.query), std::move(b.entry)).inserted) {
            ++result.added;
            result.urls += urls;
        } else {
            ++result.kept;
        }
    }
}

// The same outcome as adding the blocks in order: of several blocks of one query (letter case
// ignored) the first wins, and a query the store holds keeps its entry.
void mergeIntoStore(std::vector<Block>& blocks, ResultStore& store, ImportResult& result) {
    const Collation& collation = store.collation();
    // A query the store holds under the very same text needs no collation at all: this settles a
    // re-import of what the cache already has with one hash probe per block.
    std::vector<size_t> candidates;
    candidates.reserve(blocks.size());
    if (!store.empty() && blocks.size() * 8 >= size_t(store.size())) {
        QSet<QStringView> held;
        held.reserve(store.size());
        for (const auto& line : store) {
            held.insert(QStringView(line.text));
        }
        for (size_t k = 0; k < blocks.size(); ++k) {
            if (held.contains(QStringView(blocks[k].query))) {
                ++result.kept;
            } else {
                candidates.push_back(k);
            }
        }
    } else {
        for (size_t k = 0; k < blocks.size(); ++k) {
            candidates.push_back(k);
        }
    }
    if (candidates.empty()) {
        return;
    }

    // keys[c] belongs to blocks[candidates[c]].
    std::vector<Collation::Key> keys;
    keys.reserve(candidates.size());
    for (const size_t k : candidates) {
        keys.push_back(collation.key(blocks[k].query));
    }
    std::vector<size_t> order(candidates.size());
    std::iota(order.begin(), order.end(), size_t(0));
    auto compare = [&](size_t a, size_t b) {
        return collation.compareKeys(keys[a], blocks[candidates[a]].query, keys[b],
                                     blocks[candidates[b]].query);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return compare(a, b) < 0; });
    // Equal queries are now side by side with the earliest block first.
    std::vector<size_t> fresh;
    fresh.reserve(order.size());
    size_t previous = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && compare(previous, order[i]) == 0) {
            ++result.kept;
            continue;
        }
        previous = order[i];
        fresh.push_back(candidates[order[i]]);
    }
    keys.clear();

    ResultStore merged(collation);
    merged.reserve(store.size() + qsizetype(fresh.size()));
    qsizetype i = 0;
    size_t j = 0;
    while (i < store.size() || j < fresh.size()) {
        int c = 0;
        if (i == store.size()) {
            c = 1;
        } else if (j == fresh.size()) {
            c = -1;
        } else {
            c = collation.compare(store[i].text, blocks[fresh[j]].query);
        }
        if (c <= 0) {
            if (c == 0) {
                ++result.kept;
                ++j;
            }
            merged.add(std::move(store[i].text), std::move(store[i].object));
            ++i;
        } else {
            Block& b = blocks[fresh[j]];
            result.urls += b.entry->Urls.size();
            ++result.added;
            merged.add(std::move(b.query), std::move(b.entry));
            ++j;
        }
    }
    store = std::move(merged);
}

}  // namespace

ImportResult importQueries(const TTableString& table, ResultStore& store, const StampClock& clock) {
    ImportResult result;
    if (!table.IsTableFormat()) {
        result.status = ImportStatus::NotTable;
        return result;
    }
    const QString header = importUrlHeader();
    std::int32_t urlColumn = -1;
    for (std::int32_t c = 0; c < table.ColumnsCount(); ++c) {
        if (table.cellView(c, 0) == header) {
            urlColumn = c;
            break;
        }
    }
    if (urlColumn < 0) {
        result.status = ImportStatus::NoUrlColumn;
        return result;
    }
    result.status = ImportStatus::Imported;

    std::vector<Block> blocks;
    TSerpEntry* open = nullptr;
    for (std::int32_t r = 1; r < table.RowsCount(); ++r) {
        const QStringView first = table.cellView(0, r);
        if (!first.isEmpty()) {
            blocks.push_back(Block{first.toString(), std::make_unique<TSerpEntry>(clock())});
            open = blocks.back().entry.get();
            result.lines.append(blocks.back().query);
        } else if (open) {
            // An empty cell is no URL: it would link every query that has one.
            const QStringView url = table.cellView(urlColumn, r);
            if (!url.isEmpty()) {
                open->Urls.add(url.toString());
            }
        }
    }
    // Every block is complete now, the last one included.
    if (blocks.size() < kBulkMergeFrom) {
        addOneByOne(blocks, store, result);
    } else {
        mergeIntoStore(blocks, store, result);
    }
    return result;
}

QString importCellDelimiter(QStringView text) {
    const QString semicolon = QStringLiteral(";");
    // The header row: the first row that is not empty, as the table drops empty rows.
    QStringView header;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(u"\r\n", start);
        if (end < 0) {
            end = text.size();
        }
        if (end > start) {
            header = text.sliced(start, end - start);
            break;
        }
        start = end + 2;
    }
    if (header.isEmpty() || header.contains(u';') || !header.contains(u',')) {
        return semicolon;
    }
    TTableString row;
    row.SetCellDelimeter(QStringLiteral(","));
    row.SetRowDelimeter(QStringLiteral("\r\n"));
    row.SetText(header.toString());
    const QString wanted = importUrlHeader();
    for (std::int32_t c = 0; c < row.ColumnsCount(); ++c) {
        if (row.cellView(c, 0) == wanted) {
            return QStringLiteral(",");
        }
    }
    return semicolon;
}

ImportResult importQueriesFromText(const QString& text, ResultStore& store,
                                   const StampClock& clock) {
    TTableString table;
    table.SetCellDelimeter(importCellDelimiter(text));
    table.SetRowDelimeter(QStringLiteral("\r\n"));
    table.SetText(text);
    return importQueries(table, store, clock);
}

ImportResult ImportCsv(const QString& path, ResultStore& store, const StampClock& clock,
                       const AnsiCodec& codec, ImportEncoding encoding) {
    ReadResult read = readWholeFile(path);
    if (read.error || read.missing) {
        ImportResult failed;
        failed.status = ImportStatus::FileFailed;
        failed.error = read.error ? std::move(read.error)
                                  : FileError{path, QStringLiteral("No such file or directory"),
                                              QStringLiteral("read")};
        return failed;
    }
    const QString text = encoding == ImportEncoding::Detect
                             ? decodeTextFileDetectingUtf8(read.bytes, codec)
                             : decodeTextFile(read.bytes, codec);
    // No text file holds a NUL byte (a UTF-16 file without its mark is no text to us either).
    const bool notText = read.bytes.contains('\0');
    read.bytes = QByteArray();  // a large file's bytes need not stay beside its text
    ImportResult result = importQueriesFromText(text, store, clock);
    if (result.lines.isEmpty()) {
        if (notText) {
            result.hint = ImportResult::Hint::NotText;
        } else if (text.contains(u'\n') && !text.contains(u"\r\n")) {
            result.hint = ImportResult::Hint::LfLineEnds;
        }
    }
    return result;
}

QString importProblem(const ImportResult& result, UiLanguage language) {
    QString why;
    switch (result.status) {
        case ImportStatus::FileFailed:
            return result.error ? result.error->message()
                                : QStringLiteral("the file cannot be read");
        case ImportStatus::NotTable:
            why = GetMessageText(Msg::ImportNoTable, language);
            break;
        case ImportStatus::NoUrlColumn:
            why = messageText(Msg::ImportNoUrlColumn, language, {importUrlHeader()});
            break;
        case ImportStatus::Imported:
            if (!result.lines.isEmpty()) {
                return {};
            }
            why = GetMessageText(Msg::ImportNoQuery, language);
            break;
    }
    switch (result.hint) {
        case ImportResult::Hint::None:
            break;
        case ImportResult::Hint::LfLineEnds:
            why += QStringLiteral(" (%1)").arg(GetMessageText(Msg::ImportLfLineEnds, language));
            break;
        case ImportResult::Hint::NotText:
            why += QStringLiteral(" (%1)").arg(GetMessageText(Msg::ImportNotText, language));
            break;
    }
    return why;
}

}  // namespace kelvara
