#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace kelvara {

// Conversion between the ANSI code page and UTF-16, by code page name.
class AnsiCodec {
public:
    explicit AnsiCodec(QByteArray codePage = "windows-1252");
    const QByteArray& name() const { return name_; }

    QString decode(QByteArrayView bytes) const;
    // Characters the code page cannot hold become "?". *lossless tells whether none did.
    QByteArray encode(QStringView text, bool* lossless = nullptr) const;
    // Text -> code page -> text: what survives a trip through the code page.
    QString roundTrip(QStringView text) const { return decode(encode(text)); }

    // Single-byte code pages (the windows-125x family and the like) convert through a table
    // built once from the converter; others go through the converter.
    struct SingleByteTable;

private:
    QByteArray name_;
    const SingleByteTable* table_ = nullptr;
};

// A file's bytes as text: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark is honoured and
// skipped, otherwise the bytes are in the ANSI code page.
QString decodeTextFile(QByteArrayView bytes, const AnsiCodec& codec);
// The same for a file made by another program: without a mark, bytes that are valid UTF-8 and
// not plain ASCII are UTF-8 (what today's spreadsheets save), anything else is in the code page.
QString decodeTextFileDetectingUtf8(QByteArrayView bytes, const AnsiCodec& codec);
// Whether the bytes are valid UTF-8 holding at least one byte outside ASCII.
bool isNonAsciiUtf8(QByteArrayView bytes);

// Calls f(QStringView line) for each line; lines end at CR LF, LF or CR. A text ending with a
// line break has no extra empty line after it.
template <class F>
void forEachLine(QStringView text, F&& f) {
    const char16_t* p = text.utf16();
    const char16_t* end = p + text.size();
    const char16_t* start = p;
    while (p != end) {
        const char16_t c = *p;
        if (c == u'\r' || c == u'\n') {
            f(QStringView(start, p - start));
            ++p;
            if (c == u'\r' && p != end && *p == u'\n') {
                ++p;
            }
            start = p;
        } else {
            ++p;
        }
    }
    if (start != end) {
        f(QStringView(start, end - start));
    }
}
QStringList splitLines(QStringView text);

// A file error in words a user can act on: the file's name and the system's reason.
struct FileError {
    QString path;
    QString reason;
    QString message() const;  // Cannot ... "path": reason
    QString action;           // "read" or "write"
};

// Reads a whole file. A missing file is reported as such, so callers can treat it as normal.
// A file, pipe or device that holds more than `limit` bytes is an error, so a path that names
// /dev/zero or a runaway log cannot take all memory; what was read is dropped then.
struct ReadResult {
    QByteArray bytes;
    bool missing = false;
    std::optional<FileError> error;
};
inline constexpr qint64 kDefaultReadLimit = qint64(2) << 30;     // 2 GiB
inline constexpr qint64 kSmallFileReadLimit = qint64(16) << 20;  // settings, regions: 16 MiB
ReadResult readWholeFile(const QString& path, qint64 limit = kDefaultReadLimit);

enum class Fallback {
    None,        // characters outside the code page are written as "?"
    Utf8WithBom  // then the whole file is written as UTF-8 with a byte-order mark instead
};

// Writes lines, each followed by CR LF, in the code page and without a byte-order mark; the file
// is replaced atomically, so a failed write leaves the old file whole.
std::optional<FileError> writeTextFile(const QString& path, const QStringList& lines,
                                       const AnsiCodec& codec, Fallback fallback,
                                       bool* wroteUtf8 = nullptr);
// The same for text already joined, every line ending with CR LF.
std::optional<FileError> writeText(const QString& path, QStringView text, const AnsiCodec& codec,
                                   Fallback fallback, bool* wroteUtf8 = nullptr);
// Who may read a file the program writes: everyone the user's umask allows, or (for a file that
// can hold the service key) the owner alone, whatever the file allowed before.
enum class FileAccess { Default, OwnerOnly };
std::optional<FileError> writeBytesAtomically(const QString& path, QByteArrayView bytes,
                                              FileAccess access = FileAccess::Default);
// The program's own files: UTF-8 with a byte-order mark whatever the locale, so that a file
// written under one code page reads the same under any other (older versions honour the mark).
// The text's lines end with CR LF already.
std::optional<FileError> writeUtf8Text(const QString& path, QStringView text,
                                       FileAccess access = FileAccess::Default);

}  // namespace kelvara
