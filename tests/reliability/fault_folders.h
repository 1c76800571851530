#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

namespace kelvara::test {

// A small tmpfs of the test's own, mounted over a folder in a mount namespace private to this
// thread: nothing of it is seen outside the test, and nothing is left behind if the test dies.
// Needs the right to mount (root, or a container that grants it); create() says why not.
class ScratchMount {
public:
    static std::unique_ptr<ScratchMount> create(const QString& folder, qsizetype bytes,
                                                QString* whyNot);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    // Mounts it again read-only: every write then fails, for root too.
    bool makeReadOnly(QString* whyNot);
    // Fills what space is left, so that the next write of a byte fails.
    bool fill(QString* whyNot);

private:
    explicit ScratchMount(QString folder) : folder_(std::move(folder)) {}
    QString folder_;
};

// A folder whose files cannot be written or replaced: a read-only mount when the test may mount,
// else (for a user other than root, whom permission bits stop) the folder's write bit taken
// away. Null when neither works; whyNot says why.
class ReadOnlyFolder {
public:
    // The files are written first; the folder becomes read-only with them in it.
    static std::unique_ptr<ReadOnlyFolder> create(
        const QString& folder, const std::vector<std::pair<QString, QByteArray>>& files,
        QString* whyNot);
    ~ReadOnlyFolder();

private:
    ReadOnlyFolder() = default;
    QString folder_;
    std::unique_ptr<ScratchMount> mount_;
};

// Creates a character device that behaves as /dev/full (every write fails with "no space") at
// `path`, for a target that must not be replaced by a file. False (whyNot set) where device nodes
// cannot be made or opened.
bool makeFullDevice(const QString& path, QString* whyNot);

}  // namespace kelvara::test
