#include "platform/HttpSession.h"

#include <QCoroNetworkReply>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QTimer>
#include <set>

namespace rillow {

namespace {

// Keeps nothing: the session is ephemeral.
class DiscardingCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

bool isHttpStatusError(QNetworkReply::NetworkError error) {
    // Qt reports 4xx and 5xx answers as errors; for us they are answers with a status.
    const int code = static_cast<int>(error);
    return (code >= 201 && code < 300) || (code >= 401 && code < 500) ||
           error == QNetworkReply::ProtocolInvalidOperationError;
}

HttpError classify(QNetworkReply* reply, int status) {
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError) return HttpError::none;
    if (status > 0 && isHttpStatusError(error)) return HttpError::none;
    switch (error) {
        case QNetworkReply::OperationCanceledError:  // our own aborts are classified by the caller;
        case QNetworkReply::TimeoutError:            // this one is Qt's transfer time-out
            return HttpError::timedOut;
        case QNetworkReply::RemoteHostClosedError:
            return status > 0 ? HttpError::truncated : HttpError::network;
        case QNetworkReply::ProtocolFailure:
        case QNetworkReply::ProtocolUnknownError:
            return status > 0 ? HttpError::truncated : HttpError::malformed;
        default: return HttpError::network;
    }
}

}  // namespace

QByteArray HttpResponse::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return {};
}

std::optional<QByteArray> HttpResult::successBody() const {
    if (!ok() || !response || !response->isSuccess()) return std::nullopt;
    return response->body;
}

HttpSession::HttpSession(HttpOptions options)
    : options_(options), manager_(std::make_unique<QNetworkAccessManager>()) {
    manager_->setCookieJar(new DiscardingCookieJar(manager_.get()));
    manager_->setCache(nullptr);
    manager_->setStrictTransportSecurityEnabled(false);
    manager_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    manager_->setAutoDeleteReplies(false);
}

HttpSession::~HttpSession() {
    cancelAll();
}

void HttpSession::cancelAll() {
    // Each reply's own cancel hook marks it cancelled before aborting.
    const auto replies = manager_->findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->setProperty("rillowCancelled", true);
        reply->abort();
    }
}

QCoro::Task<HttpResult> HttpSession::get(QUrl url, CancelToken token) {
    co_return co_await send(QNetworkRequest(url), "GET", {}, token);
}

QCoro::Task<HttpResult> HttpSession::send(QNetworkRequest request, QByteArray method,
                                          QByteArray body, CancelToken token) {
    const QUrl url = request.url();
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty())
        co_return HttpResult{HttpError::invalidUrl, std::nullopt};
    if (token.isCancelled()) co_return HttpResult{HttpError::cancelled, std::nullopt};

    const HttpOptions options = options_;  // `this` may be gone when the reply finishes
    request.setTransferTimeout(options.requestTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    QNetworkReply* reply = body.isEmpty() && method == "GET"
                               ? manager_->get(request)
                               : manager_->sendCustomRequest(request, method, body);
    reply->setParent(manager_.get());
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> owned(
        reply, [](QNetworkReply* r) { r->deleteLater(); });

    HttpError forced = HttpError::none;
    QByteArray collected;
    auto failWith = [reply, &forced](HttpError error) {
        if (forced == HttpError::none) forced = error;
        reply->abort();
    };

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply,
                     [&failWith] { failWith(HttpError::timedOut); });
    deadline.start(options.resourceTimeoutMs);

    const qint64 cap = options.maxBodyBytes;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, cap, &failWith] {
        bool known = false;
        const qint64 length =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > cap) failWith(HttpError::tooLarge);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, cap, &collected, &failWith] {
        collected += reply->readAll();
        if (collected.size() > cap) failWith(HttpError::tooLarge);
    });
    const int cancelId = token.onCancel([&failWith] { failWith(HttpError::cancelled); });

    if (!reply->isFinished()) co_await qCoro(reply).waitForFinished(std::chrono::milliseconds(-1));
    token.removeOnCancel(cancelId);
    deadline.stop();
    if (forced == HttpError::none && reply->property("rillowCancelled").toBool())
        forced = HttpError::cancelled;
    if (forced != HttpError::none) co_return HttpResult{forced, std::nullopt};

    collected += reply->readAll();
    if (collected.size() > cap) co_return HttpResult{HttpError::tooLarge, std::nullopt};
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const HttpError error = classify(reply, status);
    if (error != HttpError::none) co_return HttpResult{error, std::nullopt};
    if (status <= 0) co_return HttpResult{HttpError::malformed, std::nullopt};

    HttpResponse response;
    response.status = status;
    response.body = std::move(collected);
    response.url = reply->url();
    for (const auto& pair : reply->rawHeaderPairs()) response.headers.append(pair);
    co_return HttpResult{HttpError::none, std::move(response)};
}

const char* httpErrorName(HttpError error) {
    switch (error) {
        case HttpError::none: return "none";
        case HttpError::invalidUrl: return "invalidUrl";
        case HttpError::timedOut: return "timedOut";
        case HttpError::tooLarge: return "tooLarge";
        case HttpError::network: return "network";
        case HttpError::truncated: return "truncated";
        case HttpError::malformed: return "malformed";
        case HttpError::cancelled: return "cancelled";
    }
    return "unknown";
}

}  // namespace rillow
