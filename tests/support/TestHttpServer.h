#pragma once
// A loopback HTTP/1.1 server for tests, listening on 127.0.0.1 on a free port.
//
// Handlers run on the server's connection threads (one per connection) and must be thread-safe;
// the test thread adds routes before it sends requests. Every response closes its connection.
// Besides plain answers it can delay, stall (never answer), drip the body, cut the body short
// (with or without a reset) and serve large generated bodies without holding them in memory.
// `stop()` (also on destruction) unblocks every connection, including stalled ones, and joins.

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace rillow::test {

struct TestRequest {
    std::string method;
    std::string target;                          // path with query, as sent
    std::string path;                            // without query
    std::string query;                           // after '?', empty when none
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
};

struct TestResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    int delayMs = 0;               // wait before answering anything
    bool stall = false;            // accept and read the request, never answer
    int dripBytes = 0;             // > 0: send the body this many bytes at a time
    int dripIntervalMs = 0;        // pause between drips
    bool chunked = false;          // Transfer-Encoding: chunked instead of Content-Length
    long long cutAfterBytes = -1;  // >= 0: close after this many body bytes (header still
                                   // announces the full body; chunked ends without its last chunk)
    bool resetOnClose = false;     // close with a TCP reset instead of an orderly shutdown
    long long generatedBodyBytes = -1;  // >= 0: body of this many bytes of 'x' instead of `body`

    static TestResponse text(std::string body, std::string contentType = "text/plain");
    static TestResponse json(std::string body) { return text(std::move(body), "application/json"); }
    static TestResponse withStatus(int code, std::string body = {});
};

class TestHttpServer {
public:
    using Handler = std::function<TestResponse(const TestRequest&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT"
    QString baseUrl() const;
    QString url(const QString& target) const { return baseUrl() + target; }

    // Exact path match (query ignored); later calls replace earlier ones for the same path.
    void route(const std::string& path, Handler handler);
    void route(const std::string& path, TestResponse fixed);
    // Longest matching prefix, tried after exact paths. Unmatched requests get 404.
    void routePrefix(const std::string& prefix, Handler handler);

    // Requests received so far (complete request line and headers), in arrival order.
    std::vector<TestRequest> requests() const;
    int requestCount(const std::string& path) const;

    void stop();

private:
    void acceptLoop();
    void serve(int fd);
    Handler find(const std::string& path) const;
    bool pause(int ms);  // false when stopping

    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    // Guarded by mutex_.
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    std::map<std::string, Handler> exact_;
    std::map<std::string, Handler> prefixes_;
    std::vector<TestRequest> log_;
    std::vector<int> openFds_;
    std::vector<std::thread> connections_;
};

}  // namespace rillow::test
