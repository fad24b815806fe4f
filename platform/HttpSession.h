#pragma once
// An ephemeral HTTP client session over Qt Network.
//
// Main thread only; never blocks: every request is a coroutine awaited on the main thread's
// event loop. Nothing is kept between requests (no cookies, no cache, no credentials).
// Each request has two limits: `requestTimeoutMs` trips when no data moves for that long, and
// `resourceTimeoutMs` is an overall deadline from the start (a slow drip never trips the first).
// A response body over `maxBodyBytes` fails the request. Truncated or malformed responses fail.
// A non-2xx status is not a failure: the response carries it and callers decide.

#include "platform/Tasks.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPair>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

namespace rillow {

struct HttpOptions {
    int requestTimeoutMs = 60'000;
    int resourceTimeoutMs = 7 * 24 * 3600 * 1000;
    qint64 maxBodyBytes = 32 * 1024 * 1024;
};

enum class HttpError {
    none,
    invalidUrl,  // not an http or https address
    timedOut,    // either time-out
    tooLarge,    // body over the cap
    network,     // refused, reset, host not found, TLS failure
    truncated,   // connection ended before the whole body arrived
    malformed,   // the server's answer was not valid HTTP
    cancelled,   // the caller's token was cancelled
};

struct HttpResponse {
    int status = 0;
    QByteArray body;
    QUrl url;  // after redirects
    QList<QPair<QByteArray, QByteArray>> headers;

    // The first header of that name (case-insensitive), or an empty array.
    QByteArray header(const QByteArray& name) const;
    bool isSuccess() const { return status >= 200 && status < 300; }
};

struct HttpResult {
    HttpError error = HttpError::none;
    std::optional<HttpResponse> response;  // present exactly when error is none

    bool ok() const { return error == HttpError::none; }
    // The body of a 2xx response, else nothing.
    std::optional<QByteArray> successBody() const;
};

class HttpSession {
public:
    explicit HttpSession(HttpOptions options = {});
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    const HttpOptions& options() const { return options_; }

    QCoro::Task<HttpResult> get(QUrl url, CancelToken token = {});
    // Any method; headers of `request` are kept. `body` is sent for methods that carry one.
    QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method = "GET",
                                 QByteArray body = {}, CancelToken token = {});

    // Aborts every request in flight; each ends with `cancelled`.
    void cancelAll();

private:
    HttpOptions options_;
    std::unique_ptr<QNetworkAccessManager> manager_;
};

const char* httpErrorName(HttpError error);

}  // namespace rillow
