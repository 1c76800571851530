#include "clustering/url_display.h"

#include "clustering/punycode.h"

#include <QUrl>

#include <algorithm>

namespace kelvara {

namespace {

QString decodedAfterScheme(QStringView url, QStringView scheme) {
    // The host name ends at the path, the query, the fragment or the port.
    const QStringView rest = url.sliced(scheme.size());
    qsizetype hostEnd = rest.size();
    for (const char16_t stop : {u'/', u'?', u'#', u':'}) {
        const qsizetype at = rest.indexOf(QChar(stop));
        if (at >= 0) {
            hostEnd = std::min(hostEnd, at);
        }
    }
    QStringView tail = rest.sliced(hostEnd);
    // A main page is shown without its final "/". Anything below it keeps the whole rest of the
    // address, so that the row still opens the page it stands for.
    if (tail.endsWith(u'/') && tail.indexOf(u'/') == tail.size() - 1) {
        tail.chop(1);
    }
    QString out = scheme.toString();
    out += PunycodeToUnicode(rest.first(hostEnd));
    out += tail;
    return out;
}

}  // namespace

QString urlDisplayText(QStringView url) {
    static constexpr char16_t kHttp[] = u"http://";
    static constexpr char16_t kHttps[] = u"https://";
    if (url.startsWith(u"http://xn--")) {
        return decodedAfterScheme(url, kHttp);
    }
    if (url.startsWith(u"https://xn--")) {
        return decodedAfterScheme(url, kHttps);
    }
    return url.toString();
}

bool isOpenableUrl(QStringView text) {
    if (!text.startsWith(u"http://", Qt::CaseInsensitive) &&
        !text.startsWith(u"https://", Qt::CaseInsensitive)) {
        return false;
    }
    // Control characters have no place in an address and could smuggle a second one in.
    if (std::any_of(text.begin(), text.end(),
                    [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; })) {
        return false;
    }
    const QUrl url(text.toString(), QUrl::TolerantMode);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

std::optional<QString> addressToOpen(QStringView displayText) {
    const qsizetype h = displayText.indexOf(u'h');
    const QStringView address = h >= 0 ? displayText.sliced(h) : displayText;
    if (!isOpenableUrl(address)) {
        return std::nullopt;
    }
    return address.toString();
}

}  // namespace kelvara
