#include "search/cache.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

using namespace kelvara;

namespace {

const Stamp kNow = stampFromLocal(QDate(2026, 12, 9), 12 * 3600'000LL);
const QLocale kRu(QLocale::Russian, QLocale::Russia);

// The store in the Russian order, whatever the machine's locale.
const Collation& ruOrder() {
    static const Collation c(kRu);
    return c;
}

QString dump(const ResultStore& store) {
    QString out;
    for (const auto& line : store) {
        out += QString::number(line.object->Stamp) + u'|' + line.text;
        for (const auto& u : line.object->Urls) {
            out += u'|' + u.text;
        }
        out += u'\n';
    }
    return out;
}

}  // namespace

TEST(Cache, StampFieldReading) {
    struct Case {
        const char16_t* field;
        Stamp want;
    };
    const Case cases[] = {
        {u"63907099200000", 63907099200000},
        {u" 42 ", 42},
        {u"-5", -5},
        {u"2,5", 2},  // half to even, in the locale's format
        {u"3,5", 4},
        {u"1,6e1", 16},
        {u"2.5", 0},  // not the Russian decimal separator
        {u"1e400", 0},
        {u"9e18", 9'000'000'000'000'000'000},
        {u"1e19", 0},
        {u"abc", 0},
        {u"", 0},
        {u"12x", 0},
        {u"9223372036854775807", 9223372036854775807},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseStamp(c.field, kRu), c.want) << QString::fromUtf16(c.field).toStdString();
    }
    EXPECT_EQ(parseStamp(u"2.5", QLocale(QLocale::English)), 2);
}

TEST(Cache, LoadKeepsWhatTheFormatSays) {
    const Stamp week = kNow - kFreshnessMs;
    const QString text =
        QString::number(week) + u";exactly seven days;http://a.ru/\r\n"_qs +
        QString::number(week - 1) + u";a millisecond older;http://a.ru/\r\n"_qs +
        QString::number(kNow) + u";Кофе;http://b.ru/;HTTP://B.RU/;http://a.ru/;\n"_qs +
        QString::number(kNow - 5) + u";КОФЕ;http://other.ru/\r"_qs + QString::number(kNow) +
        u";two fields\r\n"_qs + u"no separator\r\n\r\n;\r\nabc;stamp unreadable;x\r\n"_qs +
        QString::number(kNow + 1000) + u";future"_qs;
    ResultStore store(ruOrder());
    loadCacheText(store, text, kNow, kRu);
    EXPECT_EQ(dump(store), QString::number(kNow) + u"|Кофе||http://a.ru/|http://b.ru/\n"_qs +
                               QString::number(week) + u"|exactly seven days|http://a.ru/\n"_qs +
                               QString::number(kNow + 1000) + u"|future\n"_qs +
                               QString::number(kNow) + u"|two fields\n"_qs);
}

TEST(Cache, SaveAndLoadAgainGiveTheSameStore) {
    test::TempDir dir;
    const QString text = QString::number(kNow) + u";b query;http://b/;http://a/\r\n"_qs +
                         QString::number(kNow) + u";a query\r\n"_qs;
    ResultStore store(ruOrder());
    loadCacheText(store, text, kNow, kRu);
    const AnsiCodec cp1251("windows-1251");
    ASSERT_FALSE(SaveCache(store, dir.path(u"cache.txt"_qs)));
    // UTF-8 with a mark, whatever the code page.
    EXPECT_EQ(dir.read(u"cache.txt"_qs),
              QByteArray("\xEF\xBB\xBF") +
                  (QString::number(kNow) + u";a query\r\n"_qs + QString::number(kNow) +
                   u";b query;http://a/;http://b/\r\n"_qs)
                      .toLatin1());
    ResultStore again(ruOrder());
    ASSERT_FALSE(LoadCache(again, dir.path(u"cache.txt"_qs), kNow, cp1251, kRu));
    EXPECT_EQ(dump(again), dump(store));

    // The same file without the mark (an older version's, in the code page) reads the same.
    dir.write(u"ansi.txt"_qs, dir.read(u"cache.txt"_qs).sliced(3));
    ResultStore fromAnsi(ruOrder());
    ASSERT_FALSE(LoadCache(fromAnsi, dir.path(u"ansi.txt"_qs), kNow, cp1251, kRu));
    EXPECT_EQ(dump(fromAnsi), dump(store));

    ResultStore empty(ruOrder());
    ASSERT_FALSE(SaveCache(empty, dir.path(u"empty.txt"_qs)));
    EXPECT_TRUE(QFileInfo::exists(dir.path(u"empty.txt"_qs)));
    EXPECT_EQ(dir.read(u"empty.txt"_qs), QByteArray("\xEF\xBB\xBF"));
}

