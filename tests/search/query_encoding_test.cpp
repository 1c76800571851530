#include "search/query_encoding.h"

#include <gtest/gtest.h>
#include <QUrlQuery>

namespace kelvara {
namespace {

TEST(EncodeQueryParam, EncodesEveryByteButAsciiLettersAndDigits) {
    struct Case {
        QString text;
        QString encoded;
    };
    const Case cases[] = {
        {u"купить кофе"_qs, u"%D0%BA%D1%83%D0%BF%D0%B8%D1%82%D1%8C%20%D0%BA%D0%BE%D1%84%D0%B5"_qs},
        {u"seo-tools 2.0"_qs, u"seo%2Dtools%202%2E0"_qs},
        {QString(), QString()},
        {u"a b"_qs, u"a%20b"_qs},
        {u"AZaz09"_qs, u"AZaz09"_qs},
        // The unreserved marks of URLs are encoded all the same.
        {u"_~.-"_qs, u"%5F%7E%2E%2D"_qs},
        // Characters that would end or split a parameter.
        {u"a&b=c+d%?#/"_qs, u"a%26b%3Dc%2Bd%25%3F%23%2F"_qs},
        // Beyond the basic plane: four UTF-8 bytes.
        {u"\U0001F600"_qs, u"%F0%9F%98%80"_qs},
        {u"\u00e9\u20ac"_qs, u"%C3%A9%E2%82%AC"_qs},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeQueryParam(c.text), c.encoded) << c.text.toStdString();
    }
}

TEST(EncodeQueryParam, DecodesBackToTheText) {
    const QString text = u"Мороженое & «пломбир» 100% + sale!"_qs;
    const QUrlQuery q(u"query="_qs + EncodeQueryParam(text));
    EXPECT_EQ(q.queryItemValue(u"query"_qs, QUrl::FullyDecoded), text);
}

TEST(RequestUrl, AppendsQueryAndFixedTailAfterTheBaseUrl) {
    const QString url = RequestUrl(u"https://h/search/xml?user=u&key=k&lr=213"_qs, u"a b");
    EXPECT_EQ(
        url,
        u"https://h/search/xml?user=u&key=k&lr=213&query=a%20b&l10n=ru&sortby=rlv"
        u"&filter=none&groupby=attr%3Dd.mode%3Ddeep.groups-on-page%3D10.docs-in-group%3D1"_qs);
}

}  // namespace
}  // namespace kelvara
