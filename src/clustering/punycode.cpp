#include "clustering/punycode.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace kelvara {

namespace {

constexpr std::uint32_t kBase = 36;
constexpr std::uint32_t kTMin = 1;
constexpr std::uint32_t kTMax = 26;
constexpr std::uint32_t kSkew = 38;
constexpr std::uint32_t kDamp = 700;
constexpr std::uint32_t kInitialBias = 72;
constexpr std::uint32_t kInitialN = 128;
constexpr char kDelimiter = '-';
constexpr std::uint32_t kMaxInt = std::numeric_limits<std::uint32_t>::max();

// A label is at most 63 bytes in a host name. Decoding inserts each code point into the output,
// which is quadratic in the label's length; a label this long is nothing a host can have, so it
// is not worth seconds of decoding and stays as it is.
constexpr qsizetype kLongestDecodedLabel = 1024;

std::uint32_t decodeDigit(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0' + 26u;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a';
    }
    return kBase;
}

std::uint32_t adapt(std::uint32_t delta, std::uint32_t numPoints, bool firstTime) {
    delta = firstTime ? delta / kDamp : delta >> 1;
    delta += delta / numPoints;
    std::uint32_t k = 0;
    while (delta > ((kBase - kTMin) * kTMax) / 2) {
        delta /= kBase - kTMin;
        k += kBase;
    }
    return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

qsizetype unitsOf(char32_t cp) {
    return cp > 0xFFFF ? 2 : 1;
}

unsigned codeOf(QChar c) {
    return c.unicode();
}
unsigned codeOf(char c) {
    return static_cast<unsigned char>(c);
}

// "xn--" with the two letters in either case (ASCII only).
template <class View>
bool startsWithAcePrefix(View label) {
    auto lower = [](unsigned c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    return label.size() >= 4 && lower(codeOf(label[0])) == 'x' && lower(codeOf(label[1])) == 'n' &&
           codeOf(label[2]) == '-' && codeOf(label[3]) == '-';
}

// The decoded text of a label, or null when it is not a decodable "xn--" label.
std::optional<QString> decodeLabel(QByteArrayView label) {
    if (label.size() < 5 || label.size() > kLongestDecodedLabel || !startsWithAcePrefix(label)) {
        return std::nullopt;
    }
    const QByteArrayView encoded = label.sliced(4);
    qsizetype needed = 0;
    if (PunycodeDecode(encoded, nullptr, 0, &needed) != pcSuccess) {
        return std::nullopt;
    }
    QString out(needed, Qt::Uninitialized);
    qsizetype written = 0;
    if (PunycodeDecode(encoded, reinterpret_cast<char16_t*>(out.data()), needed, &written) !=
        pcSuccess) {
        return std::nullopt;
    }
    out.truncate(written);
    return out;
}

}  // namespace

PunycodeResult PunycodeDecode(QByteArrayView input, char16_t* output, qsizetype capacity,
                              qsizetype* outputLength) {
    const bool measuring = output == nullptr;
    const qsizetype maxUnits = measuring ? std::numeric_limits<qsizetype>::max() : capacity;
    const qsizetype length = input.size();
    if (length >= qsizetype(kMaxInt)) {
        return pcOverflow;  // positions would not fit the 32-bit arithmetic
    }

    // The last delimiter ends the basic part; with none, everything is encoded.
    qsizetype b = 0;
    for (qsizetype j = 0; j < length; ++j) {
        if (input[j] == kDelimiter) {
            b = j;
        }
    }
    if (b > maxUnits) {
        return pcBigOutput;
    }
    // Code points, not UTF-16 units: the encoded positions count code points.
    std::vector<char32_t> points;
    points.reserve(size_t(length));
    qsizetype units = 0;
    for (qsizetype j = 0; j < b; ++j) {
        const auto c = static_cast<unsigned char>(input[j]);
        if (c >= 0x80) {
            return pcBadInput;
        }
        points.push_back(c);
        ++units;
    }

    std::uint32_t n = kInitialN;
    std::uint32_t i = 0;
    std::uint32_t bias = kInitialBias;
    for (qsizetype in = b > 0 ? b + 1 : 0; in < length;) {
        const std::uint32_t oldi = i;
        std::uint32_t w = 1;
        for (std::uint32_t k = kBase;; k += kBase) {
            if (in >= length) {
                return pcBadInput;
            }
            const std::uint32_t digit = decodeDigit(static_cast<unsigned char>(input[in++]));
            if (digit >= kBase) {
                return pcBadInput;
            }
            if (digit > (kMaxInt - i) / w) {
                return pcOverflow;
            }
            i += digit * w;
            const std::uint32_t t = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
            if (digit < t) {
                break;
            }
            if (w > kMaxInt / (kBase - t)) {
                return pcOverflow;
            }
            w *= kBase - t;
        }
        // The output cannot exceed the input's length, so its size fits 32 bits here.
        const auto outPlusOne = std::uint32_t(points.size() + 1);
        bias = adapt(i - oldi, outPlusOne, oldi == 0);
        if (i / outPlusOne > kMaxInt - n) {
            return pcOverflow;
        }
        n += i / outPlusOne;
        i %= outPlusOne;
        if (n > 0x10FFFF || (n >= 0xD800 && n <= 0xDFFF)) {
            return pcBadInput;
        }
        if (units + unitsOf(n) > maxUnits) {
            return pcBigOutput;
        }
        points.insert(points.begin() + i, char32_t(n));
        units += unitsOf(n);
        ++i;
    }

    if (!measuring) {
        char16_t* p = output;
        for (const char32_t cp : points) {
            if (cp > 0xFFFF) {
                *p++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
                *p++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                *p++ = char16_t(cp);
            }
        }
    }
    *outputLength = units;
    return pcSuccess;
}

QString PunycodeToUnicode(QByteArrayView host, const AnsiCodec& codec) {
    QString result;
    qsizetype from = 0;
    while (true) {
        const qsizetype dot = host.indexOf('.', from);
        const QByteArrayView label = dot < 0 ? host.sliced(from) : host.sliced(from, dot - from);
        if (std::optional<QString> decoded = decodeLabel(label)) {
            result += *decoded;
        } else {
            result += codec.decode(label);
        }
        if (dot < 0) {
            break;
        }
        result += u'.';
        from = dot + 1;
    }
    return result;
}

QString PunycodeToUnicode(QStringView host) {
    QString result;
    result.reserve(host.size());
    QByteArray latin;
    qsizetype from = 0;
    while (true) {
        const qsizetype dot = host.indexOf(u'.', from);
        const QStringView label = dot < 0 ? host.sliced(from) : host.sliced(from, dot - from);
        std::optional<QString> decoded;
        // Only ASCII can be Punycode: anything else would fail the decoder as bad input.
        if (label.size() >= 5 && startsWithAcePrefix(label) &&
            std::all_of(label.begin(), label.end(), [](QChar c) { return c.unicode() < 0x80; })) {
            latin = label.toLatin1();
            decoded = decodeLabel(latin);
        }
        result += decoded ? QStringView(*decoded) : label;
        if (dot < 0) {
            break;
        }
        result += u'.';
        from = dot + 1;
    }
    return result;
}

}  // namespace kelvara
