#pragma once

#include <QString>
#include <QStringView>

namespace kelvara {

// The percent-encoded form of a text for a URL query parameter: the text's UTF-8 bytes, ASCII
// letters and digits copied, every other byte (the space and "-", ".", "_", "~" included) as
// "%" and two upper-case hexadecimal digits.
QString EncodeQueryParam(QStringView text);

// What every request asks for after the query: Russian notices, ranking by relevance, no family
// filter, 10 groups of 1 document each.
inline constexpr char16_t kRequestTail[] =
    u"&l10n=ru&sortby=rlv&filter=none"
    u"&groupby=attr%3Dd.mode%3Ddeep.groups-on-page%3D10.docs-in-group%3D1";

// The request URL of one query: base URL, "&query=", the encoded query, the fixed tail.
QString RequestUrl(const QString& baseUrl, QStringView query);

}  // namespace kelvara
