#include "reliability/fault_folders.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#ifdef __linux__
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace kelvara::test {

#ifdef __linux__

namespace {

QString systemError(const char* what) {
    return QString::fromUtf8(what) + u": "_qs + QString::fromLocal8Bit(std::strerror(errno));
}

// Once per thread: a mount namespace of our own whose mounts do not propagate back.
bool privateMountNamespace(QString* whyNot) {
    thread_local int state = 0;  // 0 not tried, 1 done, -1 failed
    thread_local QString failure;
    if (state == 0) {
        if (unshare(CLONE_NEWNS) != 0) {
            failure = systemError("unshare(CLONE_NEWNS)");
            state = -1;
        } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            failure = systemError("making the mounts private");
            state = -1;
        } else {
            state = 1;
        }
    }
    if (state < 0 && whyNot) {
        *whyNot = failure;
    }
    return state > 0;
}

}  // namespace

std::unique_ptr<ScratchMount> ScratchMount::create(const QString& folder, qsizetype bytes,
                                                   QString* whyNot) {
    if (!QDir().mkpath(folder)) {
        *whyNot = u"cannot make "_qs + folder;
        return nullptr;
    }
    if (!privateMountNamespace(whyNot)) {
        return nullptr;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    if (mount("kelvara-test", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID,
              options.constData()) != 0) {
        *whyNot = systemError("mount -t tmpfs");
        return nullptr;
    }
    return std::unique_ptr<ScratchMount>(new ScratchMount(folder));
}

ScratchMount::~ScratchMount() {
    umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
}

bool ScratchMount::makeReadOnly(QString* whyNot) {
    if (mount(nullptr, QFile::encodeName(folder_).constData(), nullptr,
              MS_REMOUNT | MS_RDONLY | MS_NOSUID, nullptr) != 0) {
        *whyNot = systemError("mount -o remount,ro");
        return false;
    }
    return true;
}

bool ScratchMount::fill(QString* whyNot) {
    const QByteArray path = QFile::encodeName(folder_ + u"/filler"_qs);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        *whyNot = systemError("creating the filler");
        return false;
    }
    const QByteArray block(4096, 'x');
    // One byte at a time at the end, so that not even the last partial page is left.
    for (qsizetype chunk : {qsizetype(4096), qsizetype(1)}) {
        while (::write(fd, block.constData(), size_t(chunk)) == chunk) {
        }
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    if (!full) {
        *whyNot = systemError("filling the tmpfs");
    }
    return full;
}

std::unique_ptr<ReadOnlyFolder> ReadOnlyFolder::create(
    const QString& folder, const std::vector<std::pair<QString, QByteArray>>& files,
    QString* whyNot) {
    std::unique_ptr<ReadOnlyFolder> ro(new ReadOnlyFolder);
    ro->folder_ = folder;
    auto writeFiles = [&] {
        for (const auto& [name, bytes] : files) {
            QFile f(folder + u'/' + name);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
                return false;
            }
        }
        return true;
    };
    if (geteuid() != 0) {
        // Permission bits stop everyone but root.
        if (!QDir().mkpath(folder) || !writeFiles() ||
            chmod(QFile::encodeName(folder), 0555) != 0) {
            *whyNot = systemError("chmod 0555");
            return nullptr;
        }
        return ro;
    }
    QString noMount;
    ro->mount_ = ScratchMount::create(folder, 1 << 20, &noMount);
    if (!ro->mount_ || !writeFiles() || !ro->mount_->makeReadOnly(&noMount)) {
        *whyNot = u"root ignores permission bits, and no read-only mount: "_qs + noMount;
        return nullptr;
    }
    return ro;
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (!mount_) {
        chmod(QFile::encodeName(folder_), 0755);
    }
}

bool makeFullDevice(const QString& path, QString* whyNot) {
    const QByteArray name = QFile::encodeName(path);
    // The same device as /dev/full (major 1, minor 7), made here: /dev/full itself is never
    // touched, so a writer that wrongly replaced its target could do no harm.
    if (mknod(name.constData(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        *whyNot = systemError("mknod");
        return false;
    }
    const int fd = ::open(name.constData(), O_WRONLY);
    if (fd < 0) {
        *whyNot = systemError("opening the device node (a nodev mount?)");
        ::unlink(name.constData());
        return false;
    }
    const bool full = ::write(fd, "x", 1) < 0 && errno == ENOSPC;
    ::close(fd);
    if (!full) {
        *whyNot = u"the device node does not behave as /dev/full"_qs;
        ::unlink(name.constData());
    }
    return full;
}

#else

// Mount namespaces and device nodes are Linux's: elsewhere every fault folder says why not, and
// the tests that need one skip.
namespace {
const QString kLinuxOnly = QStringLiteral("needs Linux mount namespaces and device nodes");
}

std::unique_ptr<ScratchMount> ScratchMount::create(const QString&, qsizetype, QString* whyNot) {
    *whyNot = kLinuxOnly;
    return nullptr;
}
ScratchMount::~ScratchMount() = default;
bool ScratchMount::makeReadOnly(QString* whyNot) {
    *whyNot = kLinuxOnly;
    return false;
}
bool ScratchMount::fill(QString* whyNot) {
    *whyNot = kLinuxOnly;
    return false;
}
std::unique_ptr<ReadOnlyFolder> ReadOnlyFolder::create(
    const QString&, const std::vector<std::pair<QString, QByteArray>>&, QString* whyNot) {
    *whyNot = kLinuxOnly;
    return nullptr;
}
ReadOnlyFolder::~ReadOnlyFolder() = default;
bool makeFullDevice(const QString&, QString* whyNot) {
    *whyNot = kLinuxOnly;
    return false;
}
#endif

}  // namespace kelvara::test
