// The deferred mode's readers: the operations file and the operation answers.
#include "search/deferred.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

constexpr Stamp kNow = 739'000 * kMsPerDay;

TEST(DeferredOperations, TheFileIsReadAsFarAsItCanBe) {
    const QByteArray text =
        "1000\t213\top-1\tкупить кофе\n"
        "garbage line\n"
        "x\t213\top-2\tbad stamp\n"
        "-5\t213\top-3\tnegative\n"
        "2000\t\top-4\tno region\n"
        "3000\t2\t\tno id\n"
        "4000\t2\top-5\t\n"
        "5000\t2\top-6\ta query\twith a tab\r\n"
        "\xff\xfe\t2\top-7\tnot utf-8\n"
        "6000\t2\top-8\tlast, without a line break";
    const std::vector<StoredOperation> ops = parseOperations(text);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].created, 1000);
    EXPECT_EQ(ops[0].region, u"213"_qs);
    EXPECT_EQ(ops[0].id, u"op-1"_qs);
    EXPECT_EQ(ops[0].query, u"купить кофе"_qs);
    EXPECT_EQ(ops[1].query, u"a query\twith a tab"_qs);
    EXPECT_EQ(ops[2].id, u"op-8"_qs);
    for (const StoredOperation& op : ops) {
        EXPECT_EQ(parseOperations(operationLine(op)).size(), 1u);
    }
    // What cannot be written back as one line is not written at all.
    EXPECT_TRUE(operationLine({1, u"2"_qs, u"a\tb"_qs, u"q"_qs}).isEmpty());
    EXPECT_TRUE(operationLine({1, u"2"_qs, u"id"_qs, u"two\nlines"_qs}).isEmpty());
}

TEST(DeferredOperations, TheStoreKeepsTwelveHoursAndNeverTheKey) {
    test::TempDir dir;
    const QString path = dir.path(u"operations.txt"_qs);
    {
        OperationStore store(path);
        store.load();  // no file yet
        store.add({kNow, u"213"_qs, u"op-1"_qs, u"a"_qs});
        store.add({kNow - kOperationLifeMs, u"213"_qs, u"op-old"_qs, u"b"_qs});
        store.add({kNow, u"2"_qs, u"op-2"_qs, u"a"_qs});
    }
    OperationStore again(path);
    again.load();
    EXPECT_EQ(again.find(u"213"_qs, u"a"_qs, kNow), u"op-1"_qs);
    EXPECT_EQ(again.find(u"2"_qs, u"a"_qs, kNow), u"op-2"_qs);
    EXPECT_FALSE(again.find(u"213"_qs, u"b"_qs, kNow)) << "older than 12 hours: asked again";
    EXPECT_FALSE(again.find(u"213"_qs, u"c"_qs, kNow));
    again.forget(u"op-1"_qs);
    again.compact(kNow);
    OperationStore third(path);
    third.load();
    ASSERT_EQ(third.operations().size(), 1u);
    EXPECT_EQ(third.operations()[0].id, u"op-2"_qs);
    third.forget(u"op-2"_qs);
    third.compact(kNow);
    EXPECT_FALSE(QFile::exists(path)) << "nothing left: no file";

    dir.write(u"broken.txt"_qs, QByteArray("\0\0\0\t\t\t\n\n", 9) + QByteArray(5000, '\t'));
    OperationStore broken(dir.path(u"broken.txt"_qs));
    broken.load();
    EXPECT_TRUE(broken.operations().empty());
}

TEST(DeferredOperations, OperationAnswers) {
    using Kind = OperationAnswer::Kind;
    struct Case {
        const char* json;
        Kind kind;
        const char16_t* id;
    };
    const Case cases[] = {
        {R"({"id":"op-1","done":false})", Kind::Pending, u"op-1"},
        {R"({"id":"op-1"})", Kind::Pending, u"op-1"},
        {R"({"id":"op-1","done":true,"response":{"rawData":"PHg+"}})", Kind::Done, u"op-1"},
        {R"({"id":"op-1","done":true,"error":{"code":13,"message":"internal"}})", Kind::Failed,
         u"op-1"},
        {R"({"id":"op-1","done":true})", Kind::Malformed, u"op-1"},
        {R"({"done":true,"response":{}})", Kind::Malformed, u""},
        {R"({"id":7,"done":false})", Kind::Malformed, u""},
        {R"([1,2])", Kind::Malformed, u""},
        {"<html>", Kind::Malformed, u""},
    };
    for (const Case& c : cases) {
        const OperationAnswer a = readOperationAnswer(QString::fromUtf8(c.json));
        EXPECT_EQ(a.kind, c.kind) << c.json;
        if (c.kind != Kind::Malformed) {
            EXPECT_EQ(a.id, QString::fromUtf16(c.id)) << c.json;
        }
    }
    const OperationAnswer failed = readOperationAnswer(QString::fromUtf8(cases[3].json));
    EXPECT_EQ(failed.errorText, u"internal"_qs);
}

}  // namespace
}  // namespace kelvara
