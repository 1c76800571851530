#include "clustering/url_display.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

TEST(UrlDisplay, DecodesInternationalHosts) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        // The main page: the final "/" is not shown.
        {u"http://xn--e1afmkfd.xn--p1ai/", u"http://пример.рф"},
        {u"https://xn--e1afmkfd.xn--p1ai/", u"https://пример.рф"},
        // Below the main page: the host decoded, the rest of the address unchanged; taking the
        // whole text before the last "/" as the host would leave "xn--p1ai/dir" undecoded.
        {u"http://xn--e1afmkfd.xn--p1ai/dir/", u"http://пример.рф/dir/"},
        {u"http://xn--e1afmkfd.xn--p1ai:8080/", u"http://пример.рф:8080"},
        {u"http://xn--e1afmkfd.xn--p1ai/page?q=xn--p1ai", u"http://пример.рф/page?q=xn--p1ai"},
        {u"https://xn--e1afmkfd.xn--p1ai:8443/a.b", u"https://пример.рф:8443/a.b"},
        {u"http://xn--e1afmkfd.xn--p1ai#top", u"http://пример.рф#top"},
        {u"http://xn--e1afmkfd.xn--p1ai", u"http://пример.рф"},
        // Only the exact lower-case prefixes, at the very start.
        {u"HTTP://xn--e1afmkfd.xn--p1ai/", u"HTTP://xn--e1afmkfd.xn--p1ai/"},
        {u"http://XN--e1afmkfd.xn--p1ai/", u"http://XN--e1afmkfd.xn--p1ai/"},
        {u"http://www.xn--e1afmkfd.xn--p1ai/", u"http://www.xn--e1afmkfd.xn--p1ai/"},
        {u" http://xn--e1afmkfd.xn--p1ai/", u" http://xn--e1afmkfd.xn--p1ai/"},
        // Malformed labels stay.
        {u"http://xn--bad!.ru/", u"http://xn--bad!.ru"},
        {u"http://xn--/", u"http://xn--"},
        {u"http://site.ru/", u"http://site.ru/"},
        {u"", u""},
    };
    for (const auto& [url, want] : cases) {
        EXPECT_EQ(urlDisplayText(url), QString::fromUtf16(want))
            << QString::fromUtf16(url).toStdString();
    }
}

TEST(UrlDisplay, OnlyHttpAndHttpsAreOpened) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"http://site.ru/", true},
        {u"https://пример.рф", true},
        {u"HTTPS://Site.ru/page?x=1#y", true},
        {u"http://", false},
        {u"file:///etc/passwd", false},
        {u"javascript:alert(1)", false},
        {u"ftp://site.ru/", false},
        {u"mailto:someone@site.ru", false},
        {u"/usr/bin/xterm", false},
        {u"http://site.ru/\nfile:///etc/passwd", false},
        {u"http:site.ru", false},
        {u"", false},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(isOpenableUrl(text), want) << QString::fromUtf16(text).toStdString();
    }
}

TEST(UrlDisplay, WhatARowOpens) {
    EXPECT_EQ(addressToOpen(u"http://пример.рф"), u"http://пример.рф"_qs);
    // Everything before the first "h" goes, as the list always did.
    EXPECT_EQ(addressToOpen(u"  \thttps://site.ru/"), u"https://site.ru/"_qs);
    EXPECT_EQ(addressToOpen(u"file:///home/user"), std::nullopt);
    EXPECT_EQ(addressToOpen(u"C:\\Windows\\explorer.exe"), std::nullopt);
    EXPECT_EQ(addressToOpen(u"no letter aitch"), std::nullopt);
}

}  // namespace
