// The URL list's display text and what a click on a row opens, over result URLs from the service
// or an imported file; and the rows of the list itself.
//
// The input is lines of "query<TAB>url" (a line without a tab is a URL of the query before).
// Properties: only "http://xn--" and "https://xn--" URLs change, keeping their scheme and the rest
// of the address after the host; a non-empty URL never shows as empty; what a click opens is an
// openable http(s) address that ends the display text; an ordinary openable URL opens itself; the
// rows of a cluster are distinct texts, most shared first, at most the limit.

#include "fuzz_common.h"

#include "clustering/punycode.h"
#include "clustering/url_display.h"
#include "tree/url_list.h"

#include <QSet>

using namespace kelvara;

namespace {

void checkUrl(const QString& url) {
    const QString display = urlDisplayText(url);
    FUZZ_CHECK(url.isEmpty() || !display.isEmpty(), fuzz::shown(url));

    const bool decodes = url.startsWith(u"http://xn--") || url.startsWith(u"https://xn--");
    if (!decodes) {
        FUZZ_CHECK(display == url, fuzz::shown(url) + " -> " + fuzz::shown(display));
    } else {
        const qsizetype schemeEnd = url.indexOf(u"://") + 3;
        qsizetype hostEnd = url.size();
        for (const char16_t stop : {u'/', u'?', u'#', u':'}) {
            const qsizetype at = url.indexOf(QChar(stop), schemeEnd);
            if (at >= 0) {
                hostEnd = std::min(hostEnd, at);
            }
        }
        // A final "/" that is the only one after the host (a main page, by the main-page rule)
        // is not shown.
        QStringView tail = QStringView(url).sliced(hostEnd);
        if (tail.endsWith(u'/') && tail.count(u'/') == 1) {
            tail.chop(1);
        }
        const QString expected =
            url.first(schemeEnd) +
            PunycodeToUnicode(QStringView(url).sliced(schemeEnd, hostEnd - schemeEnd)) +
            tail.toString();
        FUZZ_CHECK(display == expected, fuzz::shown(url) + " -> " + fuzz::shown(display) +
                                            " instead of " + fuzz::shown(expected));
    }

    for (const QString& shown : {display, url}) {
        if (const std::optional<QString> open = addressToOpen(shown)) {
            FUZZ_CHECK(isOpenableUrl(*open) && shown.endsWith(*open), fuzz::shown(shown));
            FUZZ_CHECK(open->startsWith(u"http://", Qt::CaseInsensitive) ||
                           open->startsWith(u"https://", Qt::CaseInsensitive),
                       fuzz::shown(*open));
            for (const QChar c : *open) {
                FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F, fuzz::shown(*open));
            }
        }
    }
    if (!decodes && (url.startsWith(u"http://") || url.startsWith(u"https://")) &&
        isOpenableUrl(url)) {
        FUZZ_CHECK(addressToOpen(display) == url, fuzz::shown(url));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(fuzz::bytesOf(data, size));
    ResultStore store(fuzz::russian());
    QStringList phrases;
    QString query = u"q"_qs;
    qsizetype urlCount = 0;
    forEachLine(text, [&](QStringView line) {
        const qsizetype tab = line.indexOf(u'\t');
        const QStringView url = tab < 0 ? line : line.sliced(tab + 1);
        if (tab >= 0) {
            query = line.first(tab).toString();
        }
        checkUrl(url.toString());
        qsizetype at = 0;
        if (!store.find(query, &at)) {
            store.add(query, std::make_unique<TSerpEntry>());
            phrases.append(query);
        }
        if (store[store.indexOf(query)].object->Urls.add(url.toString()).inserted) {
            ++urlCount;
        }
    });

    qsizetype listed = 0;
    for (const QString& phrase : phrases) {
        const std::vector<UrlListRow> rows = phraseUrlRows(store, phrase);
        FUZZ_CHECK(qsizetype(rows.size()) == findEntry(store, phrase)->Urls.size(),
                   fuzz::shown(phrase));
        listed += qsizetype(rows.size());
    }
    FUZZ_CHECK(listed == urlCount, QByteArray::number(listed));

    const int limit = int(size % 25);
    const std::vector<UrlListRow> rows = clusterUrlRows(store, phrases, limit);
    FUZZ_CHECK(rows.size() <= size_t(limit), QByteArray::number(qsizetype(rows.size())));
    QSet<QString> seen;
    qsizetype counted = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(rows[i].matches >= 1, fuzz::shown(rows[i].display));
        counted += rows[i].matches;
        FUZZ_CHECK(!rows[i].display.isEmpty() && !seen.contains(rows[i].display),
                   fuzz::shown(rows[i].display));
        seen.insert(rows[i].display);
        if (i > 0) {
            FUZZ_CHECK(rows[i - 1].matches >= rows[i].matches, fuzz::shown(rows[i].display));
        }
    }
    FUZZ_CHECK(counted <= urlCount, QByteArray::number(counted));
    return 0;
}
