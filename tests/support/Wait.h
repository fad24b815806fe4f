#pragma once
// Event-loop helpers for tests. Main thread.

#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <functional>

namespace rillow::test {

// Processes events until `done()` is true or `timeoutMs` passes; returns `done()`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10'000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Runs the event loop until `task` finishes and returns its result.
template <class T>
T await(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

}  // namespace rillow::test
