#pragma once

#include <gtest/gtest.h>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace kelvara::test {

// A scratch folder for one test, removed afterwards.
class TempDir {
public:
    TempDir() { EXPECT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path(name);
    }
    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString root() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

}  // namespace kelvara::test
