#include "core/collation.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kelvara {

bool isAscii(QStringView text) {
    const char16_t* p = text.utf16();
    const char16_t* end = p + text.size();
    char16_t acc = 0;
    for (; p != end; ++p) {
        acc |= *p;
    }
    return acc < 128;
}

Collation::Collation(const QLocale& locale) : locale_(locale), collator_(locale) {
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    collator_.setNumericMode(false);
    collator_.setIgnorePunctuation(false);
    // Initialise the collator now, on this thread, so that later const use from worker threads
    // only reads it.
    (void)collator_.compare(u"a", u"b");

    // Rank the 128 ASCII characters by the collator; characters it treats as equal share a rank.
    std::vector<char16_t> chars(128);
    for (int i = 0; i < 128; ++i) {
        chars[i] = char16_t(i);
    }
    auto cmp1 = [this](char16_t a, char16_t b) {
        return collator_.compare(QStringView(&a, 1), QStringView(&b, 1));
    };
    std::stable_sort(chars.begin(), chars.end(),
                     [&](char16_t a, char16_t b) { return cmp1(a, b) < 0; });
    int rank = 0;
    for (int i = 0; i < 128; ++i) {
        const char16_t c = chars[i];
        // Against an empty text the collator answers by length alone, so ask with a letter.
        const char16_t withC[2] = {u'a', c};
        const bool ignorable = collator_.compare(QStringView(withC, 2), u"a") == 0;
        if (ignorable) {
            weight_[c] = 0;
            continue;
        }
        if (i == 0 || rank == 0 || cmp1(chars[i - 1], c) != 0 || weight_[chars[i - 1]] == 0) {
            ++rank;
        }
        weight_[c] = std::uint8_t(rank);
    }
    fastPath_ = rank > 0 && rank < 256 && checkAsciiTable();
}

const Collation& Collation::program() {
    static const Collation instance{QLocale::system()};
    return instance;
}

// Compares by the ASCII weights. Returns kUndecided when a character of 128 or more could take
// part in the answer: then only the collator knows (a combining mark after the deciding letter,
// for instance, can change that letter's weight).
int Collation::compareAscii(QStringView a, QStringView b) const {
    const char16_t* pa = a.utf16();
    const char16_t* ea = pa + a.size();
    const char16_t* pb = b.utf16();
    const char16_t* eb = pb + b.size();
    // Skips ignorable characters; false when a non-ASCII character comes first.
    auto skip = [this](const char16_t*& p, const char16_t* e) {
        while (p != e) {
            if (*p >= 128) {
                return false;
            }
            if (weight_[*p] != 0) {
                return true;
            }
            ++p;
        }
        return true;
    };
    for (;;) {
        if (!skip(pa, ea) || !skip(pb, eb)) {
            return kUndecided;
        }
        if (pa == ea || pb == eb) {
            if (pa == ea && pb == eb) {
                return 0;
            }
            return pa == ea ? -1 : 1;
        }
        const std::uint8_t wa = weight_[*pa];
        const std::uint8_t wb = weight_[*pb];
        ++pa;
        ++pb;
        if (wa != wb) {
            const bool nextAsciiA = pa == ea || *pa < 128;
            const bool nextAsciiB = pb == eb || *pb < 128;
            if (!nextAsciiA || !nextAsciiB) {
                return kUndecided;
            }
            return wa < wb ? -1 : 1;
        }
    }
}

// The table stands in for the collator only if it orders texts the way the collator does. A
// locale with contractions of Latin letters ("ch" in Czech, "aa" in Danish) or other multi-letter
// rules fails this check and keeps the collator for everything.
bool Collation::checkAsciiTable() const {
    std::vector<QString> probe;
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    for (QChar x : letters) {
        for (QChar y : letters) {
            probe.push_back(QString(x) + y);
            probe.push_back(QString(x.toUpper()) + y + QLatin1Char('-'));
        }
    }
    // Texts shaped like URLs and queries, with punctuation, digits and mixed case.
    std::uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    QString alphabet = QStringLiteral("aAbBcChHzZ09./:-_?=&% ~|;\t");
    alphabet += QChar(0x01);
    alphabet += QChar(0x7F);
    for (int i = 0; i < 600; ++i) {
        QString s;
        const int len = 1 + int(next() % 12);
        for (int j = 0; j < len; ++j) {
            s += alphabet[int(next() % alphabet.size())];
        }
        probe.push_back(s);
    }
    for (size_t i = 0; i + 1 < probe.size(); ++i) {
        for (size_t j : {i + 1, (i * 7919) % probe.size()}) {
            const int want = collator_.compare(probe[i], probe[j]);
            const int got = compareAscii(probe[i], probe[j]);
            if ((want < 0) != (got < 0) || (want == 0) != (got == 0)) {
                return false;
            }
        }
    }
    return true;
}

int Collation::compare(QStringView a, QStringView b) const {
    // As the collator does: an empty text sorts before any other, ignorable or not.
    if (a.isEmpty() || b.isEmpty()) {
        return a.isEmpty() ? (b.isEmpty() ? 0 : -1) : 1;
    }
    if (fastPath_) {
        const int r = compareAscii(a, b);
        if (r != kUndecided) {
            return r;
        }
    }
    const int r = collator_.compare(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

Collation::Key Collation::key(QStringView text) const {
    Key k;
    if (fastPath_ && isAscii(text)) {
        k.bytes.reserve(text.size());
        for (QChar c : text) {
            if (const std::uint8_t w = weight_[c.unicode()]) {
                k.bytes.append(char(w));
            }
        }
        return k;
    }
    k.icu.emplace(collator_.sortKey(text.toString()));
    return k;
}

int Collation::compareKeys(const Key& ka, QStringView a, const Key& kb, QStringView b) const {
    if (ka.ascii() != kb.ascii() || a.isEmpty() || b.isEmpty()) {
        return compare(a, b);
    }
    if (!ka.ascii()) {
        const int r = ka.icu->compare(*kb.icu);
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    const int n = std::min(ka.bytes.size(), kb.bytes.size());
    const int r = std::memcmp(ka.bytes.constData(), kb.bytes.constData(), size_t(n));
    if (r != 0) {
        return r < 0 ? -1 : 1;
    }
    return ka.bytes.size() == kb.bytes.size() ? 0 : (ka.bytes.size() < kb.bytes.size() ? -1 : 1);
}

}  // namespace kelvara
