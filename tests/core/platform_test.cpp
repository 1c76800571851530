#include "core/platform.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(Stamp, DayArithmeticFromYearOne) {
    struct Case {
        QDate date;
        qint64 ms;
        Stamp want;
    };
    const Case cases[] = {
        {QDate(1, 1, 1), 0, 86'400'000},
        {QDate(1, 1, 2), 1, 2 * 86'400'000LL + 1},
        {QDate(1, 12, 31), 0, 365 * 86'400'000LL},                    // year 1 is no leap year
        {QDate(4, 3, 1), 0, (365 * 3 + 31 + 29 + 1) * 86'400'000LL},  // year 4 is
        {QDate(1900, 3, 1), 0, 693'655 * 86'400'000LL},               // 1900 is not a leap year
        {QDate(2000, 3, 1), 0, 730'180 * 86'400'000LL},               // 2000 is
        {QDate(2026, 12, 9), 12 * 3600'000LL, 739'959 * 86'400'000LL + 12 * 3600'000LL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stampFromLocal(c.date, c.ms), c.want) << c.date.toString().toStdString();
        EXPECT_EQ(dateTimeFromStamp(c.want).date(), c.date);
    }
    // Consecutive days differ by exactly one day, across a leap day.
    EXPECT_EQ(stampFromLocal(QDate(2024, 3, 1), 0) - stampFromLocal(QDate(2024, 2, 28), 0),
              2 * kMsPerDay);
}

TEST(Stamp, AgeComparisonsDoNotOverflow) {
    const Stamp now = stampFromLocal(QDate(2026, 12, 9), 0);
    EXPECT_FALSE(olderThan(now, now - kFreshnessMs, kFreshnessMs));
    EXPECT_TRUE(olderThan(now, now - kFreshnessMs - 1, kFreshnessMs));
    EXPECT_FALSE(youngerThan(now, now - kFreshnessMs, kFreshnessMs));
    EXPECT_TRUE(youngerThan(now, now - kFreshnessMs + 1, kFreshnessMs));
    EXPECT_TRUE(olderThan(now, std::numeric_limits<Stamp>::min(), kFreshnessMs));
    EXPECT_TRUE(youngerThan(now, std::numeric_limits<Stamp>::max(), kFreshnessMs));
    EXPECT_TRUE(olderThan(std::numeric_limits<Stamp>::max(), std::numeric_limits<Stamp>::min(), 0));
}

TEST(Platform, InterfaceLanguage) {
    EXPECT_EQ(uiLanguageForLanguageId(1049), UiLanguage::Russian);
    for (unsigned id : {1033u, 1058u, 2073u, 0u}) {
        EXPECT_EQ(uiLanguageForLanguageId(id), UiLanguage::English) << id;
    }
    for (const char* name : {"ru_RU.UTF-8", "ru_RU", "ru", "ru_RU@euro", "ru-RU"}) {
        EXPECT_EQ(uiLanguageForLocaleName(QString::fromLatin1(name)), UiLanguage::Russian) << name;
    }
    for (const char* name : {"ru_UA.UTF-8", "ru_MD", "en_US.UTF-8", "C", "", "uk_UA", "rus"}) {
        EXPECT_EQ(uiLanguageForLocaleName(QString::fromLatin1(name)), UiLanguage::English) << name;
    }
}

TEST(Platform, AnsiCodePageFromTheLanguage) {
    const std::pair<const char*, const char*> cases[] = {
        {"ru_RU", "windows-1251"},
        {"uk_UA", "windows-1251"},
        {"be_BY", "windows-1251"},
        {"bg_BG", "windows-1251"},
        {"mk_MK", "windows-1251"},
        {"sr_RS", "windows-1251"},
        {"sr_Latn_RS", "windows-1250"},
        {"en_US", "windows-1252"},
        {"de_DE", "windows-1252"},
        {"fr_FR", "windows-1252"},
        {"pl_PL", "windows-1250"},
        {"cs_CZ", "windows-1250"},
        {"el_GR", "windows-1253"},
        {"tr_TR", "windows-1254"},
        {"he_IL", "windows-1255"},
        {"ar_EG", "windows-1256"},
        {"lt_LT", "windows-1257"},
        {"vi_VN", "windows-1258"},
        {"th_TH", "windows-874"},
        {"ja_JP", "Shift_JIS"},
        {"zh_CN", "GBK"},
        {"zh_TW", "Big5"},
        {"ko_KR", "windows-949"},
        {"C", "windows-1252"},
    };
    for (const auto& [locale, page] : cases) {
        EXPECT_EQ(ansiCodePageForLocale(QLocale(QString::fromLatin1(locale))), QByteArray(page))
            << locale;
    }
}

TEST(Platform, VersionText) {
    const VersionNumbers v{1, 4, 0, 33};
    EXPECT_EQ(GetVersionText(true, v), u"1.4"_qs);
    EXPECT_EQ(GetVersionText(false, v), u"1.4.0.33"_qs);
    const VersionNumbers mine = programVersion();
    EXPECT_EQ(GetVersionText(false), QStringLiteral("%1.%2.%3.%4")
                                         .arg(mine.major)
                                         .arg(mine.minor)
                                         .arg(mine.release)
                                         .arg(mine.build));
    EXPECT_TRUE(executableDir().endsWith(QLatin1Char('/')));
}
