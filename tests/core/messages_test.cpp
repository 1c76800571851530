#include "core/messages.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(Messages, EveryMessageInBothLanguages) {
    for (int n = 0; n < kMessageCount; ++n) {
        const bool unused = n >= 5 && n <= 8;
        EXPECT_EQ(GetMessageText(n, UiLanguage::English).isEmpty(), unused) << n;
        EXPECT_EQ(GetMessageText(n, UiLanguage::Russian).isEmpty(), unused) << n;
    }
    EXPECT_EQ(GetMessageText(29, UiLanguage::English), QString());
    EXPECT_EQ(GetMessageText(9, UiLanguage::Russian), u"Кластеризовать"_qs);
    EXPECT_EQ(GetMessageText(11, UiLanguage::English),
              u"Query clustering result\r\n\r\nGroup;Query;Main page"_qs);
    EXPECT_EQ(GetMessageText(12, UiLanguage::Russian),
              u"\r\nКластеризованно при помощи "_qs + QString::fromUtf16(kMakerDomain));
    EXPECT_EQ(GetMessageText(27, UiLanguage::English),
              u"created by "_qs + QString::fromUtf16(kAuthorName));
}

TEST(Messages, PlaceholdersAreFilledInOrder) {
    EXPECT_EQ(messageText(19, UiLanguage::English, {u"3"_qs, u"10"_qs}),
              u"Processed requests 3 from 10"_qs);
    EXPECT_EQ(
        messageText(13, UiLanguage::Russian, {messageText(16, UiLanguage::Russian, {u"лимит"_qs})}),
        u"Ошибка: Яндекс вернул ошибку поиска:\r\n\"лимит\""_qs);
    // An empty version leaves the caption ending in a space.
    EXPECT_EQ(messageText(1, UiLanguage::English, {QString()}), u"Tarvelo Kelvara "_qs);
    EXPECT_EQ(formatMessage(u"100%% %s %s"_qs, {u"a"_qs}), u"100% a "_qs);
    // An argument holding "%s" is not filled again.
    EXPECT_EQ(formatMessage(u"%s-%s"_qs, {u"%s"_qs, u"b"_qs}), u"%s-b"_qs);
}
