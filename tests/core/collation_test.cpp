#include "core/collation.h"
#include "core/stringlist.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <algorithm>

using namespace kelvara;

namespace {

int sign(int v) {
    return (v > 0) - (v < 0);
}

QCollator referenceCollator(const QLocale& l) {
    QCollator c(l);
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
}

}  // namespace

TEST(Collation, IgnoresCaseAndFollowsTheLocale) {
    const Collation c(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(c.compare(u"Купить Кофе", u"купить кофе"), 0);
    EXPECT_EQ(c.compare(u"HTTP://A.RU/", u"http://a.ru/"), 0);
    EXPECT_LT(c.compare(u"ёлка", u"жук"), 0);
    EXPECT_LT(c.compare(u"apple", u"Banana"), 0);
    EXPECT_LT(c.compare(u"a", u"ab"), 0);
    EXPECT_GT(c.compare(u"b", u"ab"), 0);
}

// The ASCII fast path must give the collator's answer for every pair, in every locale we try;
// where it cannot (contractions), it must switch itself off.
TEST(Collation, AsciiFastPathAgreesWithTheCollator) {
    for (const char* name : {"ru_RU", "en_US", "de_DE", "cs_CZ", "da_DK", "tr_TR", "C"}) {
        const QLocale locale{QString::fromLatin1(name)};
        const Collation c(locale);
        QCollator ref = referenceCollator(locale);
        QRandomGenerator rng(42);
        QString alphabet = QStringLiteral("aAbBcChHiIzZ09./:-_ ?=&%~\t|'\"");
        alphabet += QChar(0x01);
        alphabet += QChar(0x1F);
        for (int n = 0; n < 4000; ++n) {
            QString a, b;
            for (int j = int(rng.bounded(8)); j > 0; --j) {
                a += alphabet[int(rng.bounded(alphabet.size()))];
            }
            b = n % 3 == 0 ? a : QString();
            for (int j = int(rng.bounded(8)); j > 0; --j) {
                b += alphabet[int(rng.bounded(alphabet.size()))];
            }
            ASSERT_EQ(sign(c.compare(a, b)), sign(ref.compare(a, b)))
                << name << ": \"" << a.toStdString() << "\" vs \"" << b.toStdString() << "\"";
            const auto ka = c.key(a);
            const auto kb = c.key(b);
            ASSERT_EQ(sign(c.compareKeys(ka, a, kb, b)), sign(ref.compare(a, b))) << name;
        }
    }
}

// Texts that start alike in ASCII and go on in other scripts or with combining marks: the fast
// path must hand these to the collator whenever a non-ASCII character can take part.
TEST(Collation, MixedTextsAgreeWithTheCollator) {
    for (const char* name : {"ru_RU", "cs_CZ", "en_US", "lt_LT"}) {
        const QLocale locale{QString::fromLatin1(name)};
        const Collation c(locale);
        QCollator ref = referenceCollator(locale);
        QRandomGenerator rng(7);
        const QString alphabet = QStringLiteral("acCiIz.-/ ") + QChar(0x030C) + QChar(0x0301) +
                                 QChar(0x0307) + u"жЖёéč"_qs + QChar(0x200B) + QChar(0x01);
        for (int n = 0; n < 4000; ++n) {
            QString a, b;
            for (int j = int(rng.bounded(6)); j > 0; --j) {
                a += alphabet[int(rng.bounded(alphabet.size()))];
            }
            b = a.left(int(rng.bounded(a.size() + 1)));
            for (int j = int(rng.bounded(6)); j > 0; --j) {
                b += alphabet[int(rng.bounded(alphabet.size()))];
            }
            ASSERT_EQ(sign(c.compare(a, b)), sign(ref.compare(a, b)))
                << name << " " << n << " " << a.toUtf8().toHex().toStdString() << " vs "
                << b.toUtf8().toHex().toStdString();
        }
    }
}

TEST(Collation, KeysOfMixedKindsCompareThroughTheCollator) {
    const Collation c(QLocale(QLocale::Russian, QLocale::Russia));
    QStringList texts = {u"кофе"_qs,         u"coffee"_qs,       u"Кофе"_qs,
                         u"http://b.ru/"_qs, u"http://а.рф/"_qs, u"zz"_qs};
    std::vector<std::pair<Collation::Key, QString>> keyed;
    for (const QString& t : texts) {
        keyed.emplace_back(c.key(t), t);
    }
    for (const auto& [ka, a] : keyed) {
        for (const auto& [kb, b] : keyed) {
            EXPECT_EQ(c.compareKeys(ka, a, kb, b), c.compare(a, b));
        }
    }
}
