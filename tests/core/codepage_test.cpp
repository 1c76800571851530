#include "core/codepage.h"

#include <gtest/gtest.h>

using namespace kelvara;

// The same bytes for the same text whichever converter the platform has, for the code pages
// users give to --codepage and the ones the system may report.
TEST(CodePage, ConvertsBothWaysByName) {
    struct Case {
        const char* name;
        QString text;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"windows-1251", u"Кофе №1"_qs, QByteArray("\xCA\xEE\xF4\xE5 \xB9\x31")},
        {"windows-1252", u"café €"_qs, QByteArray("caf\xE9 \x80")},
        {"ibm866", u"Кофе"_qs, QByteArray("\x8A\xAE\xE4\xA5")},
        {"koi8-r", u"Кофе"_qs, QByteArray("\xEB\xCF\xC6\xC5")},
        {"Shift_JIS", u"日本"_qs, QByteArray("\x93\xFA\x96\x7B")},
        {"UTF-8", u"Кофе"_qs, u"Кофе"_qs.toUtf8()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(codePageKnown(c.name));
        EXPECT_EQ(codePageDecode(c.name, c.bytes), c.text);
        bool lossless = false;
        EXPECT_EQ(codePageEncode(c.name, c.text, &lossless), c.bytes);
        EXPECT_TRUE(lossless);
    }
}

TEST(CodePage, WhatTheCodePageCannotHoldAndUnknownNames) {
    bool lossless = true;
    EXPECT_EQ(codePageEncode("windows-1251", u"a€文b"_qs, &lossless), QByteArray("a\x88?b"));
    EXPECT_FALSE(lossless);
    lossless = true;
    EXPECT_EQ(codePageEncode("koi8-r", u"x日y"_qs, &lossless), QByteArray("x?y"));
    EXPECT_FALSE(lossless);

    for (const char* name : {"", "no-such-page", "windows-99999"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(codePageKnown(name));
        EXPECT_EQ(codePageDecode(name, QByteArray("\xE9")), u"é"_qs);  // read as Latin-1
    }
}
