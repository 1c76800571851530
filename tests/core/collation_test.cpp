#include "core/collation.h"
#include "core/stringlist.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <algorithm>

using namespace kelvara;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

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
        const QString alphabet = QStringLiteral("aAbBcChHiIzZ09./:-_ ?=&%~\t|'\"");
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

TEST(Collation, KeysOfMixedKindsCompareThroughTheCollator) {
    const Collation c(QLocale(QLocale::Russian, QLocale::Russia));
    QStringList texts = {u"кофе"_qs, u"coffee"_qs, u"Кофе"_qs, u"http://b.ru/"_qs,
                         u"http://а.рф/"_qs, u"zz"_qs};
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
