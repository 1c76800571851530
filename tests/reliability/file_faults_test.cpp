// The files the program writes (cache.txt, settings.ini, the CSV export) when the disk will not
// take them: a read-only folder, a full disk, a device that is always full, a directory where the
// file should be, a folder that is a file. In every case the write fails with a message that
// names the file and the reason, the old file stays byte for byte as it was, nothing is left
// beside it, and the same data can still be written elsewhere.

#include "clustering/cluster.h"
#include "core/profile_file.h"
#include "reliability/fault_folders.h"
#include "search/cache.h"
#include "search/regions.h"
#include "support/temp_dir.h"
#include "table/csv_export.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <functional>

#include <sys/stat.h>

namespace kelvara {
namespace {

using test::TempDir;

const AnsiCodec kCodec("windows-1251");
const Stamp kNow = stampFromLocal(QDate(2026, 12, 9), 12 * 3600'000LL);

// A store big enough that its files do not fit in what a full disk has left.
ResultStore sampleStore() {
    ResultStore store;
    for (int q = 0; q < 200; ++q) {
        auto e = std::make_unique<TSerpEntry>(kNow - q);
        for (int u = 0; u < 10; ++u) {
            e->Urls.add(u"https://site"_qs + QString::number((q + u) % 37) + u".example/page/"_qs +
                        QString::number(u));
        }
        store.add(u"купить кофе номер "_qs + QString::number(q), std::move(e));
    }
    return store;
}

ClusterList sampleClusters(const ResultStore& store) {
    ClusterList clusters{{u"кофе"_qs, {}}, {unsortedCaption(), {}}};
    for (qsizetype i = 0; i < store.size(); ++i) {
        clusters[size_t(i % 2)].phrases.append(store[i].text);
    }
    return clusters;
}

// One of the files the program writes: its name, what an earlier run left in it, and the write.
struct ProgramFile {
    const char* name;
    QByteArray oldBytes;
    std::function<std::optional<FileError>(const QString& path)> write;
};

std::vector<ProgramFile> programFiles(const ResultStore& store) {
    return {
        {"cache.txt", "63907099200000;старый запрос;https://old.example/\r\n",
         [&store](const QString& path) { return SaveCache(store, path); }},
        {"settings.ini", "[CONFIG]\r\nYandexURL=https://old.example/xml?user=u\r\nRegion=2\r\n",
         [](const QString& path) {
             // As at shut-down: what start-up read, with the keys changed, flushed.
             ProfileFile cfg(path, kCodec);
             cfg.loadText(kCodec.decode(
                 "[CONFIG]\r\nYandexURL=https://old.example/xml?user=u\r\nRegion=2\r\n"));
             cfg.writeString(
                 u"CONFIG", u"YandexURL",
                 u"https://yandex.example/search/xml?user=u&key="_qs + QString(5000, u'k'));
             cfg.writeString(u"CONFIG", u"HardMode", u"1"_qs);
             return cfg.flush();
         }},
        {"grouped.csv", "old export;\r\n",
         [&store](const QString& path) {
             return ExportCsv(path, sampleClusters(store), store, UiLanguage::Russian, kCodec);
         }},
    };
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What a failed write must give: an error that says which file and why.
void expectClearError(const std::optional<FileError>& error, const QString& path) {
    ASSERT_TRUE(error.has_value()) << path.toStdString() << " was written";
    EXPECT_EQ(error->path, path);
    EXPECT_FALSE(error->reason.trimmed().isEmpty());
    const QString message = error->message();
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(message.contains(error->reason)) << message.toStdString();
}

// Writes every program file into `folder` where the old ones lie, expecting each write to fail
// and leave the folder as it was.
void expectFailedWritesChangeNothing(const QString& folder, const std::vector<ProgramFile>& files) {
    const QStringList before =
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const ProgramFile& file : files) {
        SCOPED_TRACE(file.name);
        const QString path = folder + u'/' + QString::fromUtf8(file.name);
        expectClearError(file.write(path), path);
        EXPECT_EQ(bytesOf(path), file.oldBytes);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              before);
}

// The program goes on: the same data is written fine to a folder that takes it.
void expectWritableElsewhere(const std::vector<ProgramFile>& files, const ResultStore& store) {
    TempDir good;
    for (const ProgramFile& file : files) {
        SCOPED_TRACE(file.name);
        const QString path = good.path(QString::fromUtf8(file.name));
        EXPECT_FALSE(file.write(path).has_value());
        EXPECT_GT(QFileInfo(path).size(), 0);
    }
    ResultStore reloaded;
    ASSERT_FALSE(LoadCache(reloaded, good.path(u"cache.txt"_qs), kNow, kCodec));
    EXPECT_EQ(reloaded.size(), store.size());
}

std::vector<std::pair<QString, QByteArray>> oldFiles(const std::vector<ProgramFile>& files) {
    std::vector<std::pair<QString, QByteArray>> out;
    for (const ProgramFile& f : files) {
        out.emplace_back(QString::fromUtf8(f.name), f.oldBytes);
    }
    return out;
}

TEST(FileFaults, ReadOnlyFolderKeepsTheOldFiles) {
    const ResultStore store = sampleStore();
    const std::vector<ProgramFile> files = programFiles(store);
    TempDir dir;
    const QString folder = dir.path(u"program"_qs);
    QString whyNot;
    const auto readOnly = test::ReadOnlyFolder::create(folder, oldFiles(files), &whyNot);
    if (!readOnly) {
        GTEST_SKIP() << whyNot.toStdString();
    }
    expectFailedWritesChangeNothing(folder, files);

    // What is there still reads.
    ProfileFile cfg(folder + u"/settings.ini"_qs, kCodec);
    EXPECT_FALSE(cfg.load());
    EXPECT_EQ(cfg.readString(u"CONFIG", u"YandexURL"), u"https://old.example/xml?user=u"_qs);
    expectWritableElsewhere(files, store);
}

TEST(FileFaults, FullDiskKeepsTheOldFiles) {
    const ResultStore store = sampleStore();
    const std::vector<ProgramFile> files = programFiles(store);
    TempDir dir;
    const QString folder = dir.path(u"program"_qs);
    QString whyNot;
    const auto disk = test::ScratchMount::create(folder, 256 * 1024, &whyNot);
    if (!disk) {
        GTEST_SKIP() << "no tiny tmpfs: " << whyNot.toStdString();
    }
    for (const ProgramFile& file : files) {
        QFile f(folder + u'/' + QString::fromUtf8(file.name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(file.oldBytes), file.oldBytes.size());
    }
    ASSERT_TRUE(disk->fill(&whyNot)) << whyNot.toStdString();
    expectFailedWritesChangeNothing(folder, files);
    expectWritableElsewhere(files, store);
}

// A target that is a device, not a file, is written into, never replaced by a file: the device
// stays a device and the error of the write is reported.
TEST(FileFaults, AlwaysFullDeviceIsReportedAndNotReplaced) {
    const ResultStore store = sampleStore();
    TempDir dir;
    for (const ProgramFile& file : programFiles(store)) {
        SCOPED_TRACE(file.name);
        const QString path = dir.path(QString::fromUtf8(file.name));
        QString whyNot;
        if (!test::makeFullDevice(path, &whyNot)) {
            GTEST_SKIP() << "no device node like /dev/full: " << whyNot.toStdString();
        }
        expectClearError(file.write(path), path);
#ifndef Q_OS_WIN  // makeFullDevice always says why not there
        struct stat st {};
        ASSERT_EQ(lstat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";
#endif
    }
}

TEST(FileFaults, DirectoryWhereTheFileShouldBe) {
    const ResultStore store = sampleStore();
    const std::vector<ProgramFile> files = programFiles(store);
    TempDir dir;
    for (const ProgramFile& file : files) {
        SCOPED_TRACE(file.name);
        const QString path = dir.path(QString::fromUtf8(file.name));
        ASSERT_TRUE(QDir().mkpath(path + u"/inside"_qs));
        dir.write(QString::fromUtf8(file.name) + u"/kept.txt"_qs, "someone's file");
        expectClearError(file.write(path), path);
        EXPECT_TRUE(QFileInfo(path).isDir());
        EXPECT_EQ(dir.read(QString::fromUtf8(file.name) + u"/kept.txt"_qs), "someone's file");
    }

    // Reading them: the error names the file; the store and the settings stay empty and usable.
    ResultStore loaded;
    const QString cachePath = dir.path(u"cache.txt"_qs);
    expectClearError(LoadCache(loaded, cachePath, kNow, kCodec), cachePath);
    EXPECT_TRUE(loaded.empty());
    const QString iniPath = dir.path(u"settings.ini"_qs);
    ProfileFile cfg(iniPath, kCodec);
    expectClearError(cfg.load(), iniPath);
    EXPECT_EQ(cfg.readInteger(u"CONFIG", u"Region", 213), 213);
    expectWritableElsewhere(files, store);
}

// Settings and regions read from a device that never ends (a path someone pointed at /dev/zero):
// refused at their limit with the file's name; the defaults stand and the program goes on.
TEST(FileFaults, EndlessDeviceIsRefusedWhenRead) {
    if (!QFileInfo::exists(u"/dev/zero"_qs)) {
        GTEST_SKIP() << "no /dev/zero";
    }
    TempDir dir;
    const QString iniPath = dir.path(u"settings.ini"_qs);
    const QString regionsPath = dir.path(u"regions.txt"_qs);
    ASSERT_TRUE(QFile::link(u"/dev/zero"_qs, iniPath));
    ASSERT_TRUE(QFile::link(u"/dev/zero"_qs, regionsPath));
    ProfileFile cfg(iniPath, kCodec);
    expectClearError(cfg.load(), iniPath);
    EXPECT_EQ(cfg.readInteger(u"CONFIG", u"Region", 213), 213);
    const RegionsResult regions = LoadRegions(regionsPath, kCodec);
    expectClearError(regions.error, regionsPath);
    EXPECT_TRUE(regions.items.empty());
}

// A folder in the path that is a regular file: no one, root included, can create a file there.
TEST(FileFaults, FolderThatIsAFile) {
    const ResultStore store = sampleStore();
    const std::vector<ProgramFile> files = programFiles(store);
    TempDir dir;
    dir.write(u"program"_qs, "a file, not a folder");
    for (const ProgramFile& file : files) {
        SCOPED_TRACE(file.name);
        const QString path = dir.path(u"program/"_qs + QString::fromUtf8(file.name));
        expectClearError(file.write(path), path);
    }
    EXPECT_EQ(dir.read(u"program"_qs), "a file, not a folder");
    EXPECT_EQ(QDir(dir.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{u"program"_qs});
    expectWritableElsewhere(files, store);
}

}  // namespace
}  // namespace kelvara
