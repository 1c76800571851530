#include "core/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

#ifdef Q_OS_WIN
#include "core/windows_api.h"
#endif

namespace kelvara {

namespace {

// What Qt converts by itself on every platform (UTF-8, UTF-16, UTF-32, Latin-1).
std::optional<QStringConverter::Encoding> builtInEncoding(const QByteArray& name) {
    return QStringConverter::encodingForName(name.constData());
}

// Qt's encoder marks what it cannot convert with SUB (0x1A), where the system's own conversion
// writes "?". A genuine U+001A in the text keeps its byte.
QByteArray encodeWithQt(QStringEncoder encoder, const QByteArray& name, QStringView text,
                        bool* lossless) {
    QByteArray out = encoder.encode(text);
    // Some converters substitute without reporting it: a SUB the text did not hold is a loss.
    const bool ok = !encoder.hasError() && out.count('\x1a') == text.count(QChar(0x1A));
    if (lossless) {
        *lossless = ok;
    }
    if (ok) {
        return out;
    }
    if (!text.contains(QChar(0x1A))) {
        out.replace('\x1a', '?');
        return out;
    }
    out.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QStringEncoder one(name.constData());
        if (!one.isValid()) {
            one = QStringEncoder(QStringConverter::Latin1);
        }
        QByteArray b = one.encode(text.mid(i, n));
        out += one.hasError() ? QByteArray("?") : b;
        i += n - 1;
    }
    return out;
}

#ifdef Q_OS_WIN

// The Windows code page number of a name, or nullopt when the system has no such code page.
std::optional<UINT> windowsCodePage(const QByteArray& name) {
    const QByteArray n = name.trimmed().toLower();
    struct Alias {
        const char* name;
        UINT codePage;
    };
    static const Alias aliases[] = {
        {"shift_jis", 932},        {"sjis", 932},      {"windows-31j", 932}, {"gbk", 936},
        {"gb2312", 936},           {"big5", 950},      {"euc-kr", 949},      {"koi8-r", 20866},
        {"koi8-u", 21866},         {"ibm866", 866},    {"us-ascii", 20127},  {"macintosh", 10000},
        {"x-mac-cyrillic", 10007}, {"gb18030", 54936},
    };
    std::optional<UINT> cp;
    for (const Alias& a : aliases) {
        if (n == a.name) {
            cp = a.codePage;
        }
    }
    const auto numberAfter = [&n](const char* prefix) -> std::optional<UINT> {
        if (!n.startsWith(prefix)) {
            return std::nullopt;
        }
        bool ok = false;
        const uint v = n.mid(qsizetype(qstrlen(prefix))).toUInt(&ok);
        return ok && v > 0 && v < 65536 ? std::optional<UINT>(v) : std::nullopt;
    };
    if (!cp) {
        if (auto v = numberAfter("iso-8859-")) {
            cp = 28590 + *v;  // iso-8859-1 is 28591, iso-8859-15 is 28605
        }
    }
    for (const char* prefix : {"windows-", "cp-", "cp", "ibm"}) {
        if (!cp) {
            cp = numberAfter(prefix);
        }
    }
    if (!cp || !IsValidCodePage(*cp)) {
        return std::nullopt;
    }
    return cp;
}

// Code pages whose conversion takes no default character (GB18030, the ISO-2022 and
// UTF-7 families): everything converts, or the call fails.
bool takesNoDefaultChar(UINT cp) {
    return cp == 54936 || cp == 65000 || (cp >= 50220 && cp <= 50229) || cp == 52936;
}

QString decodeWindows(UINT cp, QByteArrayView bytes) {
    if (bytes.isEmpty()) {
        return {};
    }
    QString out;
    // Converted in pieces below INT_MAX bytes; a split double-byte character is rare enough
    // in a piece of a gigabyte that it does not earn its own handling.
    constexpr qsizetype kPiece = qsizetype(1) << 30;
    for (qsizetype at = 0; at < bytes.size(); at += kPiece) {
        const QByteArrayView piece = bytes.sliced(at, std::min(kPiece, bytes.size() - at));
        const int n = MultiByteToWideChar(cp, 0, piece.data(), int(piece.size()), nullptr, 0);
        if (n <= 0) {
            out += QString::fromLatin1(piece);
            continue;
        }
        const qsizetype start = out.size();
        out.resize(start + n);
        MultiByteToWideChar(cp, 0, piece.data(), int(piece.size()),
                            reinterpret_cast<wchar_t*>(out.data() + start), n);
    }
    return out;
}

QByteArray encodeWindows(UINT cp, QStringView text, bool* lossless) {
    if (lossless) {
        *lossless = true;
    }
    if (text.isEmpty()) {
        return {};
    }
    const bool noDefault = takesNoDefaultChar(cp);
    const DWORD flags = noDefault ? 0 : WC_NO_BEST_FIT_CHARS;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    QByteArray out;
    constexpr qsizetype kPiece = qsizetype(1) << 28;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype len = std::min(kPiece, text.size() - at);
        // Never split a surrogate pair between two pieces.
        if (at + len < text.size() && text[at + len - 1].isHighSurrogate()) {
            --len;
        }
        BOOL usedDefault = FALSE;
        const int n =
            WideCharToMultiByte(cp, flags, wide + at, int(len), nullptr, 0,
                                noDefault ? nullptr : "?", noDefault ? nullptr : &usedDefault);
        if (n > 0) {
            const qsizetype start = out.size();
            out.resize(start + n);
            WideCharToMultiByte(cp, flags, wide + at, int(len), out.data() + start, n,
                                noDefault ? nullptr : "?", noDefault ? nullptr : &usedDefault);
        }
        if ((n <= 0 || usedDefault) && lossless) {
            *lossless = false;
        }
        at += len;
    }
    return out;
}

#endif

}  // namespace

bool codePageKnown(const QByteArray& name) {
    if (name.isEmpty()) {
        return false;
    }
    if (builtInEncoding(name)) {
        return true;
    }
#ifdef Q_OS_WIN
    return windowsCodePage(name).has_value();
#else
    return QStringDecoder(name.constData()).isValid() && QStringEncoder(name.constData()).isValid();
#endif
}

QString codePageDecode(const QByteArray& name, QByteArrayView bytes) {
#ifdef Q_OS_WIN
    if (!builtInEncoding(name)) {
        if (const auto cp = windowsCodePage(name)) {
            return decodeWindows(*cp, bytes);
        }
        return QString::fromLatin1(bytes);
    }
#endif
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid()) {
        return QString::fromLatin1(bytes);
    }
    return decoder.decode(bytes);
}

QByteArray codePageEncode(const QByteArray& name, QStringView text, bool* lossless) {
#ifdef Q_OS_WIN
    if (!builtInEncoding(name)) {
        if (const auto cp = windowsCodePage(name)) {
            return encodeWindows(*cp, text, lossless);
        }
        return encodeWithQt(QStringEncoder(QStringConverter::Latin1), name, text, lossless);
    }
#endif
    QStringEncoder encoder(name.constData());
    if (!encoder.isValid()) {
        encoder = QStringEncoder(QStringConverter::Latin1);
    }
    return encodeWithQt(std::move(encoder), name, text, lossless);
}

}  // namespace kelvara
