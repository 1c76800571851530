#pragma once

#include <QCollator>
#include <QLocale>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

namespace kelvara {

// The one string order of the program: the user's locale collation, ignoring letter case.
// Every sorted list, the result store and the clustering engine compare through it, so that
// "present" and "in order" mean the same thing everywhere.
//
// Pure-ASCII texts (URLs, Latin queries) are compared through a per-character weight table taken
// from the same collator at construction; the table is checked against the collator and used
// only where it agrees with it, so the fast path never changes an answer.
class Collation {
public:
    explicit Collation(const QLocale& locale);

    // The program's collation: the user's locale. Built on first use and never changed.
    static const Collation& program();

    // <0, 0 or >0 as a sorts before, equal to or after b.
    int compare(QStringView a, QStringView b) const;
    bool equal(QStringView a, QStringView b) const { return compare(a, b) == 0; }
    bool less(QStringView a, QStringView b) const { return compare(a, b) < 0; }

    // A precomputed sort key, for bulk sorting. Keys of ASCII texts and keys of other texts are of
    // two kinds and only comparable within their kind; compareKeys() handles the mix.
    struct Key {
        QByteArray bytes;                     // ASCII kind: the weights, memcmp-ordered
        std::optional<QCollatorSortKey> icu;  // other texts: the collator's own key
        bool ascii() const { return !icu.has_value(); }
    };
    Key key(QStringView text) const;
    int compareKeys(const Key& ka, QStringView a, const Key& kb, QStringView b) const;

    bool asciiFastPath() const { return fastPath_; }
    const QLocale& locale() const { return locale_; }

private:
    static constexpr int kUndecided = 2;
    int compareAscii(QStringView a, QStringView b) const;
    bool checkAsciiTable() const;

    QLocale locale_;
    QCollator collator_;
    // weight 0: the character is ignorable and skipped.
    std::array<std::uint8_t, 128> weight_{};
    bool fastPath_ = false;
};

// True when every UTF-16 unit of the text is below 128.
bool isAscii(QStringView text);

}  // namespace kelvara
