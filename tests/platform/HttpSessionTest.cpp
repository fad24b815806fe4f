#include "platform/HttpSession.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>

using namespace rillow;
using rillow::test::TestHttpServer;
using rillow::test::TestResponse;

namespace {

struct Outcome {
    HttpResult result;
    qint64 elapsedMs = 0;
};

Outcome fetch(HttpSession& session, const QUrl& url, CancelToken token = {}) {
    QElapsedTimer clock;
    clock.start();
    HttpResult result = test::await(session.get(url, token));
    return {std::move(result), clock.elapsed()};
}

}  // namespace

TEST(HttpSession, AnswersWithBodyStatusAndHeaders) {
    TestHttpServer server;
    server.route("/feed", TestResponse::text("hello", "application/rss+xml"));
    server.route("/missing", TestResponse::withStatus(404, "<html>nope</html>"));
    TestResponse chunked = TestResponse::text(std::string(100'000, 'c'));
    chunked.chunked = true;
    server.route("/chunked", chunked);
    HttpSession session;

    Outcome ok = fetch(session, server.url(QStringLiteral("/feed?q=a%20b")));
    ASSERT_TRUE(ok.result.ok()) << httpErrorName(ok.result.error);
    EXPECT_EQ(ok.result.response->status, 200);
    EXPECT_EQ(ok.result.response->body, "hello");
    EXPECT_EQ(ok.result.response->header("content-type"), "application/rss+xml");
    EXPECT_EQ(ok.result.successBody(), QByteArray("hello"));
    EXPECT_EQ(server.requests().back().target, "/feed?q=a%20b");

    Outcome missing = fetch(session, server.url(QStringLiteral("/missing")));
    ASSERT_TRUE(missing.result.ok());
    EXPECT_EQ(missing.result.response->status, 404);
    EXPECT_EQ(missing.result.response->body, "<html>nope</html>");
    EXPECT_FALSE(missing.result.successBody().has_value());

    Outcome big = fetch(session, server.url(QStringLiteral("/chunked")));
    ASSERT_TRUE(big.result.ok());
    EXPECT_EQ(big.result.response->body.size(), 100'000);
}

// Every way a server can misbehave ends as a failure, within the limit that applies.
TEST(HttpSession, MisbehavingServersFailWithinTheirTimeOuts) {
    TestHttpServer server;
    TestResponse stalled;
    stalled.stall = true;
    server.route("/stall", stalled);

    TestResponse drip = TestResponse::text(std::string(10'000, 'd'));
    drip.dripBytes = 10;
    drip.dripIntervalMs = 100;  // never idle long enough to trip the request time-out
    server.route("/drip", drip);

    TestResponse overCapAnnounced;
    overCapAnnounced.generatedBodyBytes = 2 * 1024 * 1024;
    server.route("/big", overCapAnnounced);
    TestResponse overCapChunked = overCapAnnounced;
    overCapChunked.chunked = true;
    server.route("/big-chunked", overCapChunked);

    TestResponse reset = TestResponse::text(std::string(50'000, 'r'));
    reset.cutAfterBytes = 1000;
    reset.resetOnClose = true;
    server.route("/reset", reset);
    TestResponse shortLength = TestResponse::text(std::string(50'000, 's'));
    shortLength.cutAfterBytes = 1000;
    server.route("/short", shortLength);
    TestResponse shortChunked = shortLength;
    shortChunked.chunked = true;
    server.route("/short-chunked", shortChunked);

    // A port nobody listens on.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();

    HttpOptions options;
    options.requestTimeoutMs = 700;
    options.resourceTimeoutMs = 1500;
    options.maxBodyBytes = 1024 * 1024;
    HttpSession session(options);

    struct Case {
        const char* name;
        QString url;
        std::vector<HttpError> accepted;
        qint64 withinMs;
    };
    const std::vector<Case> cases = {
        {"stalled server", server.url(QStringLiteral("/stall")), {HttpError::timedOut}, 3000},
        {"dripping server", server.url(QStringLiteral("/drip")), {HttpError::timedOut}, 3500},
        {"announced body over the cap",
         server.url(QStringLiteral("/big")),
         {HttpError::tooLarge},
         3000},
        {"chunked body over the cap",
         server.url(QStringLiteral("/big-chunked")),
         {HttpError::tooLarge},
         3000},
        {"reset mid-body",
         server.url(QStringLiteral("/reset")),
         {HttpError::network, HttpError::truncated},
         3000},
        {"body shorter than its length",
         server.url(QStringLiteral("/short")),
         {HttpError::truncated},
         3000},
        {"chunked body without its end",
         server.url(QStringLiteral("/short-chunked")),
         {HttpError::truncated},
         3000},
        {"connection refused",
         QStringLiteral("http://127.0.0.1:%1/").arg(closedPort),
         {HttpError::network},
         3000},
        {"not http", QStringLiteral("file:///etc/passwd"), {HttpError::invalidUrl}, 100},
    };
    for (const Case& c : cases) {
        Outcome outcome = fetch(session, QUrl(c.url));
        EXPECT_FALSE(outcome.result.response.has_value()) << c.name;
        EXPECT_NE(std::find(c.accepted.begin(), c.accepted.end(), outcome.result.error),
                  c.accepted.end())
            << c.name << ": " << httpErrorName(outcome.result.error);
        EXPECT_LT(outcome.elapsedMs, c.withinMs) << c.name;
    }
}

TEST(HttpSession, CancellationEndsARequestAtOnce) {
    TestHttpServer server;
    TestResponse stalled;
    stalled.stall = true;
    server.route("/stall", stalled);
    HttpSession session;

    CancelToken token;
    QTimer::singleShot(100, [token] { token.cancel(); });
    Outcome outcome = fetch(session, server.url(QStringLiteral("/stall")), token);
    EXPECT_EQ(outcome.result.error, HttpError::cancelled);
    EXPECT_LT(outcome.elapsedMs, 1000);

    // cancelAll ends every request in flight.
    QTimer::singleShot(100, [&session] { session.cancelAll(); });
    outcome = fetch(session, server.url(QStringLiteral("/stall")));
    EXPECT_EQ(outcome.result.error, HttpError::cancelled);
    EXPECT_LT(outcome.elapsedMs, 1000);
}

TEST(HttpSession, KeepsNoCookies) {
    TestHttpServer server;
    TestResponse setsCookie = TestResponse::text("x");
    setsCookie.headers.emplace_back("Set-Cookie", "session=secret; Path=/");
    server.route("/login", setsCookie);
    server.route("/next", TestResponse::text("y"));
    HttpSession session;
    ASSERT_TRUE(fetch(session, server.url(QStringLiteral("/login"))).result.ok());
    ASSERT_TRUE(fetch(session, server.url(QStringLiteral("/next"))).result.ok());
    EXPECT_EQ(server.requests().back().headers.count("cookie"), 0u);
}
