// cache.txt as another run (or a crash during one) may have left it.
//
// Properties: every loaded entry is fresh and its URLs are in order; saving what was loaded skips
// nothing, and loading the saved text gives the same store, also after its trip through the
// file's bytes; read per region ("#region N" lines), every region's store survives a save, and
// each of its queries is one the single-store reader sees too; a file cut off anywhere loads
// everything of its whole lines before the cut.

#include "fuzz_common.h"

#include "search/cache.h"

using namespace kelvara;
using kelvara::fuzz::russian;

namespace {

// A fixed "now", so that a finding replays the same way on any day.
constexpr Stamp kNow = 63'850'000'000'000;

ResultStore load(QStringView text, const QLocale& locale) {
    ResultStore store(russian());
    loadCacheText(store, text, kNow, locale);
    return store;
}

QByteArray describe(const ResultStore& store) {
    QByteArray out;
    for (const auto& line : store) {
        out += QByteArray::number(line.object->Stamp) + ';' + fuzz::shown(line.text);
        for (const auto& u : line.object->Urls) {
            out += ';' + fuzz::shown(u.text);
        }
        out += '\n';
    }
    return out;
}

bool sameEntry(const TSerpEntry& a, const TSerpEntry& b) {
    if (a.Stamp != b.Stamp || a.Urls.size() != b.Urls.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.Urls.size(); ++i) {
        if (a.Urls[i].text != b.Urls[i].text) {
            return false;
        }
    }
    return true;
}

bool sameStore(const ResultStore& a, const ResultStore& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].text != b[i].text || !sameEntry(*a[i].object, *b[i].object)) {
            return false;
        }
    }
    return true;
}

// Every query of `part` is in `whole` with the same entry.
bool isPartOf(const ResultStore& part, const ResultStore& whole) {
    for (const auto& line : part) {
        const qsizetype i = whole.indexOf(line.text);
        if (i < 0 || whole[i].text != line.text || !sameEntry(*line.object, *whole[i].object)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const AnsiCodec& codec = fuzz::cp1251();
    const QString text = decodeTextFile(bytes, codec);
    // Stamps written by hand or by another program may use the locale's decimal comma.
    const QLocale locale = size % 2 ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c();

    const ResultStore store = load(text, locale);
    for (qsizetype i = 0; i < store.size(); ++i) {
        const TSerpEntry& e = *store[i].object;
        FUZZ_CHECK(!olderThan(kNow, e.Stamp, kFreshnessMs), describe(store));
        if (i > 0) {
            FUZZ_CHECK(russian().compare(store[i - 1].text, store[i].text) < 0, describe(store));
        }
        for (qsizetype u = 1; u < e.Urls.size(); ++u) {
            FUZZ_CHECK(e.Urls.collation().compare(e.Urls[u - 1].text, e.Urls[u].text) < 0,
                       describe(store));
        }
    }

    // Saved and loaded again: nothing lost, nothing changed.
    SaveCacheReport report;
    const QString saved = cacheText(store, &report);
    FUZZ_CHECK(report.skipped == 0 && report.written == store.size(), describe(store));
    const ResultStore again = load(saved, QLocale::c());
    FUZZ_CHECK(sameStore(store, again), describe(store) + "--- after saving:\n" + describe(again));

    // The same through the bytes the file would hold.
    bool lossless = true;
    QByteArray fileBytes = codec.encode(saved, &lossless);
    if (!lossless) {
        fileBytes = "\xEF\xBB\xBF" + saved.toUtf8();
    }
    const QString reread = decodeTextFile(fileBytes, codec);
    qsizetype differ = 0;
    while (differ < std::min(reread.size(), saved.size()) && reread[differ] == saved[differ]) {
        ++differ;
    }
    FUZZ_CHECK(reread == saved, "lossless " + QByteArray::number(lossless) + ", from " +
                                    QByteArray::number(differ) + ": " +
                                    fuzz::shown(QStringView(saved).sliced(differ)) + " read as " +
                                    fuzz::shown(QStringView(reread).sliced(differ)));

    // Read per region and saved: every region's store comes back as it was, and the reader of one
    // store (an older version's) sees each of them (first line of a query wins).
    ResultStores regions(russian());
    loadCacheText(regions, text, kNow, 213, locale);
    ResultStores regionsAgain(russian());
    loadCacheText(regionsAgain, cacheText(regions), kNow, 1, QLocale::c());
    for (const auto& [region, regional] : regions) {
        const ResultStore* back = regionsAgain.find(region);
        FUZZ_CHECK(regional.empty() || (back && sameStore(regional, *back)),
                   "region " + QByteArray::number(region) + ":\n" + describe(regional));
        for (const auto& line : regional) {
            FUZZ_CHECK(store.indexOf(line.text) >= 0, describe(regional));
        }
    }

    // A file cut off in the middle of a line: the whole lines before the cut load as they did.
    if (!bytes.isEmpty()) {
        const qsizetype cut = qsizetype(data[0]) * text.size() / 256;
        const QStringView before = QStringView(text).first(cut);
        const qsizetype lastBreak = std::max(before.lastIndexOf(u'\n'), before.lastIndexOf(u'\r'));
        const ResultStore wholeLines = load(before.first(lastBreak + 1), locale);
        FUZZ_CHECK(isPartOf(wholeLines, store),
                   describe(wholeLines) + "--- is not part of:\n" + describe(store));
        // The cut line itself may add a query (its text cut short), but never changes another.
        const ResultStore cutFile = load(before, locale);
        FUZZ_CHECK(isPartOf(wholeLines, cutFile), describe(cutFile));
    }
    return 0;
}
