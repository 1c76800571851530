#include "core/stringlist.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kelvara;

namespace {
const Collation& ru() {
    static const Collation c(QLocale(QLocale::Russian, QLocale::Russia));
    return c;
}
}  // namespace

TEST(SortedStringList, KeepsOrderFindsAndIgnoresPresentTexts) {
    SortedStringList<int> list(ru());
    for (const char16_t* t : {u"кофе", u"банан", u"Яблоко", u"арбуз", u"http://x.ru/"}) {
        list.add(QString::fromUtf16(t), 1);
    }
    // The Russian order puts Cyrillic before Latin.
    EXPECT_EQ(list.texts(), (QStringList{u"арбуз"_qs, u"банан"_qs, u"кофе"_qs, u"Яблоко"_qs,
                                         u"http://x.ru/"_qs}));
    // A present text (any case) keeps the existing line and object and returns its position.
    const auto added = list.add(u"КОФЕ"_qs, 2);
    EXPECT_FALSE(added.inserted);
    EXPECT_EQ(added.index, 2);
    EXPECT_EQ(list[2].text, u"кофе"_qs);
    EXPECT_EQ(list[2].object, 1);
    EXPECT_EQ(list.indexOf(u"ЯБЛОКО"), 3);
    EXPECT_EQ(list.indexOf(u"груша"), -1);
    qsizetype at = -1;
    EXPECT_FALSE(list.find(u"в", &at));
    EXPECT_EQ(at, 2);  // where it would go
    list.removeAt(0);
    EXPECT_EQ(list.indexOf(u"арбуз"), -1);
    EXPECT_EQ(list.indexOf(u"банан"), 0);
}

TEST(SortedStringList, RefusedObjectStaysWithTheCaller) {
    SortedStringList<std::unique_ptr<int>> list(ru());
    list.add(u"a"_qs, std::make_unique<int>(1));
    auto mine = std::make_unique<int>(2);
    EXPECT_FALSE(list.add(u"A"_qs, std::move(mine)).inserted);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(*mine, 2);
    EXPECT_EQ(*list[0].object, 1);
}

TEST(SortedStringList, AgreesWithSortingWhateverTheInsertionOrder) {
    SortedStrings list(ru());
    QStringList all;
    for (int i = 0; i < 500; ++i) {
        const QString t = QStringLiteral("Запрос %1 x").arg((i * 7919) % 263);
        list.add(t);
        all << t;
    }
    std::sort(all.begin(), all.end(),
              [](const QString& a, const QString& b) { return ru().less(a, b); });
    all.erase(std::unique(all.begin(), all.end(),
                          [](const QString& a, const QString& b) { return ru().equal(a, b); }),
              all.end());
    EXPECT_EQ(list.texts(), all);
}
