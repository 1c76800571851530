#include "core/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace kelvara {

AnsiCodec::AnsiCodec(QByteArray codePage) : name_(std::move(codePage)) {}

QString AnsiCodec::decode(QByteArrayView bytes) const {
    QStringDecoder decoder(name_.constData());
    if (!decoder.isValid()) {
        return QString::fromLatin1(bytes);
    }
    return decoder.decode(bytes);
}

QByteArray AnsiCodec::encode(QStringView text, bool* lossless) const {
    QStringEncoder encoder(name_.constData());
    if (!encoder.isValid()) {
        encoder = QStringEncoder(QStringConverter::Latin1);
    }
    QByteArray out = encoder.encode(text);
    const bool ok = !encoder.hasError();
    if (lossless) {
        *lossless = ok;
    }
    if (!ok) {
        // The converter marks what it could not convert with SUB (0x1A); the system's own
        // conversion writes "?" there. A genuine U+001A in the text keeps its byte.
        if (!text.contains(QChar(0x1A))) {
            out.replace('\x1a', '?');
        } else {
            out.clear();
            for (qsizetype i = 0; i < text.size(); ++i) {
                const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
                QStringEncoder one(name_.constData());
                if (!one.isValid()) {
                    one = QStringEncoder(QStringConverter::Latin1);
                }
                QByteArray b = one.encode(text.mid(i, n));
                out += one.hasError() ? QByteArray("?") : b;
                i += n - 1;
            }
        }
    }
    return out;
}

QString decodeTextFile(QByteArrayView bytes, const AnsiCodec& codec) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(bytes.sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder d(QStringConverter::Utf16LE);
        return d.decode(bytes.sliced(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringConverter::Utf16BE);
        return d.decode(bytes.sliced(2));
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

ReadResult readWholeFile(const QString& path) {
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
    r.bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        r.error = FileError{path, f.errorString(), QStringLiteral("read")};
        r.bytes.clear();
    }
    return r;
}

std::optional<FileError> writeBytesAtomically(const QString& path, QByteArrayView bytes) {
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
    if (f.write(bytes.data(), bytes.size()) != bytes.size()) {
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

std::optional<FileError> writeTextFile(const QString& path, const QStringList& lines,
                                       const AnsiCodec& codec, Fallback fallback,
                                       bool* wroteUtf8) {
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
