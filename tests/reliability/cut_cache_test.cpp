// cache.txt cut off by a crash during someone else's write: everything before the cut loads.

#include "search/cache.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using test::TempDir;

const Stamp kNow = stampFromLocal(QDate(2026, 12, 9), 12 * 3600'000LL);
const AnsiCodec kCodec("windows-1251");

struct Line {
    QString query;
    QStringList urls;
};

const std::vector<Line>& lines() {
    static const std::vector<Line> l{
        {u"купить кофе"_qs, {u"https://coffee.example/"_qs, u"https://shop.example/coffee/"_qs}},
        {u"кофе в зёрнах"_qs, {u"https://beans.example/catalog/"_qs}},
        {u"seo tools"_qs, {u"https://seo.example/"_qs, u"https://tools.example/a?b=1"_qs}},
        {u"ремонт квартир"_qs, {u"https://remont.example/"_qs}},
    };
    return l;
}

QString cacheLine(const Line& l) {
    return QString::number(kNow - 1000) + u';' + l.query + u';' + l.urls.join(u';') + u"\r\n"_qs;
}

// What the store must hold after a cut: every line that ends before `cut`, whole.
void expectWholeLinesBefore(const ResultStore& store, bool utf8, qsizetype cut) {
    qsizetype end = utf8 ? 3 : 0;
    for (const Line& l : lines()) {
        end += utf8 ? cacheLine(l).toUtf8().size() : kCodec.encode(cacheLine(l)).size();
        if (end > cut) {
            break;
        }
        const TSerpEntry* e = findEntry(store, l.query);
        ASSERT_NE(e, nullptr) << l.query.toStdString();
        EXPECT_EQ(e->Stamp, kNow - 1000);
        QStringList urls;
        for (const auto& u : e->Urls) {
            urls << u.text;
        }
        QStringList expected = l.urls;
        expected.sort();
        urls.sort();
        EXPECT_EQ(urls, expected) << l.query.toStdString();
    }
}

TEST(CutCache, EverythingBeforeTheCutLoads) {
    QString text;
    for (const Line& l : lines()) {
        text += cacheLine(l);
    }
    struct Form {
        const char* name;
        QByteArray bytes;
        bool utf8;
    };
    const Form forms[] = {
        {"code page", kCodec.encode(text), false},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + text.toUtf8(), true},
    };
    for (const Form& form : forms) {
        // Every cut: inside a stamp, a query, a URL, a UTF-8 sequence, between CR and LF.
        for (qsizetype cut = 0; cut <= form.bytes.size(); ++cut) {
            SCOPED_TRACE(std::string(form.name) + ", cut at " + std::to_string(cut));
            TempDir dir;
            dir.write(u"cache.txt"_qs, form.bytes.first(cut));
            ResultStore store;
            ASSERT_FALSE(LoadCache(store, dir.path(u"cache.txt"_qs), kNow, kCodec));
            expectWholeLinesBefore(store, form.utf8, cut);
            // Nothing more than the lines begun before the cut.
            EXPECT_LE(store.size(), qsizetype(lines().size()));
        }
    }
}

// The cut line itself: what of it is readable loads, as any short line would, and the next save
// writes the file whole again.
TEST(CutCache, CutLineAndTheNextSave) {
    const QByteArray whole = kCodec.encode(cacheLine(lines()[0]) + cacheLine(lines()[1]));
    const qsizetype cutInUrl = whole.indexOf("beans.example") + 5;
    TempDir dir;
    dir.write(u"cache.txt"_qs, whole.first(cutInUrl));
    ResultStore store;
    ASSERT_FALSE(LoadCache(store, dir.path(u"cache.txt"_qs), kNow, kCodec));
    ASSERT_EQ(store.size(), 2);
    const TSerpEntry* cut = findEntry(store, lines()[1].query);
    ASSERT_NE(cut, nullptr);
    ASSERT_EQ(cut->Urls.size(), 1);
    EXPECT_EQ(cut->Urls[0].text, u"https://beans"_qs);

    // Cut inside the query: the line has no URL field yet.
    dir.write(u"cache.txt"_qs, whole.first(whole.indexOf(kCodec.encode(u"в зёрнах"))));
    ResultStore shortQuery;
    ASSERT_FALSE(LoadCache(shortQuery, dir.path(u"cache.txt"_qs), kNow, kCodec));
    EXPECT_EQ(shortQuery.size(), 2);
    EXPECT_NE(findEntry(shortQuery, u"кофе "), nullptr);

    ASSERT_FALSE(SaveCache(store, dir.path(u"cache.txt"_qs)));
    EXPECT_TRUE(dir.read(u"cache.txt"_qs).endsWith("\r\n"));
    ResultStore again;
    ASSERT_FALSE(LoadCache(again, dir.path(u"cache.txt"_qs), kNow, kCodec));
    EXPECT_EQ(again.size(), store.size());
}

}  // namespace
}  // namespace kelvara
