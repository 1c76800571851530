#include "clustering/main_pages.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(MainPages, TheMainPageRule) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"http://site.ru/", true},
        {u"https://site.ru:8080/", true},
        {u"http://site.ru", false},
        {u"http://site.ru/page", false},
        {u"http://site.ru/dir/", false},
        {u"site.ru/", true},  // no "//": the first "/" from the second character on
        {u"/", false},
        {u"a/", true},
        {u"", false},
        {u"http://", false},
        {u"//host/", true},
    };
    for (const auto& [url, want] : cases) {
        EXPECT_EQ(isMainPage(url), want) << QString::fromUtf16(url).toStdString();
    }
}

TEST(MainPages, CountsByTheStoreLookUp) {
    ResultStore store;
    auto e = std::make_unique<TSerpEntry>(1);
    for (int i = 0; i < 10; ++i) {
        e->Urls.add(QStringLiteral("http://site%1.ru/").arg(i));
    }
    store.add(u"ten hosts"_qs, std::move(e));
    auto f = std::make_unique<TSerpEntry>(1);
    f->Urls.add(u"http://a.ru/x"_qs);
    f->Urls.add(u"http://a.ru/"_qs);
    store.add(u"mixed"_qs, std::move(f));
    store.add(u"nothing"_qs, std::make_unique<TSerpEntry>(1));
    EXPECT_EQ(CountMainPages(store, u"TEN HOSTS"), 10);
    EXPECT_EQ(CountMainPages(store, u"mixed"), 1);
    EXPECT_EQ(CountMainPages(store, u"nothing"), 0);
    EXPECT_EQ(CountMainPages(store, u"unknown"), std::nullopt);
}
