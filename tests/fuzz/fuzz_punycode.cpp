// PunycodeDecode and PunycodeToUnicode, over host names from answers and imported files.
//
// Properties: measuring and decoding agree; a buffer one unit too small gives "output too big"
// and is never written past; the output holds only whole code points up to U+10FFFF; text encoded
// by the encoder of the standard decodes back to itself; PunycodeToUnicode never gives an empty
// text for a non-empty input, keeps every dot, and its 8-bit and UTF-16 forms agree.

#include "fuzz_common.h"

#include "clustering/punycode.h"

#include <limits>
#include <optional>
#include <vector>

using namespace kelvara;

namespace {

// The encoder of RFC 3492 (section 6.3), as the reference for the decoder.
std::optional<QByteArray> encode(const std::vector<char32_t>& input) {
    constexpr std::uint32_t base = 36, tmin = 1, tmax = 26, skew = 38, damp = 700;
    auto digit = [](std::uint32_t d) { return char(d < 26 ? 'a' + d : '0' + (d - 26)); };
    auto adapt = [&](std::uint32_t delta, std::uint32_t points, bool first) {
        delta = first ? delta / damp : delta / 2;
        delta += delta / points;
        std::uint32_t k = 0;
        while (delta > ((base - tmin) * tmax) / 2) {
            delta /= base - tmin;
            k += base;
        }
        return k + (base - tmin + 1) * delta / (delta + skew);
    };
    QByteArray out;
    for (const char32_t c : input) {
        if (c < 0x80) {
            out += char(c);
        }
    }
    const auto b = std::uint32_t(out.size());
    std::uint32_t h = b;
    if (b > 0) {
        out += '-';
    }
    std::uint32_t n = 128, delta = 0, bias = 72;
    constexpr std::uint32_t maxint = std::numeric_limits<std::uint32_t>::max();
    while (h < input.size()) {
        std::uint32_t m = maxint;
        for (const char32_t c : input) {
            if (c >= n && c < m) {
                m = c;
            }
        }
        if (m - n > (maxint - delta) / (h + 1)) {
            return std::nullopt;
        }
        delta += (m - n) * (h + 1);
        n = m;
        for (const char32_t c : input) {
            if (c < n && ++delta == 0) {
                return std::nullopt;
            }
            if (c == n) {
                std::uint32_t q = delta;
                for (std::uint32_t k = base;; k += base) {
                    const std::uint32_t t = k <= bias ? tmin : k >= bias + tmax ? tmax : k - bias;
                    if (q < t) {
                        break;
                    }
                    out += digit(t + (q - t) % (base - t));
                    q = (q - t) / (base - t);
                }
                out += digit(q);
                bias = adapt(delta, h + 1, h == b);
                delta = 0;
                ++h;
            }
        }
        ++delta;
        ++n;
    }
    return out;
}

std::vector<char32_t> codePoints(const char16_t* p, qsizetype units) {
    std::vector<char32_t> out;
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t c = p[i];
        FUZZ_CHECK(!QChar::isLowSurrogate(c), "a lone low surrogate");
        if (QChar::isHighSurrogate(c)) {
            FUZZ_CHECK(i + 1 < units && QChar::isLowSurrogate(p[i + 1]), "a lone high surrogate");
            out.push_back(QChar::surrogateToUcs4(c, p[i + 1]));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Decodes with every check of the interface; the code points when it succeeds.
std::optional<std::vector<char32_t>> decodeChecked(QByteArrayView input) {
    qsizetype needed = -1;
    const PunycodeResult measured = PunycodeDecode(input, nullptr, 0, &needed);
    if (measured != pcSuccess) {
        return std::nullopt;
    }
    FUZZ_CHECK(needed >= 0 && needed <= 2 * input.size(), QByteArray::number(needed));
    // The measured size and a sentinel after it, which must stay untouched.
    std::vector<char16_t> buffer(size_t(needed) + 1, u'\uABCD');
    qsizetype written = -1;
    FUZZ_CHECK(PunycodeDecode(input, buffer.data(), needed, &written) == pcSuccess,
               input.toByteArray());
    FUZZ_CHECK(buffer.back() == u'\uABCD', input.toByteArray());
    FUZZ_CHECK(written == needed, input.toByteArray());
    if (needed > 0) {
        // One unit short; the unit after the capacity is a sentinel that must stay untouched
        // (and keeps the buffer non-null when the capacity is 0: null only measures).
        std::vector<char16_t> small(size_t(needed), u'\uABCD');
        qsizetype ignored = 0;
        FUZZ_CHECK(PunycodeDecode(input, small.data(), needed - 1, &ignored) == pcBigOutput,
                   input.toByteArray());
        FUZZ_CHECK(small.back() == u'\uABCD', input.toByteArray());
    }
    return codePoints(buffer.data(), written);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArrayView input = fuzz::bytesOf(data, size);

    // The decoder on the input as Punycode.
    if (const auto points = decodeChecked(input)) {
        for (const char32_t cp : *points) {
            FUZZ_CHECK(cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF), input.toByteArray());
        }
        // The standard's encoder writes it back; that decodes to the same text.
        if (const std::optional<QByteArray> again = encode(*points)) {
            const auto back = decodeChecked(*again);
            FUZZ_CHECK(back && *back == *points, input.toByteArray() + " -> " + *again);
        }
    }

    // The input read as code points (three bytes each): encoded, then decoded back.
    std::vector<char32_t> text;
    for (size_t i = 0; i + 3 <= size && text.size() < 200; i += 3) {
        const char32_t cp =
            (char32_t(data[i]) << 16 | char32_t(data[i + 1]) << 8 | data[i + 2]) % 0x110000;
        if (cp < 0xD800 || cp > 0xDFFF) {
            text.push_back(cp);
        }
    }
    if (const std::optional<QByteArray> encoded = encode(text)) {
        const auto decoded = decodeChecked(*encoded);
        FUZZ_CHECK(decoded && *decoded == text, *encoded);
    }

    // The host-name form: never empty, every dot kept, both forms alike.
    const AnsiCodec& codec = fuzz::cp1251();
    const QString host = PunycodeToUnicode(input, codec);
    FUZZ_CHECK(input.isEmpty() || !host.isEmpty(), input.toByteArray());
    FUZZ_CHECK(host.count(u'.') == input.count('.'),
               input.toByteArray() + " -> " + fuzz::shown(host));
    const QString wide = PunycodeToUnicode(codec.decode(input));
    FUZZ_CHECK(wide == host, fuzz::shown(wide) + " / " + fuzz::shown(host));
    return 0;
}
