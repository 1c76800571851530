#include "table/query_import.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

// A clock that ticks one millisecond per reading, so each block's stamp shows when it was read.
struct TickingClock {
    Stamp next = 1'000;
    StampClock clock() {
        return [this] { return next++; };
    }
};

QStringList urlsOf(const ResultStore& store, QStringView query) {
    const TSerpEntry* e = findEntry(store, query);
    return e ? e->Urls.texts() : QStringList{u"<no entry>"_qs};
}

// Header with the URL column third; q1 with two URLs, q2 with one, q3 with one, last.
const QString kThreeBlocks =
    u"Query;Count;URL [Yandex];Other\r\n"
    "q1;;http://ignored-on-the-query-row.ru/;x\r\n"
    ";;http://a.ru/;\r\n"
    ";;http://b.ru/page;\r\n"
    "q2;5;;\r\n"
    ";;http://c.ru/;\r\n"
    "q3\r\n"
    ";;http://d.ru/\r\n"_qs;

TEST(QueryImport, ImportsEveryBlockInOrderTheLastIncluded) {
    ResultStore store;
    TickingClock t;
    const ImportResult r = importQueriesFromText(kThreeBlocks, store, t.clock());
    EXPECT_EQ(r.status, ImportStatus::Imported);
    EXPECT_EQ(r.lines, (QStringList{u"q1"_qs, u"q2"_qs, u"q3"_qs}));
    EXPECT_EQ(r.added, 3);
    EXPECT_EQ(r.urls, 4);
    EXPECT_EQ(urlsOf(store, u"q1"), (QStringList{u"http://a.ru/"_qs, u"http://b.ru/page"_qs}));
    EXPECT_EQ(urlsOf(store, u"q2"), (QStringList{u"http://c.ru/"_qs}));
    // The file's last block, with no empty URL from reading past the end.
    EXPECT_EQ(urlsOf(store, u"q3"), (QStringList{u"http://d.ru/"_qs}));
    // Stamped as each query row was read.
    EXPECT_EQ(findEntry(store, u"q1")->Stamp, 1'000);
    EXPECT_EQ(findEntry(store, u"q2")->Stamp, 1'001);
    EXPECT_EQ(findEntry(store, u"q3")->Stamp, 1'002);
}

TEST(QueryImport, TheHeaderCellMustMatchExactly) {
    for (const QString& header :
         {u"url [yandex]"_qs, u"URL [Yandex] "_qs, u"URL[Yandex]"_qs, u"\"URL [Yandex]\" x"_qs}) {
        QString text = kThreeBlocks;
        text.replace(u"URL [Yandex]"_qs, header);
        ResultStore store;
        const ImportResult r = importQueriesFromText(text, store, TickingClock().clock());
        EXPECT_EQ(r.status, ImportStatus::NoUrlColumn) << header.toStdString();
        EXPECT_TRUE(r.lines.isEmpty());
        EXPECT_TRUE(store.empty());
        EXPECT_FALSE(importProblem(r).isEmpty());
    }
    // A quoted header cell loses its quotes like any other cell, so it matches.
    ResultStore store;
    QString quoted = kThreeBlocks;
    quoted.replace(u"URL [Yandex]"_qs, u"\"URL [Yandex]\""_qs);
    EXPECT_EQ(importQueriesFromText(quoted, store, TickingClock().clock()).lines.size(), 3);
}

TEST(QueryImport, TheFirstMatchingColumnIsTheUrlColumn) {
    ResultStore store;
    importQueriesFromText(u"URL [Yandex];URL [Yandex]\r\nq\r\n;first;second\r\n"_qs, store,
                          TickingClock().clock());
    // Column 0 holds the queries, so a URL row's cell there is empty: no URL at all.
    EXPECT_EQ(urlsOf(store, u"q"), QStringList{});
    ResultStore other;
    importQueriesFromText(u"Q;URL [Yandex];URL [Yandex]\r\nq\r\n;first;second\r\n"_qs, other,
                          TickingClock().clock());
    EXPECT_EQ(urlsOf(other, u"q"), QStringList{u"first"_qs});
}

TEST(QueryImport, BlockRules) {
    ResultStore store;
    auto held = std::make_unique<TSerpEntry>(7);
    held->Urls.add(u"http://old.ru/"_qs);
    store.add(u"Known"_qs, std::move(held));

    const QString text =
        u"Query;URL [Yandex]\r\n"
        ";http://before-any-query.ru/\r\n"
        "Repeat;http://not-read.ru/\r\n"
        ";http://Site.ru/\r\n"
        ";http://site.ru/\r\n"
        ";\r\n"
        ";\"\"\r\n"
        "known\r\n"
        ";http://new.ru/\r\n"
        "repeat\r\n"
        ";http://second.ru/\r\n"_qs;
    const ImportResult r = importQueriesFromText(text, store, TickingClock().clock());
    // Each block gives a line, a repeated query once per block.
    EXPECT_EQ(r.lines, (QStringList{u"Repeat"_qs, u"known"_qs, u"repeat"_qs}));
    EXPECT_EQ(r.added, 1);
    EXPECT_EQ(r.kept, 2);
    EXPECT_EQ(store.size(), 2);
    // Case duplicates merge; empty cells add nothing; the row before any query is ignored.
    EXPECT_EQ(urlsOf(store, u"repeat").size(), 1);
    EXPECT_EQ(urlsOf(store, u"repeat").front().toLower(), u"http://site.ru/"_qs);
    // The store keeps what it held.
    EXPECT_EQ(findEntry(store, u"known")->Stamp, 7);
    EXPECT_EQ(urlsOf(store, u"known"), QStringList{u"http://old.ru/"_qs});
    EXPECT_EQ(store.text(store.indexOf(u"known")), u"Known"_qs);
}

// Past a few dozen blocks the store is filled by one sorted merge; the outcome must be the one of
// adding block by block.
TEST(QueryImport, ManyBlocksGiveTheSameStoreAsOneByOne) {
    QString text = u"Query;URL [Yandex]\r\n"_qs;
    QStringList expectedLines;
    for (int i = 0; i < 500; ++i) {
        // Scrambled order, repeats in other letter cases, Cyrillic and Latin.
        const int k = (i * 7919) % 300;
        QString query = (k % 2 ? u"запрос %1"_qs : u"Query %1"_qs).arg(k);
        if (i % 3 == 0) {
            query = query.toUpper();
        }
        expectedLines.append(query);
        text += query + u"\r\n;http://site%1.ru/\r\n;http://x.ru/%2\r\n"_qs.arg(k).arg(i);
    }
    // A query the store holds under the very same text.
    text += u"zzz\r\n;http://z.ru/\r\n;http://z.ru/2\r\n"_qs;
    expectedLines.append(u"zzz"_qs);
    ResultStore bulk;
    bulk.add(u"query 4"_qs, std::make_unique<TSerpEntry>(42));
    bulk.add(u"zzz"_qs, std::make_unique<TSerpEntry>(43));
    const ImportResult r = importQueriesFromText(text, bulk, TickingClock().clock());
    EXPECT_EQ(r.lines, expectedLines);

    // The reference: the same blocks, added one by one as the file is read.
    ResultStore ref;
    ref.add(u"query 4"_qs, std::make_unique<TSerpEntry>(42));
    ref.add(u"zzz"_qs, std::make_unique<TSerpEntry>(43));
    TickingClock t;
    TTableString table;
    table.SetCellDelimeter(u";"_qs);
    table.SetText(text);
    for (int row = 1; row < table.RowsCount(); row += 3) {
        auto e = std::make_unique<TSerpEntry>(t.next++);
        e->Urls.add(table.Cells(1, row + 1));
        e->Urls.add(table.Cells(1, row + 2));
        ref.add(table.Cells(0, row), std::move(e));
    }
    ASSERT_EQ(bulk.size(), ref.size());
    for (qsizetype i = 0; i < ref.size(); ++i) {
        EXPECT_EQ(bulk.text(i), ref.text(i));
        EXPECT_EQ(bulk[i].object->Stamp, ref[i].object->Stamp);
        EXPECT_EQ(bulk[i].object->Urls.texts(), ref[i].object->Urls.texts());
    }
    EXPECT_EQ(r.added + 2, bulk.size());
    EXPECT_EQ(r.added + r.kept, 501);
    EXPECT_EQ(findEntry(bulk, u"zzz")->Stamp, 43);
}

TEST(QueryImport, NotATable) {
    for (const QString& text : {u""_qs, u"   \r\n"_qs, u"URL [Yandex]"_qs}) {
        ResultStore store;
        const ImportResult r = importQueriesFromText(text, store, TickingClock().clock());
        EXPECT_EQ(r.status, ImportStatus::NotTable);
        EXPECT_TRUE(r.lines.isEmpty());
        EXPECT_TRUE(store.empty());
    }
}

TEST(QueryImport, FromAFile) {
    test::TempDir dir;
    // "окна" / "двери" in windows-1251.
    const QString path = dir.write(u"in.csv"_qs, QByteArray("Query;URL [Yandex]\r\n"
                                                            "\xEE\xEA\xED\xE0\r\n"
                                                            ";http://a.ru/\r\n"
                                                            "\xE4\xE2\xE5\xF0\xE8\r\n"
                                                            ";http://b.ru/\r\n"));
    ResultStore store;
    const ImportResult r =
        ImportCsv(path, store, TickingClock().clock(), AnsiCodec("windows-1251"));
    EXPECT_EQ(r.lines, (QStringList{u"окна"_qs, u"двери"_qs}));
    EXPECT_EQ(urlsOf(store, u"ДВЕРИ"), QStringList{u"http://b.ru/"_qs});
    EXPECT_TRUE(importProblem(r).isEmpty());

    // A byte the code page does not define still gives a query; nothing is lost around it.
    const QString odd = dir.write(u"odd.csv"_qs, QByteArray("Query;URL [Yandex]\r\n"
                                                            "a\x98z\r\n"
                                                            ";http://a.ru/\r\n"));
    ResultStore other;
    const ImportResult o = ImportCsv(odd, other, TickingClock().clock(), AnsiCodec("windows-1251"));
    ASSERT_EQ(o.lines.size(), 1);
    EXPECT_TRUE(o.lines[0].startsWith(u'a') && o.lines[0].endsWith(u'z'));
    EXPECT_EQ(urlsOf(other, o.lines[0]), QStringList{u"http://a.ru/"_qs});
}

// Today's spreadsheets save UTF-8, with or without a mark, and some save commas: the import reads
// all of them as the user sees them. A code page the user named still rules unmarked bytes.
TEST(QueryImport, EncodingsAndCommas) {
    test::TempDir dir;
    const QString text =
        u"Запрос;URL [Yandex]\r\nкупить кофе\r\n;http://кофе.рф/\r\n"
        u"чай\r\n;http://b.ru/\r\n"_qs;
    QString comma = text;
    comma.replace(u';', u',');
    QByteArray utf16("\xFF\xFE");
    for (const QChar c : text) {
        utf16 += char(c.unicode() & 0xFF);
        utf16 += char(c.unicode() >> 8);
    }
    const AnsiCodec cp1251("windows-1251");
    const struct {
        const char* name;
        QByteArray bytes;
        ImportEncoding encoding;
    } cases[] = {
        {"UTF-8", text.toUtf8(), ImportEncoding::Detect},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + text.toUtf8(), ImportEncoding::Detect},
        {"UTF-16 with a mark", utf16, ImportEncoding::Detect},
        {"the code page", cp1251.encode(text), ImportEncoding::Detect},
        {"commas", comma.toUtf8(), ImportEncoding::Detect},
        {"commas, quoted header",
         u"\"Запрос\",\"URL [Yandex]\"\r\n"_qs.toUtf8() +
             comma.toUtf8().sliced(comma.toUtf8().indexOf("\r\n")),
         ImportEncoding::Detect},
        {"named code page", cp1251.encode(text), ImportEncoding::CodePage},
        {"named code page, marked UTF-8", "\xEF\xBB\xBF" + text.toUtf8(), ImportEncoding::CodePage},
    };
    for (const auto& c : cases) {
        ResultStore store;
        const QString path = dir.write(u"in.csv"_qs, c.bytes);
        const ImportResult r = ImportCsv(path, store, TickingClock().clock(), cp1251, c.encoding);
        EXPECT_EQ(r.lines, (QStringList{u"купить кофе"_qs, u"чай"_qs})) << c.name;
        EXPECT_EQ(urlsOf(store, u"купить кофе"), QStringList{u"http://кофе.рф/"_qs}) << c.name;
    }
    // Unmarked UTF-8 with a code page named: read in that code page, as before.
    ResultStore store;
    const QString path = dir.write(u"in.csv"_qs, text.toUtf8());
    const ImportResult named =
        ImportCsv(path, store, TickingClock().clock(), cp1251, ImportEncoding::CodePage);
    EXPECT_EQ(named.lines.value(0), cp1251.decode(u"купить кофе"_qs.toUtf8()));
}

TEST(QueryImport, CommaOnlyWhenTheHeaderSaysSo) {
    const struct {
        QString text;
        const char16_t* delimiter;
    } cases[] = {
        {u"Query,URL [Yandex]\r\nq,\r\n"_qs, u","},
        {u"\r\n\r\nQuery,\"URL [Yandex]\",x\r\n"_qs, u","},
        {u"Query;URL [Yandex],x\r\n"_qs, u";"},  // a ";" in the header: ";"
        {u"Query,URL\r\nq,a\r\n"_qs, u";"},      // no URL header cell among the commas
        {u"Query,URL [Yandex]x\r\n"_qs, u";"},   // the cell must be exactly the header
        {u"Query,URL [Yandex]\nq,\n"_qs, u";"},  // LF alone: one row, whose cell is no header
        {u""_qs, u";"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(importCellDelimiter(c.text), QString::fromUtf16(c.delimiter))
            << c.text.toStdString();
    }
}

TEST(QueryImport, AFileThatCannotBeRead) {
    test::TempDir dir;
    ResultStore store;
    const QString missing = dir.path(u"nothing-here.csv"_qs);
    const ImportResult r =
        ImportCsv(missing, store, TickingClock().clock(), AnsiCodec("windows-1251"));
    EXPECT_EQ(r.status, ImportStatus::FileFailed);
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(importProblem(r).contains(missing));
    EXPECT_TRUE(store.empty());
}

TEST(QueryImport, BadFilesAreExplained) {
    test::TempDir dir;
    struct Case {
        const char* name;
        QByteArray bytes;
        ImportStatus status;
        const char16_t* hint;  // part of the explanation
    };
    const Case cases[] = {
        {"empty.csv", "", ImportStatus::NotTable, u"no table"},
        {"comma.csv", "Query,URL\r\nq,\r\n,http://a.ru/\r\n", ImportStatus::NoUrlColumn,
         u"\"URL [Yandex]\""},
        {"lf.csv", "Query;URL [Yandex]\nq;\n;http://a.ru/\n", ImportStatus::NoUrlColumn, u"LF"},
        {"header-only.csv", "Query;URL [Yandex]\r\n", ImportStatus::Imported, u"no query row"},
        {"binary.csv", QByteArray("\x00\xff;\x81\x00\r\n\x98;\x00", 10), ImportStatus::NoUrlColumn,
         u"not a text file"},
    };
    for (const Case& c : cases) {
        ResultStore store;
        const QString path = dir.write(QString::fromLatin1(c.name), c.bytes);
        const ImportResult r =
            ImportCsv(path, store, TickingClock().clock(), AnsiCodec("windows-1251"));
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_TRUE(r.lines.isEmpty()) << c.name;
        EXPECT_TRUE(store.empty()) << c.name;
        EXPECT_FALSE(importProblem(r, UiLanguage::Russian).isEmpty()) << c.name;
        EXPECT_TRUE(importProblem(r).contains(QString::fromUtf16(c.hint)))
            << c.name << ": " << importProblem(r).toStdString();
    }
}

TEST(QueryImport, LongCellsAndRaggedRows) {
    const QString longUrl = u"http://long.ru/"_qs + QString(50'000, u'x');
    const QString text = u"Query;URL [Yandex]\r\n"_qs + QString(50'000, u'q') + u"\r\n;"_qs +
                         longUrl + u";;;;;;;;\r\n;\r\nshort;a;b;c\r\n;u"_qs;
    ResultStore store;
    const ImportResult r = importQueriesFromText(text, store, TickingClock().clock());
    ASSERT_EQ(r.lines.size(), 2);
    EXPECT_EQ(urlsOf(store, r.lines[0]), QStringList{longUrl});
    EXPECT_EQ(urlsOf(store, u"short"), QStringList{u"u"_qs});
}

}  // namespace
