#include "core/textfile.h"
#include "reliability/fault_folders.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <thread>

#ifndef Q_OS_WIN
#include <pthread.h>
#endif
#include <sys/stat.h>

using namespace kelvara;

TEST(TextFile, LinesEndAtCrLfLfOrCr) {
    EXPECT_EQ(splitLines(u"a\r\nb\nc\rd"), (QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs}));
    EXPECT_EQ(splitLines(u"a\r\n"), QStringList{u"a"_qs});
    EXPECT_EQ(splitLines(u"a\r\r\nb"), (QStringList{u"a"_qs, u""_qs, u"b"_qs}));
    EXPECT_EQ(splitLines(u"\r"), QStringList{u""_qs});
    EXPECT_TRUE(splitLines(u"").isEmpty());
}

TEST(TextFile, ByteOrderMarksAndTheCodePage) {
    const AnsiCodec cp1251("windows-1251");
    const QString word = u"Кофе"_qs;
    EXPECT_EQ(decodeTextFile(QByteArray("\xCA\xEE\xF4\xE5"), cp1251), word);
    EXPECT_EQ(decodeTextFile(QByteArray("\xEF\xBB\xBF") + word.toUtf8(), cp1251), word);
    QByteArray le("\xFF\xFE"), be("\xFE\xFF");
    for (QChar c : word) {
        le += char(c.unicode() & 0xFF);
        le += char(c.unicode() >> 8);
        be += char(c.unicode() >> 8);
        be += char(c.unicode() & 0xFF);
    }
    EXPECT_EQ(decodeTextFile(le, cp1251), word);
    EXPECT_EQ(decodeTextFile(be, cp1251), word);
    EXPECT_EQ(decodeTextFile(QByteArray("\xEF\xBB\xBF"), cp1251), QString());
    // Unpaired surrogates are no text: they read as U+FFFD, a pair stays a pair.
    EXPECT_EQ(
        decodeTextFile(QByteArray("\xFF\xFE\x00\xD8\x61\x00\x3D\xD8\x00\xDE\x00\xDC", 12), cp1251),
        u"\uFFFDa\U0001F600\uFFFD"_qs);
    EXPECT_EQ(decodeTextFile(QByteArray("\xFE\xFF\xDC\x00\x00\x62", 6), cp1251), u"\uFFFDb"_qs);
}

// A file of another program: a mark decides; without one, valid UTF-8 that is not plain ASCII is
// UTF-8 (a spreadsheet's export), anything else the code page.
TEST(TextFile, UnmarkedUtf8IsRecognised) {
    const AnsiCodec cp1251("windows-1251");
    const QString word = u"Кофе"_qs;
    const struct {
        const char* name;
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"UTF-8", word.toUtf8(), word},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + word.toUtf8(), word},
        {"the code page", "\xCA\xEE\xF4\xE5", word},
        {"ASCII", "plain;text\r\n", u"plain;text\r\n"_qs},
        {"empty", "", QString()},
        // Looks like UTF-8 until the last character, which is cut off: not UTF-8.
        {"cut UTF-8", word.toUtf8().chopped(1), cp1251.decode(word.toUtf8().chopped(1))},
        // An overlong form of "/" and an encoded surrogate are no UTF-8 either.
        {"overlong", "a\xC0\xAF", cp1251.decode("a\xC0\xAF")},
        {"surrogate", "\xED\xA0\x80", cp1251.decode("\xED\xA0\x80")},
        // Code-page text whose bytes happen to pair up as UTF-8 ("Рё" is "и" in UTF-8) is
        // taken as UTF-8: the price of not asking.
        {"code page that is UTF-8", "\xD0\xB8", u"и"_qs},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeTextFileDetectingUtf8(c.bytes, cp1251), c.text) << c.name;
    }
    EXPECT_FALSE(isNonAsciiUtf8("ascii only"));
    EXPECT_TRUE(isNonAsciiUtf8(word.toUtf8()));
}

