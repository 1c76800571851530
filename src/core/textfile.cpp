#include "core/textfile.h"

#include "core/codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvara {

struct AnsiCodec::SingleByteTable {
    std::array<char16_t, 256> toUnicode{};
    std::vector<std::int16_t> fromUnicode = std::vector<std::int16_t>(65536, -1);
};

namespace {

// The table of a code page, or null when it is not a single-byte one. Built once per name.
const AnsiCodec::SingleByteTable* singleByteTable(const QByteArray& name) {
    static std::mutex mutex;
    static std::map<QByteArray, std::unique_ptr<AnsiCodec::SingleByteTable>> tables;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = tables.find(name);
    if (it != tables.end()) {
        return it->second.get();
    }
    std::unique_ptr<AnsiCodec::SingleByteTable> t;
    if (codePageKnown(name)) {
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b) {
            all[b] = char(b);
        }
        const QString whole = codePageDecode(name, all);
        bool single = whole.size() == 256;
        t = std::make_unique<AnsiCodec::SingleByteTable>();
        for (int b = 0; single && b < 256; ++b) {
            const QString s = codePageDecode(name, QByteArrayView(all.constData() + b, 1));
            single = s.size() == 1 && s[0] == whole[b];
            if (single) {
                t->toUnicode[size_t(b)] = s[0].unicode();
                // A byte the converter cannot map decodes to U+FFFD; nothing encodes to it.
                if (s[0].unicode() != 0xFFFD && t->fromUnicode[s[0].unicode()] < 0) {
                    t->fromUnicode[s[0].unicode()] = std::int16_t(b);
                }
            }
        }
        if (!single) {
            t.reset();
        }
    }
    const AnsiCodec::SingleByteTable* result = t.get();
    tables.emplace(name, std::move(t));
    return result;
}

}  // namespace

AnsiCodec::AnsiCodec(QByteArray codePage)
    : name_(std::move(codePage)), table_(singleByteTable(name_)) {}

QString AnsiCodec::decode(QByteArrayView bytes) const {
    if (table_) {
        QString out(bytes.size(), Qt::Uninitialized);
        char16_t* d = reinterpret_cast<char16_t*>(out.data());
        const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            d[i] = table_->toUnicode[s[i]];
        }
        return out;
    }
    return codePageDecode(name_, bytes);
}

QByteArray AnsiCodec::encode(QStringView text, bool* lossless) const {
    if (table_) {
        QByteArray out(text.size(), Qt::Uninitialized);
        char* d = out.data();
        bool ok = true;
        qsizetype n = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            const std::int16_t b = table_->fromUnicode[c];
            if (b >= 0) {
                d[n++] = char(b);
                continue;
            }
            ok = false;
            d[n++] = '?';
            // A surrogate pair is one character: one "?".
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                ++i;
            }
        }
        out.truncate(n);
        if (lossless) {
            *lossless = ok;
        }
        return out;
    }
    return codePageEncode(name_, text, lossless);
}

namespace {

// Unpaired surrogates of a UTF-16 file are no characters, and no encoding could write them back
// (they would come back as other text): they become U+FFFD, as invalid UTF-8 does.
QString withoutLoneSurrogates(QString text) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
        }
    }
    return text;
}

}  // namespace

QString decodeTextFile(QByteArrayView bytes, const AnsiCodec& codec) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(bytes.sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder d(QStringConverter::Utf16LE);
        return withoutLoneSurrogates(d.decode(bytes.sliced(2)));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringConverter::Utf16BE);
        return withoutLoneSurrogates(d.decode(bytes.sliced(2)));
    }
    return codec.decode(bytes);
}

bool isNonAsciiUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p != end && *p < 0x80) {
        ++p;
    }
    if (p == end) {
        return false;
    }
    // Well-formed UTF-8 as RFC 3629 has it: no overlong forms, no surrogates, nothing past
    // U+10FFFF, no sequence cut off at the end. (The converter replaces such bytes silently.)
    while (p != end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (end - p <= more || p[1] < low || p[1] > high) {
            return false;
        }
        for (int k = 2; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80) {
                return false;
            }
        }
        p += more + 1;
    }
    return true;
}

QString decodeTextFileDetectingUtf8(QByteArrayView bytes, const AnsiCodec& codec) {
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
        bytes.startsWith("\xFE\xFF")) {
        return decodeTextFile(bytes, codec);
    }
    if (isNonAsciiUtf8(bytes)) {
        return QString::fromUtf8(bytes);
    }
    return codec.decode(bytes);
}

QStringList splitLines(QStringView text) {
    QStringList out;
    forEachLine(text, [&out](QStringView l) { out.append(l.toString()); });
    return out;
}

