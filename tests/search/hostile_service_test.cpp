// The search worker against a service that misbehaves on purpose: bodies without end or far too
// big, bytes that are no UTF-8, XML built to exhaust a parser, huge answers, redirects out of
// HTTP, a server that never answers. Each run ends, within the time-outs, in one of the three
// error kinds or a correct answer, and no body is held beyond the transport's cap.

#include "search/yandex_worker.h"

#include "support/service_double.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <functional>
#include <optional>

namespace kelvara {
namespace {

using test::ServiceAnswer;
using test::ServiceDouble;

constexpr Stamp kNow = 739'000 * kMsPerDay + 500;

// Time-outs of seconds, so that a hostile server costs the test seconds, not minutes.
CurlTransportOptions quickOptions() {
    CurlTransportOptions o;
    o.connectTimeoutMs = 2'000;
    o.lowSpeedTimeS = 1;
    o.totalTimeoutMs = 3'000;
    return o;
}

// For big answers that are valid: the double compresses them before it sends a byte, which
// takes a while under the sanitizers, and a valid answer gets the time it takes.
CurlTransportOptions patientOptions() {
    CurlTransportOptions o = quickOptions();
    o.lowSpeedTimeS = 20;
    o.totalTimeoutMs = 60'000;
    return o;
}

struct Outcome {
    TYandexStatus status = ysProcess;
    TYandexError error = yrConnect;
    QString errorText;
    QStringList urls;  // the entry's, sorted
    bool entry = false;
};

// One query through the worker and the real transport, retries without pauses.
Outcome ask(ServiceDouble& service, const ServiceAnswer& answer,
            const CurlTransportOptions& options = quickOptions()) {
    service.script(u"q"_qs, {answer});
    FetchList list;
    list.push_back({u"q"_qs, nullptr});
    SearchContext context;
    context.transport = std::make_shared<CurlTransport>(options);
    context.clock = [] { return kNow; };
    context.codePage = "windows-1251";
    context.pause = [](int) {};
    YandexWorker worker(service.searchUrl() + u"&lr=213"_qs, list, std::move(context));
    worker.Execute();
    Outcome out;
    out.status = worker.FStatus.load();
    out.error = worker.FErrorCode.load();
    out.errorText = worker.ErrorText();
    out.entry = list[0].entry != nullptr;
    if (list[0].entry) {
        out.urls = list[0].entry->Urls.texts();
    }
    return out;
}

QByteArray head() {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<yandexsearch version=\"1.0\"><response>"
           "<results><grouping attr=\"d\" mode=\"deep\">";
}
QByteArray tail() {
    return "</grouping></results></response></yandexsearch>\n";
}
QByteArray group(const QByteArray& url) {
    return "<group><doc><url>" + url + "</url></doc></group>";
}

void expectConnectError(const Outcome& o) {
    EXPECT_EQ(o.status, ysError);
    EXPECT_EQ(o.error, yrConnect);
    EXPECT_TRUE(o.errorText.isEmpty());
    EXPECT_FALSE(o.entry);
}

void expectAnswer(const Outcome& o, const QStringList& urls) {
    EXPECT_EQ(o.status, ysSuccess);
    ASSERT_TRUE(o.entry);
    EXPECT_EQ(o.urls, urls);
}

TEST(HostileService, BodiesWithoutEndOrTooBigFailAtTheCap) {
    ServiceDouble service;
    CurlTransportOptions capped = quickOptions();
    capped.maxBodyBytes = 1 << 20;
    capped.totalTimeoutMs = 60'000;  // only the cap may end these
    const qint64 hundredMb = 100LL * 1024 * 1024;
    struct Case {
        const char* name;
        ServiceAnswer answer;
        CurlTransportOptions options;
    };
    ServiceAnswer endlessGroups = ServiceAnswer::stream(-1, head());
    endlessGroups.streamChunk = group("https://again.example/");
    const Case cases[] = {
        {"an endless body", ServiceAnswer::stream(-1, head()), capped},
        {"endless groups of a valid answer", endlessGroups, capped},
        // Against the program's own cap: 100 MB never fits it.
        {"a body of 100 MB", ServiceAnswer::stream(hundredMb, head()),
         [] {
             CurlTransportOptions o = quickOptions();
             o.totalTimeoutMs = 60'000;
             return o;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectConnectError(ask(service, c.answer, c.options));
        // The client hung up near its cap: the rest of the body was never taken in. Allow for
        // what the loopback socket buffers hold.
        EXPECT_LT(service.largestStreamSent(), c.options.maxBodyBytes + (32LL << 20));
    }
    EXPECT_LT(service.largestStreamSent(), hundredMb);
}

TEST(HostileService, CompressionBombFailsAtTheCap) {
    ServiceDouble service;
    ServiceAnswer bomb;
    // 32 MB of one byte deflate to some 32 KB; the cap (16 MB) counts what they expand to.
    bomb.body = qCompress(head() + QByteArray(32 << 20, ' ') + tail(), 9).mid(4);
    bomb.contentEncoding = "deflate";
    expectConnectError(ask(service, bomb));

    // The same body under a cap that holds it is an answer (without URLs): it is the cap, not
    // the encoding, that fails the bomb.
    CurlTransportOptions roomy = patientOptions();
    roomy.maxBodyBytes = 64 << 20;
    const Outcome o = ask(service, bomb, roomy);
    EXPECT_EQ(o.status, ysSuccess);
    EXPECT_TRUE(o.entry);
    EXPECT_TRUE(o.urls.isEmpty());
}

TEST(HostileService, TrickleAndSilenceEndAtTheTimeOuts) {
    ServiceDouble service;
    // A byte now and then keeps the low-speed check content; the total time-out ends it.
    ServiceAnswer trickle = ServiceAnswer::stream(-1, head(), 200);
    trickle.streamChunk = " ";
    CurlTransportOptions patient = quickOptions();
    patient.lowSpeedTimeS = 60;
    patient.totalTimeoutMs = 1'500;
    expectConnectError(ask(service, trickle, patient));

    // Accepts the connection, reads the request and then says nothing at all.
    ServiceAnswer silent = ServiceAnswer::urls({u"https://never.example/"_qs});
    silent.delayMs = 60'000;
    CurlTransportOptions noTotal = quickOptions();
    noTotal.totalTimeoutMs = 0;  // none: the low-speed check alone must end it
    expectConnectError(ask(service, silent, noTotal));
}

TEST(HostileService, RedirectsOutOfHttpAndHugeLocationsFail) {
    ServiceDouble service;
    for (const QByteArray& location :
         {QByteArray("file:///etc/passwd"), QByteArray("ftp://127.0.0.1:21/answer.xml"),
          QByteArray("gopher://127.0.0.1/"),
          service.origin().toUtf8() + "/s?x=" + QByteArray(1 << 20, 'a')}) {
        SCOPED_TRACE(location.left(40).constData());
        expectConnectError(ask(service, ServiceAnswer::redirect(location)));
    }
}

TEST(HostileService, BytesThatAreNoUtf8) {
    ServiceDouble service;
    ServiceAnswer garbage;
    garbage.body = QByteArray("\xff\xfe\xfd\x80\x81<yandexsearch>\xc3\x28\xe2\x82", 17);
    const Outcome notXml = ask(service, garbage);
    EXPECT_EQ(notXml.status, ysError);
    EXPECT_EQ(notXml.error, yrDomXml);

    // Invalid sequences inside a valid answer become replacement characters, as decoded.
    ServiceAnswer inUrl;
    inUrl.body = head() + group("https://bad.example/\xff\xc3(x") + tail();
    expectAnswer(ask(service, inUrl), {u"https://bad.example/\uFFFD\uFFFD(x"_qs});

    // A declared encoding other than UTF-8 changes nothing: the body is read as UTF-8.
    ServiceAnswer declared;
    declared.body =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?><r><response><results>"
        "<grouping>" +
        group("https://\xd0\xba.example/") + "</grouping></results></response></r>";
    expectAnswer(ask(service, declared), {u"https://к.example/"_qs});
}

TEST(HostileService, EntityExpansionIsNotPerformed) {
    ServiceDouble service;
    QByteArray dtd = "<!DOCTYPE yandexsearch [<!ENTITY lol \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        dtd += "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            dtd += "&lol" + (i > 1 ? QByteArray::number(i - 1) : QByteArray()) + ';';
        }
        dtd += "\">";
    }
    dtd += "]>";
    ServiceAnswer laughs;
    laughs.body = "<?xml version=\"1.0\"?>" + dtd +
                  "<yandexsearch><response><results><grouping><group><doc><title>&lol9;</title>"
                  "<url>https://laughs.example/</url></doc></group>" +
                  group("&lol9;") + tail();
    const Outcome o = ask(service, laughs);
    // Either the entity stays unexpanded text or the answer is refused; never a billion laughs.
    if (o.status == ysSuccess) {
        ASSERT_TRUE(o.entry);
        for (const QString& url : o.urls) {
            EXPECT_LT(url.size(), 100) << "an entity was expanded";
        }
        EXPECT_TRUE(o.urls.contains(u"https://laughs.example/"_qs));
    } else {
        EXPECT_EQ(o.error, yrDomXml);
    }
}

TEST(HostileService, DeeplyNestedElements) {
    ServiceDouble service;
    const int depth = 1'000'000;
    const QByteArray open = QByteArray("<a>").repeated(depth);
    const QByteArray close = QByteArray("</a>").repeated(depth);

    ServiceAnswer inUrl;
    inUrl.body = head() + group(open + "https://deep.example/" + close) + tail();
    expectAnswer(ask(service, inUrl, patientOptions()), {u"https://deep.example/"_qs});

    ServiceAnswer inError;
    inError.body = "<yandexsearch><response><error code=\"32\">" + open + "limit" + close +
                   "</error></response></yandexsearch>";
    const Outcome error = ask(service, inError, patientOptions());
    EXPECT_EQ(error.status, ysError);
    EXPECT_EQ(error.error, yrDailyLimit);
    EXPECT_EQ(error.errorText, u"limit"_qs);

    ServiceAnswer beside;
    beside.body = head() + open + close + group("https://beside.example/") + tail();
    expectAnswer(ask(service, beside, patientOptions()), {u"https://beside.example/"_qs});

    ServiceAnswer unclosed;
    unclosed.body = head() + open;
    const Outcome cut = ask(service, unclosed, patientOptions());
    EXPECT_EQ(cut.status, ysError);
    EXPECT_EQ(cut.error, yrDomXml);
}

TEST(HostileService, HugeButValidAnswersAreTakenWhole) {
    ServiceDouble service;
    // Ten thousand groups: the worker sets no limit of its own.
    QStringList many;
    QByteArray body = head();
    for (int i = 0; i < 10'000; ++i) {
        const QByteArray url = "https://site" + QByteArray::number(i) + ".example/";
        body += group(url);
        many << QString::fromLatin1(url);
    }
    ServiceAnswer groups;
    groups.body = body + tail();
    const Outcome o = ask(service, groups, patientOptions());
    EXPECT_EQ(o.status, ysSuccess) << "error kind " << o.error;
    ASSERT_TRUE(o.entry);
    EXPECT_EQ(o.urls.size(), 10'000);
    EXPECT_TRUE(o.urls.contains(many.front()));
    EXPECT_TRUE(o.urls.contains(many.back()));

    // A URL of one megabyte.
    const QByteArray longUrl = "https://long.example/" + QByteArray(1 << 20, 'p');
    ServiceAnswer big;
    big.body = head() + group(longUrl) + group("https://short.example/") + tail();
    expectAnswer(ask(service, big, patientOptions()),
                 {QString::fromLatin1(longUrl), u"https://short.example/"_qs});
}

}  // namespace
}  // namespace kelvara
