#include "datagen.h"

#include "core/textfile.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

using namespace kelvara;

TEST(DataGenerator, IsDecidedByTheSeed) {
    datagen::Params p;
    p.queries = 300;
    p.seed = 42;
    const auto a = datagen::generateQueries(p);
    const auto b = datagen::generateQueries(p);
    ASSERT_EQ(a.size(), 300u);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].text, b[i].text);
        EXPECT_EQ(a[i].urls, b[i].urls);
    }
    p.seed = 43;
    EXPECT_NE(datagen::generateQueries(p)[0].text + datagen::generateQueries(p)[1].text,
              a[0].text + a[1].text);
}

// The shape the benchmarks rely on: unique Russian texts, mostly ten URLs, the most popular URL
// in 5 to 10 per cent of the lists, and shared URLs (topical clusters).
TEST(DataGenerator, MakesRealisticData) {
    datagen::Params p;
    p.queries = 20000;
    p.seed = 1;
    const auto queries = datagen::generateQueries(p);
    const datagen::Stats s = datagen::describe(queries);
    EXPECT_EQ(s.queries, 20000);
    EXPECT_GE(s.fullLists, 0.88);
    EXPECT_GE(s.topUrlShare, 0.05);
    EXPECT_LE(s.topUrlShare, 0.10);
    EXPECT_GE(s.meanSharedPerQuery, 4.0);
    QSet<QString> texts;
    for (const auto& q : queries) {
        EXPECT_TRUE(q.text.contains(QRegularExpression(u"[а-я]"_qs))) << q.text.toStdString();
        texts.insert(q.text.toLower());
        EXPECT_LE(q.urls.size(), 10);
    }
    EXPECT_EQ(texts.size(), 20000);
}

TEST(DataGenerator, WritesTheThreeFormats) {
    const std::vector<datagen::GeneratedQuery> queries = {
        {u"купить кофе"_qs, {u"https://a.ru/1"_qs, u"https://b.ru/"_qs}}, {u"чай"_qs, {}}};
    const AnsiCodec cp1251("windows-1251");
    EXPECT_EQ(
        cp1251.decode(datagen::importFile(queries)),
        u"Запрос;URL [Yandex]\r\nкупить кофе;\r\n;https://a.ru/1\r\n;https://b.ru/\r\nчай;\r\n"_qs);
    EXPECT_EQ(datagen::queriesFile(queries),
              QByteArray("\xEF\xBB\xBF") + u"купить кофе\r\nчай\r\n"_qs.toUtf8());
    EXPECT_EQ(datagen::queriesFile(queries, false), u"купить кофе\r\nчай\r\n"_qs.toUtf8());
    EXPECT_EQ(
        cp1251.decode(datagen::cacheFile(queries, 63850000000000)),
        u"63850000000000;купить кофе;https://a.ru/1;https://b.ru/\r\n63850000000000;чай\r\n"_qs);
}

// Irregular lines for tests: repeats share the entry or get their own, as asked.
TEST(DataGenerator, RunHasTheIrregularLinesAskedFor) {
    datagen::Params p;
    p.queries = 200;
    p.repeatSameEntry = 0.1;
    p.repeatNewEntry = 0.05;
    p.caseVariantLines = 0.05;
    p.emptyQueries = 3;
    const datagen::GeneratedRun run = datagen::generateRun(p);
    EXPECT_EQ(run.work.size(), 200u + 20 + 10 + 10 + 3);
    int empty = 0;
    QSet<const TSerpEntry*> used;
    for (const WorkLine& line : run.work) {
        ASSERT_NE(line.entry, nullptr);
        empty += line.text.isEmpty() ? 1 : 0;
        used.insert(line.entry);
    }
    EXPECT_EQ(empty, 3);
    EXPECT_LT(used.size(), qsizetype(run.work.size()));  // some lines share an entry
    EXPECT_EQ(qsizetype(run.entries.size()), used.size());
}