// A cache written under a Russian locale used to be read under an English one as windows-1252:
// every Cyrillic query came back as another query, was written back garbled and asked again.
TEST(Cache, AFileWrittenUnderOneCodePageReadsTheSameUnderAnother) {
    test::TempDir dir;
    const QString text = QString::number(kNow) + u";купить кофе;http://кофе.рф/\r\n"_qs +
                         QString::number(kNow) + u";café crème;http://a/\r\n"_qs;
    const AnsiCodec cp1251("windows-1251"), cp1252("windows-1252");
    ResultStore written(ruOrder());
    loadCacheText(written, text, kNow, kRu);
    ASSERT_FALSE(SaveCache(written, dir.path(u"cache.txt"_qs)));
    ResultStore read(ruOrder());
    ASSERT_FALSE(LoadCache(read, dir.path(u"cache.txt"_qs), kNow, cp1252, kRu));
    EXPECT_EQ(dump(read), dump(written));
    // And back: saved under the other code page, read under the first.
    ASSERT_FALSE(SaveCache(read, dir.path(u"cache.txt"_qs)));
    ResultStore back(ruOrder());
    ASSERT_FALSE(LoadCache(back, dir.path(u"cache.txt"_qs), kNow, cp1251, kRu));
    EXPECT_EQ(dump(back), dump(written));
}

// Entries the format cannot carry are left out rather than written as a different entry; text
// outside the code page is written as it is (the file is UTF-8), so nothing turns into "?".
TEST(Cache, NothingIsWrittenCorrupted) {
    test::TempDir dir;
    ResultStore store(ruOrder());
    auto add = [&store](const QString& q, QStringList urls) {
        auto e = std::make_unique<TSerpEntry>(kNow);
        for (const QString& u : urls) {
            e->Urls.add(u);
        }
        store.add(q, std::move(e));
    };
    add(u"semi;colon"_qs, {u"http://a/"_qs});
    add(u"url with semicolon"_qs, {u"http://a/?x=1;y=2"_qs});
    add(u"line\nbreak"_qs, {});
    add(u"кофе 中文"_qs, {u"http://a/"_qs});
    SaveCacheReport report;
    const AnsiCodec cp1251("windows-1251");
    ASSERT_FALSE(SaveCache(store, dir.path(u"cache.txt"_qs), &report));
    EXPECT_EQ(report.written, 1);
    EXPECT_EQ(report.skipped, 3);
    ResultStore again(ruOrder());
    ASSERT_FALSE(LoadCache(again, dir.path(u"cache.txt"_qs), kNow, cp1251, kRu));
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again[0].text, u"кофе 中文"_qs);
}