QString FileError::message() const {
    const QString verb = action.isEmpty() ? QStringLiteral("use") : action;
    return QStringLiteral("Cannot %1 the file \"%2\": %3").arg(verb, path, reason);
}

namespace {

QString sizeText(qint64 bytes) {
    if (bytes >= (qint64(1) << 20) && bytes % (qint64(1) << 20) == 0) {
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    }
    return QStringLiteral("%1 bytes").arg(bytes);
}

}  // namespace

ReadResult readWholeFile(const QString& path, qint64 limit) {
    ReadResult r;
    QFileInfo info(path);
    if (!info.exists()) {
        r.missing = true;
        return r;
    }
    if (info.isDir()) {
        r.error = FileError{path, QStringLiteral("it is a directory"), QStringLiteral("read")};
        return r;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        r.error = FileError{path, f.errorString(), QStringLiteral("read")};
        return r;
    }
    const auto tooLarge = [&] {
        r.error = FileError{path, QStringLiteral("it holds more than %1").arg(sizeText(limit)),
                            QStringLiteral("read")};
        r.bytes = QByteArray();
    };
    if (!f.isSequential() && f.size() > limit) {
        tooLarge();
        return r;
    }
    // Read in pieces: a device or a pipe has no size, and a file may grow while it is read.
    constexpr qint64 kPiece = qint64(1) << 20;
    if (!f.isSequential()) {
        // Room for the last, empty read too, so the whole file is never copied once more.
        r.bytes.reserve(qsizetype(f.size() + kPiece));
    }
    for (;;) {
        const qint64 room = std::min(kPiece, limit + 1 - qint64(r.bytes.size()));
        const qsizetype at = r.bytes.size();
        r.bytes.resize(at + qsizetype(room));
        const qint64 got = f.read(r.bytes.data() + at, room);
        if (got < 0) {
            r.error = FileError{path, f.errorString(), QStringLiteral("read")};
            r.bytes = QByteArray();
            return r;
        }
        r.bytes.resize(at + qsizetype(got));
        if (qint64(r.bytes.size()) > limit) {
            tooLarge();
            return r;
        }
        if (got == 0) {  // the end: reads from a pipe wait for the writer
            break;
        }
    }
    return r;
}

std::optional<FileError> writeBytesAtomically(const QString& path, QByteArrayView bytes,
                                              FileAccess access) {
    const QFileInfo info(path);
    if (info.isDir()) {
        return FileError{path, QStringLiteral("it is a directory"), QStringLiteral("write")};
    }
    if (info.exists() && !info.isFile()) {
        // A device or a pipe: replacing it by a file would be wrong, so write into it.
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes.data(), bytes.size()) != bytes.size() ||
            !f.flush()) {
            return FileError{path, f.errorString(), QStringLiteral("write")};
        }
        return std::nullopt;
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return FileError{path, f.errorString(), QStringLiteral("write")};
    }
    // The new file takes the old one's permissions; a file with the key must not keep "everyone
    // may read" from an older version. Set before a byte of it is written.
    if (access == FileAccess::OwnerOnly &&
        !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString reason = f.errorString();
        f.cancelWriting();
        return FileError{path, reason, QStringLiteral("write")};
    }
    // A small write only fills the buffer; its failure (a full disk) shows at the flush, and
    // commit() would not report it but replace the old file with an empty one.
    if (f.write(bytes.data(), bytes.size()) != bytes.size() || !f.flush()) {
        const QString reason = f.errorString();
        f.cancelWriting();
        return FileError{path, reason, QStringLiteral("write")};
    }
    if (!f.commit()) {
        return FileError{path, f.errorString(), QStringLiteral("write")};
    }
    return std::nullopt;
}

std::optional<FileError> writeText(const QString& path, QStringView text, const AnsiCodec& codec,
                                   Fallback fallback, bool* wroteUtf8) {
    bool lossless = true;
    QByteArray bytes = codec.encode(text, &lossless);
    const bool utf8 = !lossless && fallback == Fallback::Utf8WithBom;
    if (utf8) {
        bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    }
    if (wroteUtf8) {
        *wroteUtf8 = utf8;
    }
    return writeBytesAtomically(path, bytes);
}

std::optional<FileError> writeUtf8Text(const QString& path, QStringView text, FileAccess access) {
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += text.toUtf8();
    return writeBytesAtomically(path, bytes, access);
}

std::optional<FileError> writeTextFile(const QString& path, const QStringList& lines,
                                       const AnsiCodec& codec, Fallback fallback, bool* wroteUtf8) {
    QString text;
    qsizetype size = 0;
    for (const QString& l : lines) {
        size += l.size() + 2;
    }
    text.reserve(size);
    for (const QString& l : lines) {
        text += l;
        text += u"\r\n";
    }
    return writeText(path, text, codec, fallback, wroteUtf8);
}

}  // namespace kelvara
