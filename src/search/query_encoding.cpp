#include "search/query_encoding.h"

namespace kelvara {

QString EncodeQueryParam(QStringView text) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
            out.append(QChar(char16_t(b)));
        } else {
            out.append(u'%');
            out.append(QChar(kHex[b >> 4]));
            out.append(QChar(kHex[b & 0x0F]));
        }
    }
    return out;
}

QString RequestUrl(const QString& baseUrl, QStringView query) {
    QString url;
    url.reserve(baseUrl.size() + 7 + query.size() * 6 + qsizetype(std::size(kRequestTail)));
    url.append(baseUrl);
    url.append(u"&query=");
    url.append(EncodeQueryParam(query));
    url.append(QStringView(kRequestTail));
    return url;
}

}  // namespace kelvara
