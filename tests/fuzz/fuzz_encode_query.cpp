// EncodeQueryParam and the request URL, over query lines as users paste or import them.
//
// The input is the query as UTF-16 (two bytes a unit, so that lone surrogates occur too).
// Properties: the encoded text holds only ASCII letters, digits and "%XX" with upper-case
// hexadecimal; it decodes to exactly the query's UTF-8; it is as long as the rule says; the
// request URL is the base, "&query=", the encoded query and the fixed tail, and survives a trip
// through the code page unchanged.

#include "fuzz_common.h"

#include "search/query_encoding.h"

using namespace kelvara;

namespace {

bool isLetterOrDigit(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

bool isUpperHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    QString query(qsizetype(size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < size; i += 2) {
        query[qsizetype(i / 2)] = QChar(char16_t(data[i] | data[i + 1] << 8));
    }
    const QByteArray utf8 = query.toUtf8();
    const QString encoded = EncodeQueryParam(query);

    qsizetype expectedLength = 0;
    for (const char b : utf8) {
        expectedLength += isLetterOrDigit(static_cast<unsigned char>(b)) ? 1 : 3;
    }
    FUZZ_CHECK(encoded.size() == expectedLength, fuzz::shown(encoded));
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char16_t c = encoded[i].unicode();
        if (c == u'%') {
            FUZZ_CHECK(i + 2 < encoded.size() && isUpperHex(encoded[i + 1].unicode()) &&
                           isUpperHex(encoded[i + 2].unicode()),
                       fuzz::shown(encoded));
            i += 2;
        } else {
            FUZZ_CHECK(isLetterOrDigit(c), fuzz::shown(encoded));
        }
    }
    FUZZ_CHECK(QByteArray::fromPercentEncoding(encoded.toLatin1()) == utf8, fuzz::shown(encoded));

    const QString base = u"https://yandex.example/search/xml?user=u&key=k&lr=213"_qs;
    const QString url = RequestUrl(base, query);
    const QString expected = base + u"&query="_qs + encoded + QString::fromUtf16(kRequestTail);
    FUZZ_CHECK(url == expected, fuzz::shown(url));
    FUZZ_CHECK(fuzz::cp1251().roundTrip(url) == url, fuzz::shown(url));
    return 0;
}
