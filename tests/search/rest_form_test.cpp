#include "search/rest_form.h"

#include <gtest/gtest.h>
#include <QJsonDocument>
#include <QJsonObject>

namespace kelvara {
namespace {

TEST(RestForm, ChosenByThePathOfTheConfiguredUrlAlone) {
    struct Case {
        QString url;
        bool rest;
    };
    const Case cases[] = {
        {u"https://searchapi.api.cloud.yandex.net/v2/web/search?folderid=f&apikey=k&lr=213"_qs,
         true},
        {u"http://127.0.0.1:8080/v2/web/search?folderid=f&apikey=k&lr=2"_qs, true},
        {u"https://yandex.ru/search/xml?folderid=f&apikey=k&lr=213"_qs, false},
        {u"https://h/v2/web/search/more?x=1&lr=1"_qs, false},
        {u"https://h/v2/web/searchAsync?x=1&lr=1"_qs, false},
        {u"ftp://h/v2/web/search?x=1&lr=1"_qs, false},
        {u"not a url&lr=1"_qs, false},
        {QString(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isRestSearchUrl(c.url), c.rest) << c.url.toStdString();
    }
}

TEST(RestForm, CredentialsMoveIntoTheBodyAndHeaderAndNeverIntoTheUrl) {
    const RestTarget target = restTarget(
        u"https://searchapi.api.cloud.yandex.net:443/v2/web/search?folderid=b1g%2Dfolder"
        u"&apikey=AQVN%2Bkey%3D&lr=213"_qs);
    EXPECT_EQ(target.endpoint, "https://searchapi.api.cloud.yandex.net:443/v2/web/search");
    EXPECT_EQ(target.folderId, u"b1g-folder"_qs);
    EXPECT_EQ(target.apiKey, u"AQVN+key="_qs);
    EXPECT_EQ(target.region, u"213"_qs);

    const HttpRequest request = restRequest(target, u"купить \"кофе\"");
    EXPECT_EQ(request.method, HttpRequest::Method::Post);
    EXPECT_EQ(request.url, target.endpoint);
    EXPECT_TRUE(request.headers.contains("Authorization: Api-Key AQVN+key="));
    EXPECT_TRUE(request.headers.contains("Content-Type: application/json"));

    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const QJsonObject query = body.value(u"query").toObject();
    EXPECT_EQ(query.value(u"queryText").toString(), u"купить \"кофе\""_qs);
    EXPECT_EQ(query.value(u"searchType").toString(), u"SEARCH_TYPE_RU"_qs);
    EXPECT_EQ(query.value(u"familyMode").toString(), u"FAMILY_MODE_NONE"_qs);
    const QJsonObject group = body.value(u"groupSpec").toObject();
    EXPECT_EQ(group.value(u"groupMode").toString(), u"GROUP_MODE_DEEP"_qs);
    EXPECT_EQ(group.value(u"groupsOnPage").toString(), u"10"_qs);
    EXPECT_EQ(group.value(u"docsInGroup").toString(), u"1"_qs);
    const QJsonObject sort = body.value(u"sortSpec").toObject();
    EXPECT_EQ(sort.value(u"sortMode").toString(), u"SORT_MODE_BY_RELEVANCE"_qs);
    EXPECT_EQ(body.value(u"region").toString(), u"213"_qs);
    EXPECT_EQ(body.value(u"folderId").toString(), u"b1g-folder"_qs);
    EXPECT_EQ(body.value(u"l10n").toString(), u"LOCALIZATION_RU"_qs);
    EXPECT_EQ(body.value(u"responseFormat").toString(), u"FORMAT_XML"_qs);
    EXPECT_FALSE(request.body.contains("AQVN"));
}

TEST(RestForm, KeyWithALineBreakIsNotSentAsAHeader) {
    const RestTarget target =
        restTarget(u"https://h/v2/web/search?folderid=f&apikey=k%0D%0AX-Evil:%201&lr=1"_qs);
    const HttpRequest request = restRequest(target, u"q");
    for (const QByteArray& h : request.headers) {
        EXPECT_FALSE(h.startsWith("Authorization")) << h.constData();
        EXPECT_FALSE(h.contains('\n'));
    }
}

TEST(RestForm, AnswerXmlIsTheBase64OfRawData) {
    const QByteArray xml = "<r><response>\xd0\xba</response></r>";
    const QString body = u"{\"rawData\":\""_qs + QString::fromLatin1(xml.toBase64()) + u"\"}"_qs;
    EXPECT_EQ(restAnswerXml(body), QString::fromUtf8(xml));

    EXPECT_EQ(restAnswerXml(u"<html>captcha</html>"_qs), std::nullopt);
    EXPECT_EQ(restAnswerXml(u"{\"rawData\":42}"_qs), std::nullopt);
    EXPECT_EQ(restAnswerXml(u"{\"code\":16,\"message\":\"denied\"}"_qs), std::nullopt);
    EXPECT_EQ(restAnswerXml(u"{\"rawData\":\"not base64!\"}"_qs), std::nullopt);
}

}  // namespace
}  // namespace kelvara
