#include "search/yandex_answer.h"

#include "support/service_double.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using Kind = YandexAnswer::Kind;

QString wrap(const char* grouping) {
    return QString::fromUtf8(
               "<?xml version=\"1.0\" encoding=\"utf-8\"?><yandexsearch><response><results>") +
           QString::fromUtf8(grouping) + u"</results></response></yandexsearch>"_qs;
}

TEST(ReadYandexAnswer, ReadsTheFirstUrlOfEachGroupInDocumentOrder) {
    const QStringList urls{u"https://b.example/2"_qs, u"https://a.example/1?x=1&y=2"_qs,
                           u"https://пример.рф/путь"_qs};
    const YandexAnswer a = ReadYandexAnswer(QString::fromUtf8(test::xmlWithUrls(urls)));
    EXPECT_EQ(a.kind, Kind::Urls);
    EXPECT_EQ(a.urls, urls);
}

TEST(ReadYandexAnswer, WalksOnlyTheNamedElements) {
    struct Case {
        const char* name;
        QString xml;
        Kind kind;
        QStringList urls;
    };
    const Case cases[] = {
        {"two documents in a group: only the first counts",
         wrap("<grouping><group><doc><url>u1</url></doc><doc><url>u2</url></doc></group>"
              "</grouping>"),
         Kind::Urls,
         {u"u1"_qs}},
        {"a doc with two urls: the first",
         wrap("<grouping><group><doc><url>u1</url><url>u2</url></doc></group></grouping>"),
         Kind::Urls,
         {u"u1"_qs}},
        {"groups without doc or url, and other children, are passed over",
         wrap("<grouping><found>3</found><group/><group><doc/></group><Group><doc><url>x</url>"
              "</doc></Group><group><doc><url>u3</url></doc></group><!-- c --><?group x?>"
              "</grouping>"),
         Kind::Urls,
         {u"u3"_qs}},
        {"a url nested deeper is not the doc's url",
         wrap("<grouping><group><doc><title><url>x</url></title></doc></group></grouping>"),
         Kind::Urls,
         {}},
        {"an empty grouping is an answer without URLs", wrap("<grouping/>"), Kind::Urls, {}},
        {"an empty url names no page",
         wrap("<grouping><group><doc><url>  </url></doc></group></grouping>"),
         Kind::Urls,
         {}},
        {"text content: entities, CDATA, surrounding line breaks",
         wrap("<grouping><group><doc><url>\n  https://h/?a=1&amp;b=<![CDATA[2]]>\n</url></doc>"
              "</group></grouping>"),
         Kind::Urls,
         {u"https://h/?a=1&b=2"_qs}},
        {"only the first grouping of results",
         wrap("<grouping><group><doc><url>u1</url></doc></group></grouping>"
              "<grouping><group><doc><url>u2</url></doc></group></grouping>"),
         Kind::Urls,
         {u"u1"_qs}},
        {"the root's name is not checked",
         u"<anything><response><results><grouping><group><doc><url>u</url></doc></group>"
         u"</grouping></results></response></anything>"_qs,
         Kind::Urls,
         {u"u"_qs}},
        {"no grouping", wrap("<group><doc><url>u</url></doc></group>"), Kind::Incomplete, {}},
        {"no results", u"<r><response><found>0</found></response></r>"_qs, Kind::Incomplete, {}},
        {"no response", u"<r><results><grouping/></results></r>"_qs, Kind::Incomplete, {}},
        {"names are case-sensitive",
         u"<r><Response><results><grouping/></results></Response></r>"_qs,
         Kind::Incomplete,
         {}},
        {"response must be a child of the root",
         u"<r><x><response><results><grouping/></results></response></x></r>"_qs,
         Kind::Incomplete,
         {}},
        {"HTML", QString::fromUtf8(test::htmlPage()), Kind::NotXml, {}},
        {"empty body", QString(), Kind::NotXml, {}},
        {"cut-off body",
         QString::fromUtf8(test::xmlWithUrls({u"https://a/"_qs}).left(300)),
         Kind::NotXml,
         {}},
    };
    for (const Case& c : cases) {
        const YandexAnswer a = ReadYandexAnswer(c.xml);
        EXPECT_EQ(a.kind, c.kind) << c.name;
        EXPECT_EQ(a.urls, c.urls) << c.name;
    }
}

TEST(ReadYandexAnswer, ErrorElementWinsOverResultsAndCode15MeansNothingFound) {
    const YandexAnswer e = ReadYandexAnswer(
        QString::fromUtf8(test::xmlWithError(55, u"Превышен лимит запросов & <квота>"_qs)));
    EXPECT_EQ(e.kind, Kind::ServiceError);
    EXPECT_EQ(e.errorText, u"Превышен лимит запросов & <квота>"_qs);

    const YandexAnswer both = ReadYandexAnswer(
        u"<r><response><error code=\"2\">Bad <b>query</b></error><results><grouping><group>"
        u"<doc><url>u</url></doc></group></grouping></results></response></r>"_qs);
    EXPECT_EQ(both.kind, Kind::ServiceError);
    EXPECT_EQ(both.errorText, u"Bad query"_qs);
    EXPECT_TRUE(both.urls.isEmpty());

    const YandexAnswer none = ReadYandexAnswer(
        QString::fromUtf8(test::xmlWithError(15, u"Sorry, there are no results"_qs)));
    EXPECT_EQ(none.kind, Kind::NoResults);
    EXPECT_TRUE(none.urls.isEmpty());

    // Code 15 only: a code that merely starts with it is an error like any other.
    EXPECT_EQ(ReadYandexAnswer(QString::fromUtf8(test::xmlWithError(150, u"x"_qs))).kind,
              Kind::ServiceError);
    EXPECT_EQ(ReadYandexAnswer(u"<r><response><error>no code</error></response></r>"_qs).kind,
              Kind::ServiceError);
}

// Found by the hostile service: elements nested a million deep inside a url (or an error) once
// overflowed the stack while their text was gathered.
TEST(ReadYandexAnswer, TextOfDeeplyNestedElements) {
    const int depth = 1'000'000;
    const QString open = u"<a>"_qs.repeated(depth);
    const QString close = u"</a>"_qs.repeated(depth);
    const YandexAnswer deep =
        ReadYandexAnswer(u"<r><response><results><grouping><group><doc><url>"_qs + open +
                         u"https://deep.example/"_qs + close +
                         u"<b>/x</b></url></doc></group></grouping></results></response></r>"_qs);
    EXPECT_EQ(deep.kind, Kind::Urls);
    EXPECT_EQ(deep.urls, QStringList{u"https://deep.example//x"_qs});

    const YandexAnswer error =
        ReadYandexAnswer(u"<r><response><error code=\"32\">"_qs + open + u"lim"_qs + close +
                         u"it</error></response></r>"_qs);
    EXPECT_EQ(error.kind, Kind::ServiceError);
    EXPECT_EQ(error.errorText, u"limit"_qs);

    // Text around and between nested elements, in document order.
    const YandexAnswer mixed = ReadYandexAnswer(
        wrap("<grouping><group><doc><url>a<x>b<y>c</y><z/>d</x>e<![CDATA[f]]></url></doc>"
             "</group></grouping>"));
    EXPECT_EQ(mixed.urls, QStringList{u"abcdef"_qs});
}

}  // namespace
}  // namespace kelvara