TEST(TextFile, UnrepresentableCharactersBecomeQuestionMarks) {
    const AnsiCodec cp1251("windows-1251");
    bool lossless = true;
    EXPECT_EQ(cp1251.encode(u"a中б😀", &lossless), QByteArray("a?\xE1?"));
    EXPECT_FALSE(lossless);
    EXPECT_EQ(cp1251.encode(u"\x1A中", &lossless), QByteArray("\x1A?"));
    EXPECT_EQ(cp1251.encode(u"кофе", &lossless), QByteArray("\xEA\xEE\xF4\xE5"));
    EXPECT_TRUE(lossless);
}

// The program's own files: UTF-8 with a mark; a file that may hold a key is readable by its owner
// alone, also when an older version had left it readable by everyone.
TEST(TextFile, OwnFilesAreUtf8AndKeyFilesPrivate) {
    test::TempDir dir;
    const QString shared = dir.path(u"shared.txt"_qs);
    ASSERT_FALSE(writeUtf8Text(shared, u"кофе\r\n"));
    EXPECT_EQ(dir.read(u"shared.txt"_qs), QByteArray("\xEF\xBB\xBF") + u"кофе\r\n"_qs.toUtf8());

    const QString key = dir.write(u"key.ini"_qs, "old");
    ASSERT_TRUE(QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadGroup | QFileDevice::ReadOther));
    ASSERT_FALSE(writeUtf8Text(key, u"key=1\r\n", FileAccess::OwnerOnly));
