#include "search/http_transport.h"

#include "support/service_double.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kelvara {
namespace {

using test::ServiceAnswer;
using test::ServiceDouble;

CurlTransportOptions trustingTestCa() {
    CurlTransportOptions o;
    o.caFile = ServiceDouble::caFile();
    return o;
}

QByteArray url(const ServiceDouble& service, const char* pathAndQuery) {
    return service.origin().toUtf8() + pathAndQuery;
}

TEST(CurlTransport, GivesStatusAndBodyOf200AndOnlyTheStatusOtherwise) {
    ServiceDouble service;
    ServiceAnswer latin;
    latin.body = "<r>caf\xc3\xa9 \xff\xfe end</r>";        // valid UTF-8, then two invalid bytes
    latin.contentType = "text/xml; charset=windows-1251";  // ignored: the body is UTF-8
    service.script(u"ok"_qs, {latin});
    service.script(u"busy"_qs, {ServiceAnswer::withStatus(503)});
    CurlTransport transport;

    const HttpResponse ok = transport.get(url(service, "/s?query=ok"));
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, u"<r>café \uFFFD\uFFFD end</r>"_qs);
    EXPECT_TRUE(ok.failure.isEmpty());

    const HttpResponse busy = transport.get(url(service, "/s?query=busy"));
    EXPECT_EQ(busy.status, 503);
    EXPECT_TRUE(busy.body.isEmpty());
    EXPECT_FALSE(busy.aborted);
}

TEST(CurlTransport, FailuresGiveStatusZeroAndAFixedText) {
    CurlTransport transport;
    // A port that nobody listens on: take one from a double and close it again.
    QByteArray closed;
    {
        ServiceDouble gone;
        closed = url(gone, "/s?key=SECRET");
    }
    const HttpResponse refused = transport.get(closed);
    EXPECT_EQ(refused.status, 0);
    EXPECT_TRUE(refused.body.isEmpty());
    EXPECT_FALSE(refused.failure.isEmpty());
    EXPECT_FALSE(refused.failure.contains(u"SECRET"));

    for (const char* other : {"file:///etc/passwd", "ftp://127.0.0.1/x", "gopher://127.0.0.1/"}) {
        EXPECT_EQ(transport.get(other).status, 0) << other;
    }
}

TEST(CurlTransport, FollowsAtMostFiveRedirectsOverHttpOnly) {
    ServiceDouble service;
    const QByteArray origin = service.origin().toUtf8();
    for (int i = 0; i < 6; ++i) {
        service.script(
            u"r"_qs + QString::number(i),
            {ServiceAnswer::redirect(origin + "/s?query=r" + QByteArray::number(i + 1))});
    }
    service.script(u"r6"_qs, {ServiceAnswer::urls({})});
    service.script(u"tofile"_qs, {ServiceAnswer::redirect("file:///etc/passwd")});
    CurlTransport transport;

    EXPECT_EQ(transport.get(url(service, "/s?query=r1")).status, 200) << "five redirects";
    EXPECT_EQ(transport.get(url(service, "/s?query=r0")).status, 0) << "six redirects";
    EXPECT_EQ(transport.get(url(service, "/s?query=tofile")).status, 0);
}

TEST(CurlTransport, BodyOverTheCapFails) {
    ServiceDouble service;
    ServiceAnswer big;
    big.body = QByteArray(64 * 1024, 'x');
    service.script(u"big"_qs, {big});
    CurlTransportOptions small;
    small.maxBodyBytes = 64 * 1024 - 1;
    EXPECT_EQ(CurlTransport(small).get(url(service, "/s?query=big")).status, 0);
    small.maxBodyBytes = 64 * 1024;
    EXPECT_EQ(CurlTransport(small).get(url(service, "/s?query=big")).status, 200);
}

TEST(CurlTransport, SilentServerEndsAtTheLowSpeedTimeOut) {
    ServiceDouble service;
    ServiceAnswer hanging = ServiceAnswer::urls({u"https://a/"_qs});
    hanging.neverFinish = true;
    service.script(u"hang"_qs, {hanging});
    CurlTransportOptions quick;
    quick.lowSpeedTimeS = 1;
    const HttpResponse r = CurlTransport(quick).get(url(service, "/s?query=hang"));
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.aborted);
}

TEST(CurlTransport, AbortCheckEndsARequestInFlight) {
    ServiceDouble service;
    ServiceAnswer hanging = ServiceAnswer::urls({u"https://a/"_qs});
    hanging.neverFinish = true;
    service.script(u"hang"_qs, {hanging});
    CurlTransportOptions patient;
    patient.lowSpeedTimeS = 600;
    std::atomic<bool> stop{false};
    std::thread canceller([&] {
        while (service.requestCount() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        stop = true;
    });
    const HttpResponse r =
        CurlTransport(patient).get(url(service, "/s?query=hang"), [&] { return stop.load(); });
    canceller.join();
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.status, 0);
}

TEST(CurlTransport, VerifiesPeerAndHostName) {
    struct Case {
        const char* name;
        ServiceDouble::Tls tls;
        bool trustTestCa;
        const char* host;
        int status;
    };
    const Case cases[] = {
        {"test CA trusted", ServiceDouble::Tls::Trusted, true, "127.0.0.1", 200},
        {"test CA trusted, name localhost", ServiceDouble::Tls::Trusted, true, "localhost", 200},
        {"system store does not know the test CA", ServiceDouble::Tls::Trusted, false, "127.0.0.1",
         0},
        {"self-signed", ServiceDouble::Tls::Untrusted, true, "127.0.0.1", 0},
    };
    for (const Case& c : cases) {
        ServiceDouble service(c.tls);
        service.script(u"q"_qs, {ServiceAnswer::urls({})});
        CurlTransport transport(c.trustTestCa ? trustingTestCa() : CurlTransportOptions{});
        const QByteArray u = "https://" + QByteArray(c.host) + ':' +
                             QByteArray::number(service.port()) + "/s?query=q";
        EXPECT_EQ(transport.get(u).status, c.status) << c.name;
    }
}

TEST(CurlTransport, PostsBodyWithHeaders) {
    ServiceDouble service;
    service.setResponder([](const QString&) { return ServiceAnswer::urls({}); });
    HttpRequest request;
    request.method = HttpRequest::Method::Post;
    request.url = url(service, "/v2/web/search");
    request.headers = {"Content-Type: application/json", "Authorization: Api-Key k1"};
    request.body = "{\"query\":{\"queryText\":\"q\"}}";
    const HttpResponse r = CurlTransport().perform(request, {});
    EXPECT_EQ(r.status, 200);
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, u"POST"_qs);
    EXPECT_EQ(requests[0].body, request.body);
    EXPECT_EQ(requests[0].header("Authorization"), "Api-Key k1");
    EXPECT_EQ(requests[0].query, u"q"_qs);
}

}  // namespace
}  // namespace kelvara
