#include "clustering/engine_order.h"

#include <gtest/gtest.h>

#include <random>

using namespace kelvara;
using namespace kelvara::engine_detail;

namespace {

int sign(int v) {
    return (v > 0) - (v < 0);
}

// Texts of the kinds the engine sorts: Cyrillic and Latin words with case and ё/е variants,
// URLs that are prefixes of each other, empty texts, and characters outside the table
// (combining marks, other scripts, ignorable controls).
std::vector<QString> randomTexts(std::mt19937_64& rng, int count) {
    static const QString alphabet =
        u"абвежзёЁЕЖАБ кофе KOFE coffee-./:?=|_09"_qs + QChar(0x01) + QChar(0x0301) + u"ßçé中"_qs;
    std::vector<QString> out;
    for (int i = 0; i < count; ++i) {
        QString s;
        if (!out.empty() && rng() % 3 == 0) {
            const QString& base = out[size_t(rng() % out.size())];
            s = base.left(qsizetype(rng() % std::uint64_t(base.size() + 1)));
            if (rng() % 2) {
                s = s.toUpper();
            }
        }
        for (int j = int(rng() % 7); j > 0; --j) {
            s += alphabet[qsizetype(rng() % std::uint64_t(alphabet.size()))];
        }
        out.push_back(s);
    }
    return out;
}

std::vector<QStringView> views(const std::vector<QString>& texts) {
    return std::vector<QStringView>(texts.begin(), texts.end());
}

}  // namespace

// Ranks must say exactly what the collation says, in every locale we try.
TEST(EngineOrder, RanksFollowTheCollation) {
    for (const char* name : {"C", "ru_RU", "en_US", "cs_CZ", "tr_TR"}) {
        const Collation c{QLocale(QString::fromLatin1(name))};
        std::mt19937_64 rng(99);
        const std::vector<QString> texts = randomTexts(rng, 400);
        const Ranking r = rankTexts(views(texts), c, 1);
        for (size_t a = 0; a < texts.size(); ++a) {
            for (size_t b = a + 1; b < texts.size(); ++b) {
                ASSERT_EQ(sign(r.rank[a] - r.rank[b]), sign(c.compare(texts[a], texts[b])))
                    << name << ": \"" << texts[a].toStdString() << "\" vs \""
                    << texts[b].toStdString() << '"';
            }
        }
    }
}

// Texts the keys cover: the table is in use there, and agrees with the collation.
TEST(EngineOrder, KeysDecideForCyrillicAndAscii) {
    for (const char* name : {"C", "ru_RU", "en_US"}) {
        const Collation c{QLocale(QString::fromLatin1(name))};
        const OrderKeys& keys = OrderKeys::of(c);
        EXPECT_TRUE(keys.usable()) << name;
        EXPECT_TRUE(keys.asciiExact()) << name;
        std::string a;
        std::string b;
        ASSERT_TRUE(keys.append(u"купить кофе", a));
        ASSERT_TRUE(keys.append(u"КУПИТЬ КОФЕ", b));
        EXPECT_EQ(a, b) << name;
        a.clear();
        EXPECT_FALSE(keys.append(u"中文", a));
        EXPECT_TRUE(a.empty());
    }
}

// The threaded sort gives the same ranks as the plain one.
TEST(EngineOrder, ThreadedRankingEqualsThePlainOne) {
    const Collation c{QLocale(QLocale::Russian, QLocale::Russia)};
    std::mt19937_64 rng(3);
    const std::vector<QString> texts = randomTexts(rng, 52000);  // enough for two threads
    const Ranking one = rankTexts(views(texts), c, 1);
    const Ranking two = rankTexts(views(texts), c, 2);
    EXPECT_EQ(one.rank, two.rank);
    EXPECT_EQ(one.classes, two.classes);
}

// Interning by hashed keys: equal ids exactly for texts equal under the collation; it declines
// texts whose keys cannot decide equality.
TEST(EngineOrder, InterningMatchesCollationEquality) {
    for (const char* name : {"C", "ru_RU"}) {
        const Collation c{QLocale(QString::fromLatin1(name))};
        std::vector<QString> urls = {u"http://a.ru"_qs,
                                     u"HTTP://A.RU"_qs,
                                     u"http://a.ru/"_qs,
                                     u"http://a.ru/x"_qs,
                                     u""_qs,
                                     u"http://A.ru/X"_qs,
                                     QString(QChar(0x01)),
                                     u"\x01\x01"_qs};
        std::mt19937_64 rng(5);
        for (int i = 0; i < 300; ++i) {
            QString u = u"http://s"_qs + QString::number(rng() % 20) + u".ru/"_qs;
            if (rng() % 2) {
                u += u"Path"_qs + QString::number(rng() % 5);
            }
            urls.push_back(rng() % 4 == 0 ? u.toUpper() : u);
        }
        const Interning in = internTexts(views(urls), c, 1);
        ASSERT_TRUE(in.ok) << name;
        for (size_t a = 0; a < urls.size(); ++a) {
            for (size_t b = a + 1; b < urls.size(); ++b) {
                ASSERT_EQ(in.id[a] == in.id[b], c.compare(urls[a], urls[b]) == 0)
                    << name << ": " << urls[a].toStdString() << " / " << urls[b].toStdString();
            }
        }
        urls.push_back(u"http://сайт.рф/"_qs);
        EXPECT_FALSE(internTexts(views(urls), c, 1).ok);
    }
}
