#include "tree/url_list.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

void remember(ResultStore& store, const QString& q, const QStringList& urls) {
    auto e = std::make_unique<TSerpEntry>(1);
    for (const QString& u : urls) {
        e->Urls.add(u);
    }
    store.add(q, std::move(e));
}

QStringList displays(const std::vector<UrlListRow>& rows) {
    QStringList out;
    for (const UrlListRow& r : rows) {
        out << r.display + u'=' + QString::number(r.matches);
    }
    return out;
}

}  // namespace

TEST(UrlList, PhraseListsEveryUrlInStoredOrder) {
    ResultStore store;
    QStringList ten;
    for (int i = 9; i >= 0; --i) {
        ten << QStringLiteral("http://site%1.ru/page").arg(i);
    }
    remember(store, u"ten"_qs, ten);
    const auto rows = phraseUrlRows(store, u"TEN"_qs);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0].display, u"http://site0.ru/page"_qs);
    EXPECT_EQ(rows[9].display, u"http://site9.ru/page"_qs);
    EXPECT_TRUE(phraseUrlRows(store, u"unknown"_qs).empty());
}

TEST(UrlList, ClusterCountsSharedUrlsMostSharedFirstAtMostTwenty) {
    ResultStore store;
    remember(store, u"p1"_qs,
             {u"http://only1.ru/"_qs, u"http://shared.ru/"_qs, u"http://two.ru/"_qs});
    remember(store, u"p2"_qs, {u"http://shared.ru/"_qs, u"http://two.ru/"_qs});
    remember(store, u"p3"_qs, {u"http://SHARED.ru/"_qs, u"http://xn--e1afmkfd.xn--p1ai/"_qs});
    remember(store, u"p4"_qs, {u"http://shared.ru/"_qs});
    EXPECT_EQ(
        displays(clusterUrlRows(store, {u"p1"_qs, u"p2"_qs, u"p3"_qs, u"p4"_qs})),
        (QStringList{u"http://shared.ru/=3"_qs, u"http://two.ru/=2"_qs, u"http://only1.ru/=1"_qs,
                     u"http://SHARED.ru/=1"_qs, u"http://пример.рф=1"_qs}));
    EXPECT_TRUE(clusterUrlRows(store, {}).empty());

    // 25 distinct URLs: exactly 20 rows, equal counts in the order first met.
    QStringList many;
    for (int i = 0; i < 25; ++i) {
        many << QStringLiteral("http://u%1.ru/x").arg(i, 2, 10, QLatin1Char('0'));
    }
    remember(store, u"many"_qs, many);
    const auto rows = clusterUrlRows(store, {u"many"_qs});
    ASSERT_EQ(rows.size(), 20u);
    EXPECT_EQ(rows[0].display, u"http://u00.ru/x"_qs);
    EXPECT_EQ(rows[19].display, u"http://u19.ru/x"_qs);
}