#ifndef Q_OS_WIN  // Windows keeps a user's files private through the profile's access lists
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(key).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_FALSE(writeUtf8Text(dir.path(u"new.ini"_qs), u"", FileAccess::OwnerOnly));
    ASSERT_EQ(::stat(QFile::encodeName(dir.path(u"new.ini"_qs)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST(TextFile, WritesCrLfInTheCodePageOrUtf8WhenItMust) {
    test::TempDir dir;
    const AnsiCodec cp1251("windows-1251");
    bool utf8 = true;
    ASSERT_FALSE(writeTextFile(dir.path(u"a.txt"_qs), {u"кофе"_qs, u""_qs}, cp1251,
                               Fallback::Utf8WithBom, &utf8));
    EXPECT_FALSE(utf8);
    EXPECT_EQ(dir.read(u"a.txt"_qs), QByteArray("\xEA\xEE\xF4\xE5\r\n\r\n"));
    ASSERT_FALSE(
        writeTextFile(dir.path(u"b.txt"_qs), {u"中"_qs}, cp1251, Fallback::Utf8WithBom, &utf8));
    EXPECT_TRUE(utf8);
    EXPECT_EQ(dir.read(u"b.txt"_qs), QByteArray("\xEF\xBB\xBF") + u"中\r\n"_qs.toUtf8());
    ASSERT_FALSE(writeTextFile(dir.path(u"c.txt"_qs), {u"中"_qs}, cp1251, Fallback::None, &utf8));
    EXPECT_EQ(dir.read(u"c.txt"_qs), QByteArray("?\r\n"));
}

TEST(TextFile, FailedWriteKeepsTheOldFileAndSaysWhy) {
    test::TempDir dir;
    const AnsiCodec codec;
    // A directory where the file should be.
    ASSERT_TRUE(QDir(dir.root()).mkdir(u"x.txt"_qs));
    auto err = writeTextFile(dir.path(u"x.txt"_qs), {u"a"_qs}, codec, Fallback::None);
    ASSERT_TRUE(err);
    EXPECT_TRUE(err->message().contains(dir.path(u"x.txt"_qs)));
    // A full disk leaves the old file whole.
    if (QFile::exists(u"/dev/full"_qs)) {
        auto full = writeBytesAtomically(u"/dev/full"_qs, QByteArray(1 << 16, 'x'));
        EXPECT_TRUE(full);
    }
    // A missing folder.
    err = writeTextFile(dir.path(u"no/such/dir/y.txt"_qs), {u"a"_qs}, codec, Fallback::None);
    ASSERT_TRUE(err);
    EXPECT_FALSE(err->reason.isEmpty());
}

// A write small enough to sit in the buffer fails only when it is flushed: on a full disk that
// failure must be reported, not committed over the old file as an empty one.
TEST(TextFile, SmallWriteOnAFullDiskKeepsTheOldFile) {
    test::TempDir dir;
    const QString folder = dir.path(u"disk"_qs);
    QString whyNot;
    const auto disk = test::ScratchMount::create(folder, 64 * 1024, &whyNot);
    if (!disk) {
        GTEST_SKIP() << "no tiny tmpfs: " << whyNot.toStdString();
    }
    const QString path = folder + u"/settings.ini"_qs;
    const QByteArray old = "[CONFIG]\r\nRegion=2\r\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(old), old.size());
    }
    ASSERT_TRUE(disk->fill(&whyNot)) << whyNot.toStdString();
    for (const qsizetype size : {qsizetype(1), qsizetype(80), qsizetype(100'000)}) {
        const std::optional<FileError> e = writeBytesAtomically(path, QByteArray(size, 'x'));
        ASSERT_TRUE(e) << size << " bytes were reported written";
        EXPECT_FALSE(e->reason.isEmpty());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), old) << size;
    }
}

TEST(TextFile, ReadReportsMissingSeparately) {
    test::TempDir dir;
    const ReadResult missing = readWholeFile(dir.path(u"none"_qs));
    EXPECT_TRUE(missing.missing);
    EXPECT_FALSE(missing.error);
    const ReadResult folder = readWholeFile(dir.root());
    EXPECT_TRUE(folder.error);
    const ReadResult ok = readWholeFile(dir.write(u"f"_qs, "abc"));
    EXPECT_EQ(ok.bytes, QByteArray("abc"));
}

// Whatever the path names, a read takes at most the limit: a file over it, a device that never
// ends and a pipe that brings more are refused with the file's name; a pipe within it is read
// through to the writer's end, in pieces.
TEST(TextFile, ReadStopsAtTheLimit) {
    test::TempDir dir;
    const QString file = dir.write(u"f"_qs, QByteArray(1000, 'x'));
    EXPECT_EQ(readWholeFile(file, 1000).bytes.size(), 1000);
    const ReadResult over = readWholeFile(file, 999);
    ASSERT_TRUE(over.error);
    EXPECT_TRUE(over.bytes.isEmpty());
    EXPECT_TRUE(over.error->message().contains(file));
    EXPECT_TRUE(over.error->reason.contains(u"999 bytes"_qs)) << over.error->reason.toStdString();

    if (QFileInfo::exists(u"/dev/zero"_qs)) {
        const ReadResult zero = readWholeFile(u"/dev/zero"_qs, qint64(3) << 20);
        ASSERT_TRUE(zero.error);
        EXPECT_TRUE(zero.error->reason.contains(u"3 MiB"_qs)) << zero.error->reason.toStdString();
        EXPECT_TRUE(zero.bytes.isEmpty());
    }

#ifndef Q_OS_WIN  // named pipes in the file system are POSIX's
    const QString fifo = dir.path(u"pipe"_qs);
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray body(qsizetype(5) << 20, 'p');
    for (const qint64 limit : {qint64(5) << 20, (qint64(5) << 20) - 1}) {
        std::thread writer([&] {
            sigset_t pipe;  // a write after the reader left fails instead of ending the tests
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            QFile w(fifo);
            if (w.open(QIODevice::WriteOnly)) {
                w.write(body);  // a refusing reader closes early: the rest fails, as it should
            }
        });
        const ReadResult piped = readWholeFile(fifo, limit);
        writer.join();
        if (limit == body.size()) {
            EXPECT_FALSE(piped.error);
            EXPECT_EQ(piped.bytes, body);
        } else {
            EXPECT_TRUE(piped.error);
        }
    }
#endif
}
