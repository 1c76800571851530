#include "core/messages.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(Messages, EveryMessageInBothLanguages) {
    for (int n = 0; n < kMessageCount; ++n) {
        const bool unused = n >= 5 && n <= 8;
        EXPECT_EQ(GetMessageText(Msg(n), UiLanguage::English).isEmpty(), unused) << n;
        EXPECT_EQ(GetMessageText(Msg(n), UiLanguage::Russian).isEmpty(), unused) << n;
    }
    EXPECT_EQ(GetMessageText(Msg(kMessageCount), UiLanguage::English), QString());
    EXPECT_EQ(GetMessageText(Msg::ClusterButton, UiLanguage::Russian), u"Кластеризовать"_qs);
    EXPECT_EQ(GetMessageText(Msg::ExportHeader, UiLanguage::English),
              u"Query clustering result\r\n\r\nGroup;Query;Main page"_qs);
    EXPECT_EQ(GetMessageText(Msg::ExportFooter, UiLanguage::Russian),
              u"\r\nКластеризованно при помощи "_qs + QString::fromUtf16(kMakerDomain));
    EXPECT_EQ(GetMessageText(Msg::AboutCreatedBy, UiLanguage::English),
              u"created by "_qs + QString::fromUtf16(kAuthorName));
}

TEST(Messages, PlaceholdersAreFilledInOrder) {
    EXPECT_EQ(messageText(Msg::FetchCount, UiLanguage::English, {u"3"_qs, u"10"_qs}),
              u"Processed requests 3 from 10"_qs);
    EXPECT_EQ(messageText(Msg::Error, UiLanguage::Russian,
                          {messageText(Msg::SearchError, UiLanguage::Russian, {u"лимит"_qs})}),
              u"Ошибка: Яндекс вернул ошибку поиска:\r\n\"лимит\""_qs);
    // An empty version leaves the caption ending in a space.
    EXPECT_EQ(messageText(Msg::VersionCaption, UiLanguage::English, {QString()}),
              u"Tarvelo Kelvara "_qs);
    EXPECT_EQ(formatMessage(u"100%% %s %s"_qs, {u"a"_qs}), u"100% a "_qs);
    // An argument holding "%s" is not filled again.
    EXPECT_EQ(formatMessage(u"%s-%s"_qs, {u"%s"_qs, u"b"_qs}), u"%s-b"_qs);
}
