#include "search/rest_form.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>
#include <QUrlQuery>

namespace kelvara {

bool isRestSearchUrl(const QString& baseUrl) {
    const QUrl url(baseUrl);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"https" || scheme == u"http") &&
           url.path() == QStringView(kRestSearchPath);
}

RestTarget restTarget(const QString& baseUrl) {
    const QUrl url(baseUrl);
    QUrl endpoint;
    endpoint.setScheme(url.scheme());
    endpoint.setHost(url.host());
    endpoint.setPort(url.port());
    endpoint.setPath(url.path());

    RestTarget target;
    target.endpoint = endpoint.toEncoded();
    const QUrlQuery query(url);
    target.folderId = query.queryItemValue(u"folderid"_qs, QUrl::FullyDecoded);
    target.apiKey = query.queryItemValue(u"apikey"_qs, QUrl::FullyDecoded);
    target.region = query.queryItemValue(u"lr"_qs, QUrl::FullyDecoded);
    return target;
}

HttpRequest restRequest(const RestTarget& target, QStringView queryText) {
    QJsonObject query{
        {u"searchType"_qs, u"SEARCH_TYPE_RU"_qs},
        {u"queryText"_qs, queryText.toString()},
        {u"familyMode"_qs, u"FAMILY_MODE_NONE"_qs},
        {u"page"_qs, u"0"_qs},
    };
    QJsonObject body{
        {u"query"_qs, query},
        {u"sortSpec"_qs, QJsonObject{{u"sortMode"_qs, u"SORT_MODE_BY_RELEVANCE"_qs},
                                     {u"sortOrder"_qs, u"SORT_ORDER_DESC"_qs}}},
        {u"groupSpec"_qs, QJsonObject{{u"groupMode"_qs, u"GROUP_MODE_DEEP"_qs},
                                      {u"groupsOnPage"_qs, u"10"_qs},
                                      {u"docsInGroup"_qs, u"1"_qs}}},
        {u"l10n"_qs, u"LOCALIZATION_RU"_qs},
        {u"responseFormat"_qs, u"FORMAT_XML"_qs},
    };
    if (!target.region.isEmpty()) {
        body.insert(u"region"_qs, target.region);
    }
    if (!target.folderId.isEmpty()) {
        body.insert(u"folderId"_qs, target.folderId);
    }

    HttpRequest request;
    request.method = HttpRequest::Method::Post;
    request.url = target.endpoint;
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.headers.append("Content-Type: application/json");
    // A line break in the key would start a header of its own: such a key is not sent.
    const bool keyIsOneLine = !target.apiKey.contains(u'\r') && !target.apiKey.contains(u'\n');
    if (!target.apiKey.isEmpty() && keyIsOneLine) {
        request.headers.append("Authorization: Api-Key " + target.apiKey.toUtf8());
    }
    return request;
}

std::optional<QString> restAnswerXml(const QString& body) {
    const QJsonDocument doc = QJsonDocument::fromJson(body.toUtf8());
    const QJsonValue raw = doc.object().value(u"rawData");
    if (!raw.isString()) {
        return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(raw.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return QString::fromUtf8(*decoded);
}

}  // namespace kelvara