TEST(Cache, FailedSaveKeepsTheOldFile) {
    test::TempDir dir;
    const QByteArray old = "1;old\r\n";
    dir.write(u"cache.txt"_qs, old);
    ResultStore store(ruOrder());
    store.add(u"q"_qs, std::make_unique<TSerpEntry>(kNow));
    QFile::setPermissions(dir.root(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const auto err = SaveCache(store, dir.path(u"cache.txt"_qs));
    QFile::setPermissions(dir.root(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#ifdef Q_OS_WIN
    const bool folderBitsBind = false;  // Windows ignores a folder's read-only attribute
#else
    const bool folderBitsBind = ::geteuid() != 0;  // root writes anyway
#endif
    if (folderBitsBind) {
        ASSERT_TRUE(err);
        EXPECT_TRUE(err->message().contains(u"cache.txt"_qs));
        EXPECT_EQ(dir.read(u"cache.txt"_qs), old);
    }
    ASSERT_TRUE(QDir(dir.root()).mkdir(u"folder"_qs));
    EXPECT_TRUE(SaveCache(store, dir.path(u"folder"_qs)));
}

TEST(Cache, MissingFileIsNormalAndACutOffLineStillLoads) {
    test::TempDir dir;
    ResultStore store(ruOrder());
    EXPECT_FALSE(LoadCache(store, dir.path(u"none.txt"_qs), kNow, AnsiCodec(), kRu));
    EXPECT_TRUE(store.empty());
    dir.write(u"cut.txt"_qs, (QString::number(kNow) + u";a;http://a/\r\n"_qs +
                              QString::number(kNow) + u";b;http://b/;http://c"_qs)
                                 .toLatin1());
    EXPECT_FALSE(LoadCache(store, dir.path(u"cut.txt"_qs), kNow, AnsiCodec(), kRu));
    EXPECT_EQ(store.size(), 2);
    EXPECT_TRUE(LoadCache(store, dir.root(), kNow, AnsiCodec(), kRu));  // a directory
}

// Found by fuzzing: a UTF-16 cache with unpaired surrogates in a query (a file another program
// cut or garbled) was loaded with them, and a save could not write them back, so the next load
// gave another store. They load as U+FFFD, which every save keeps.
TEST(Cache, UnpairedSurrogatesOfAUtf16FileSurviveASave) {
    const QString stamp = QString::number(kNow);
    const char16_t broken[] = {u'q', 0xDADA, 0xDADA, u'x', 0xDC00, 0};
    const QString text = stamp + u';' + QString::fromUtf16(broken) + u";http://a/\r\n"_qs;
    QByteArray file("\xFF\xFE");
    for (const QChar c : text) {
        file += char(c.unicode() & 0xFF);
        file += char(c.unicode() >> 8);
    }
    test::TempDir dir;
    dir.write(u"cache.txt"_qs, file);
    const AnsiCodec cp1251("windows-1251");
    ResultStore first(ruOrder());
    ASSERT_FALSE(LoadCache(first, dir.path(u"cache.txt"_qs), kNow, cp1251, kRu));
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0].text, u"q\uFFFD\uFFFDx\uFFFD"_qs);

    ASSERT_FALSE(SaveCache(first, dir.path(u"cache.txt"_qs)));
    ResultStore second(ruOrder());
    ASSERT_FALSE(LoadCache(second, dir.path(u"cache.txt"_qs), kNow, cp1251, kRu));
    EXPECT_EQ(dump(second), dump(first));
}

// Each region's results in a block of its own; a file of an older version is the results of the
// region it is told; an older reader still reads the new file, passing over the region lines.
TEST(Cache, ResultsAreKeptPerRegion) {
    const QString s = QString::number(kNow - 1000);
    struct Case {
        QString file;
        int legacyRegion;
        QString want;  // region: dump of its store, for every region with entries
    };
    const Case cases[] = {
        {s + u";old;http://a/\r\n"_qs, 54, u"54: "_qs + s + u"|old|http://a/\n"_qs},
        {s + u";old;http://a/\r\n#region 2\r\n"_qs + s + u";okna;http://b/\r\n#region 213\r\n"_qs +
             s + u";okna;http://c/\r\n"_qs,
         213,
         u"2: "_qs + s + u"|okna|http://b/\n213: "_qs + s + u"|okna|http://c/\n"_qs + s +
             u"|old|http://a/\n"_qs},
        // A region line that is not one is an unreadable line, passed over.
        {u"#region x\r\n#region -1\r\n#region 2 \r\n"_qs + s + u";q;http://d/\r\n"_qs, 1,
         u"1: "_qs + s + u"|q|http://d/\n"_qs},
    };
    for (const Case& c : cases) {
        ResultStores stores(ruOrder());
        loadCacheText(stores, c.file, kNow, c.legacyRegion, kRu);
        QString got;
        for (const auto& [region, store] : stores) {
            if (!store.empty()) {
                got += QString::number(region) + u": "_qs + dump(store);
            }
        }
        EXPECT_EQ(got, c.want) << c.file.toStdString();

        // Written and read again: the same stores.
        ResultStores again(ruOrder());
        loadCacheText(again, cacheText(stores), kNow, 999, kRu);
        QString gotAgain;
        for (const auto& [region, store] : again) {
            if (!store.empty()) {
                gotAgain += QString::number(region) + u": "_qs + dump(store);
            }
        }
        EXPECT_EQ(gotAgain, c.want);
    }

    // The reader of one store (as an older version reads) takes every entry, first line wins.
    ResultStore old(ruOrder());
    loadCacheText(old, cases[1].file, kNow, kRu);
    EXPECT_EQ(dump(old), s + u"|okna|http://b/\n"_qs + s + u"|old|http://a/\n"_qs);
}
