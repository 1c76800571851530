#include "core/profile_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(ProfileFile, NamesIgnoreCaseAndFirstKeyWins) {
    ProfileFile ini(u"unused"_qs, AnsiCodec());
    ini.loadText(
        u"; comment\r\n[other]\r\nRegion=1\r\n [config] \r\n  region = 54 \r\nREGION=2\r\n"
        u"url=\"http://x/?a=b\"\r\nnoequals\r\n"_qs);
    EXPECT_EQ(ini.readInteger(u"CONFIG", u"Region", 213), 54);
    EXPECT_EQ(ini.readString(u"Config", u"URL"), u"http://x/?a=b"_qs);
    EXPECT_EQ(ini.readString(u"CONFIG", u"missing", u"d"_qs), u"d"_qs);
    EXPECT_EQ(ini.readInteger(u"nosection", u"Region", 7), 7);
}

TEST(ProfileFile, IntegersAndDefaults) {
    const std::pair<const char16_t*, std::optional<int>> cases[] = {
        {u"0", 0},
        {u"1", 1},
        {u" -12 ", -12},
        {u"+5", 5},
        {u"0x1F", 31},
        {u"$10", 16},
        {u"2147483647", 2147483647},
        {u"2147483648", {}},
        {u"-2147483649", {}},
        {u"12abc", {}},
        {u"", {}},
        {u"1e400", {}},
        {u"99999999999999999999", {}},
        {u"١٢", {}},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(parseInteger(text), want) << QString::fromUtf16(text).toStdString();
    }
}

TEST(ProfileFile, WritingKeepsEverythingElse) {
    test::TempDir dir;
    const QString path = dir.write(
        u"s.ini"_qs, "[A]\r\nx=1\r\n\r\n[Config]\r\nRegion=5\r\nkeep=me\r\n\r\n[B]\r\ny=2\r\n");
    ProfileFile ini(path, AnsiCodec("windows-1251"));
    ASSERT_FALSE(ini.load());
    ini.writeString(u"CONFIG", u"Region", u"213"_qs);
    ini.writeString(u"CONFIG", u"YandexURL", u"http://яндекс/?a"_qs);
    ini.writeString(u"New", u"k", u"v"_qs);
    ASSERT_FALSE(ini.flush());
    // In UTF-8 with a mark whatever the code page, so that it reads the same under any other.
    EXPECT_EQ(dir.read(u"s.ini"_qs),
              QByteArray("\xEF\xBB\xBF[A]\r\nx=1\r\n\r\n[Config]\r\nRegion=213\r\nkeep=me\r\n"
                         "YandexURL=http://\xD1\x8F\xD0\xBD\xD0\xB4\xD0\xB5\xD0\xBA\xD1\x81/"
                         "?a\r\n\r\n[B]\r\ny=2\r\n[New]\r\nk=v\r\n"));
    ProfileFile elsewhere(path, AnsiCodec("windows-1252"));
    ASSERT_FALSE(elsewhere.load());
    EXPECT_EQ(elsewhere.readString(u"CONFIG", u"YandexURL"), u"http://яндекс/?a"_qs);
#ifndef Q_OS_WIN  // there a user's files are private through the profile's access lists
    // It holds the service key: its owner's alone.
    const QFileDevice::Permissions user =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    EXPECT_EQ(QFile::permissions(path) & ~user, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

TEST(ProfileFile, MissingFileReadsAsDefaultsAndIsCreatedOnWrite) {
    test::TempDir dir;
    ProfileFile ini(dir.path(u"settings.ini"_qs), AnsiCodec());
    EXPECT_FALSE(ini.load());
    EXPECT_EQ(ini.readInteger(u"CONFIG", u"HardMode", 0), 0);
    ini.writeString(u"CONFIG", u"HardMode", u"0"_qs);
    ASSERT_FALSE(ini.flush());
    EXPECT_EQ(dir.read(u"settings.ini"_qs), QByteArray("\xEF\xBB\xBF[CONFIG]\r\nHardMode=0\r\n"));
}
