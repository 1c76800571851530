#include "table/csv_export.h"

#include "core/messages.h"

#include <QHash>

namespace kelvara {

namespace {

// isMainPage, in two vectorised character searches instead of a substring search: the export
// asks it for every URL of every phrase. A main page ends with "/", and no other "/" lies between
// the host's start (after the first "//", or from the second character) and that last one.
bool endsRightAfterHost(QStringView url) {
    const qsizetype n = url.size();
    if (n < 2 || url[n - 1] != u'/') {
        return false;
    }
    qsizetype from = 1;
    for (qsizetype i = url.indexOf(u'/'); i >= 0 && i + 1 < n; i = url.indexOf(u'/', i + 1)) {
        if (url[i + 1] == u'/') {
            from = i + 2;
            break;
        }
    }
    return from <= n - 1 && url.lastIndexOf(u'/', n - 2) < from;
}

// Main pages of each phrase. The store is found by the collation (letter case ignored); for a
// large tree an exact-text index of the store is built first, since most phrases are the very
// texts the store holds and a hash probe is far cheaper than a collated binary search. A text
// the index misses still goes through the collated look-up, so the answers are the same.
class MainPageCounter {
public:
    MainPageCounter(const ResultStore& store, qsizetype phrases) : store_(store) {
        // Worth it when the tree is not tiny beside the store.
        if (phrases >= 256 && phrases * 16 >= store.size()) {
            exact_.reserve(store.size());
            for (qsizetype i = 0; i < store.size(); ++i) {
                exact_.insert(QStringView(store.text(i)), i);
            }
        }
    }

    int count(QStringView phrase) const {
        const TSerpEntry* entry = nullptr;
        if (!exact_.isEmpty()) {
            const auto it = exact_.constFind(phrase);
            if (it != exact_.cend()) {
                entry = store_[it.value()].object.get();
            }
        }
        if (!entry) {
            entry = findEntry(store_, phrase);
        }
        // A phrase the store does not know (an expired result, a caption typed by the user) has
        // no result list to count: 0 main pages.
        if (!entry) {
            return 0;
        }
        int n = 0;
        for (const auto& url : entry->Urls) {
            n += endsRightAfterHost(url.text) ? 1 : 0;
        }
        return n;
    }

private:
    const ResultStore& store_;
    QHash<QStringView, qsizetype> exact_;
};

// Decimal digits without a temporary string per line.
void appendNumber(QString& out, int value) {
    char16_t digits[12];
    char16_t* end = digits + 12;
    char16_t* p = end;
    unsigned v = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        *--p = char16_t(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0) {
        *--p = u'-';
    }
    out += QStringView(p, end - p);
}

}  // namespace

bool mainPageForExport(QStringView url) {
    return endsRightAfterHost(url);
}

QString exportText(const ClusterList& clusters, const ResultStore& store, UiLanguage language) {
    qsizetype phrases = 0;
    qsizetype size = 0;
    for (const Cluster& c : clusters) {
        phrases += c.phrases.size();
        for (const QString& p : c.phrases) {
            size += c.caption.size() + p.size() + 16;
        }
    }
    const QString header = GetMessageText(Msg::ExportHeader, language);
    const QString footer = GetMessageText(Msg::ExportFooter, language);
    const QString lineEnd = QStringLiteral("\r\n");
    QString out;
    out.reserve(header.size() + footer.size() + size + 4);
    out += header;
    out += lineEnd;

    const MainPageCounter counter(store, phrases);
    for (const Cluster& c : clusters) {
        if (c.phrases.isEmpty()) {
            continue;
        }
        // "caption (n);" is the same for every phrase of the cluster.
        QString first = c.caption;
        first += u" (";
        first += QString::number(c.phrases.size());
        first += u");";
        for (const QString& p : c.phrases) {
            out += first;
            out += p;
            out += u';';
            appendNumber(out, counter.count(p));
            out += lineEnd;
        }
    }
    out += footer;
    out += lineEnd;
    return out;
}

QByteArray exportBytes(const QString& text, const AnsiCodec& codec, bool* wroteUtf8) {
    bool lossless = true;
    QByteArray bytes = codec.encode(text, &lossless);
    if (!lossless) {
        bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    }
    if (wroteUtf8) {
        *wroteUtf8 = !lossless;
    }
    return bytes;
}

std::optional<FileError> ExportCsv(const QString& path, const ClusterList& clusters,
                                   const ResultStore& store, UiLanguage language,
                                   const AnsiCodec& codec, bool* wroteUtf8) {
    return writeBytesAtomically(
        path, exportBytes(exportText(clusters, store, language), codec, wroteUtf8));
}

QString withCsvExtension(const QString& name) {
    qsizetype base = name.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    base = std::max(base, name.lastIndexOf(u'\\'));
#endif
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasCsv = dot > base && name.sliced(dot).toLower() == u".csv";
    return hasCsv ? name : name + QStringLiteral(".csv");
}

}  // namespace kelvara
