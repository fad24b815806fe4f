#include "search/Gather.h"

#include <QTimer>

namespace rillow {

QCoro::Task<HttpResult> getWithin(std::shared_ptr<HttpSession> session, QUrl url,
                                  std::chrono::milliseconds limit, CancelToken token) {
    // The request runs under its own token, cancelled by the caller's or by the timer.
    CancelToken request;
    const int link = token.onCancel([request] { request.cancel(); });
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % early
    QObject::connect(&timer, &QTimer::timeout, [request] { request.cancel(); });
    timer.start(limit);
    HttpResult result = co_await session->get(std::move(url), request);
    timer.stop();
    token.removeOnCancel(link);
    co_return result;
}

}  // namespace rillow
