#pragma once

#include "search/http_transport.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace kelvara {

// The service's current interface (API v2, REST): a POST of a JSON body, the key in a header,
// the answer a JSON object whose "rawData" is the XML answer in Base64. A configured URL whose
// path is /v2/web/search uses it; its query parameters folderid, apikey and lr become the body's
// folder id, the Authorization header and the body's region, and are never sent in the URL.
inline constexpr char16_t kRestSearchPath[] = u"/v2/web/search";

bool isRestSearchUrl(const QString& baseUrl);

struct RestTarget {
    QByteArray endpoint;  // scheme, host, port and path: nothing of the query part
    QString folderId;
    QString apiKey;
    QString region;
};

// Splits a REST base URL (configured URL + "&lr=" + region) into what goes where.
RestTarget restTarget(const QString& baseUrl);

// The request for one query: the same settings as the fixed tail of the GET form.
HttpRequest restRequest(const RestTarget& target, QStringView queryText);

// The XML text inside an answer of status 200; nothing when the body is not such an answer.
std::optional<QString> restAnswerXml(const QString& body);

}  // namespace kelvara
