#pragma once

#include "core/textfile.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kelvara {

enum PunycodeResult : int {
    pcSuccess = 0,
    pcBadInput = 1,   // not a Punycode string
    pcBigOutput = 2,  // the output buffer is too small
    pcOverflow = 3,   // a value went past 32 bits: no real code point is that far
};

// The Punycode decoder (base 36, tmin 1, tmax 26, skew 38, damp 700, initial bias 72, initial n
// 128, delimiter "-") with 32-bit overflow checks. Decodes `input` into `output`, which holds
// `capacity` UTF-16 units; with a null `output` it only measures. *outputLength is the number of
// UTF-16 units written (or needed) on success. A code point above U+FFFF takes two units (a
// surrogate pair); a decoded surrogate or a value past U+10FFFF is bad input. Basic characters are
// copied with their letter case.
PunycodeResult PunycodeDecode(QByteArrayView input, char16_t* output, qsizetype capacity,
                              qsizetype* outputLength);

// Makes an internationalised host name readable: each "."-separated label of at least five
// characters that starts with "xn--" (ASCII letters in any case) and decodes is replaced by its
// decoded text; every other label, and the dots, stay as they were. Never fails.
//
// This form takes 8-bit text in the code page, as host names are held in the 8-bit world.
QString PunycodeToUnicode(QByteArrayView host, const AnsiCodec& codec);
// The same over UTF-16 text, without a trip through a code page: a label holding a character
// the code page lacks could not be Punycode anyway, and stays exactly as it is.
QString PunycodeToUnicode(QStringView host);

}  // namespace kelvara
