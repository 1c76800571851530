#pragma once

// What every fuzz target shares: a broken property is reported like a crash (so that libFuzzer
// keeps the input as an artifact), and the program's locale is Russian, as for its users.

#include "core/collation.h"
#include "core/textfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kelvara::fuzz {

// A text for a failure message: non-printable characters as \uXXXX, cut to a readable length.
inline QByteArray shown(QStringView text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size() && out.size() < 400; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            out += "\\u" + QByteArray::number(c, 16).rightJustified(4, '0');
        }
    }
    return out;
}

[[noreturn]] inline void fail(const char* property, const char* file, int line,
                              const QByteArray& detail) {
    std::fprintf(stderr, "\n%s:%d: property violated: %s\n%s\n", file, line, property,
                 detail.constData());
    std::abort();
}

// The program's Russian collation, the same for every run of a target.
inline const Collation& russian() {
    static const Collation collation{QLocale(QLocale::Russian, QLocale::Russia)};
    return collation;
}

inline const AnsiCodec& cp1251() {
    static const AnsiCodec codec{"windows-1251"};
    return codec;
}

inline QByteArrayView bytesOf(const std::uint8_t* data, size_t size) {
    return QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The system locale decides the collation of lists made without one (the URLs of an entry):
// make it the users' one unless the caller chose another.
inline void useRussianLocale() {
    setenv("LC_ALL", "ru_RU.UTF-8", 0);
}

}  // namespace kelvara::fuzz

// Checks a property of the code under test; the detail says what was seen.
#define FUZZ_CHECK(condition, detail)                                                  \
    do {                                                                               \
        if (!(condition)) {                                                            \
            ::kelvara::fuzz::fail(#condition, __FILE__, __LINE__, QByteArray(detail)); \
        }                                                                              \
    } while (false)
