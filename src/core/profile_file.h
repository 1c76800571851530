#pragma once

#include "core/textfile.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kelvara {

// An INI ("profile") file with the platform's rules: "[Section]" headers and "key=value" lines;
// section and key names ignore letter case and surrounding blanks; the first of two equal keys
// wins; a missing file reads as empty. Writing a key replaces its line or adds it at the end of
// its section (the section at the end of the file), and keeps every other line as it was.
class ProfileFile {
public:
    ProfileFile(QString path, AnsiCodec codec);

    // Reads the file; a missing file is an empty profile.
    std::optional<FileError> load();
    void loadText(QStringView text);

    const QString& path() const { return path_; }
    std::optional<QString> value(QStringView section, QStringView key) const;
    QString readString(QStringView section, QStringView key, const QString& def = {}) const;
    // A value that is not a 32-bit integer (decimal, or hexadecimal with "0x" or "$") reads as
    // the default.
    int readInteger(QStringView section, QStringView key, int def) const;
    void writeString(QStringView section, QStringView key, const QString& value);

    // Writes the whole file in UTF-8 with a byte-order mark, replacing it atomically, readable
    // and writable by its owner only (it may hold a key). The code page only reads files
    // without a mark.
    std::optional<FileError> flush() const;
    QStringList lines() const { return lines_; }

private:
    qsizetype findSection(QStringView section) const;  // index of its header line, or -1
    qsizetype findKey(qsizetype header, QStringView key) const;
    qsizetype sectionEnd(qsizetype header) const;

    QString path_;
    AnsiCodec codec_;
    QStringList lines_;
};

// Parses a 32-bit integer the way the settings are read; nullopt when it is not one.
std::optional<int> parseInteger(QStringView text);

}  // namespace kelvara
