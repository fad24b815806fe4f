#include "platform/Tasks.h"

#include <QCoroSignal>
#include <QTimer>
#include <utility>

namespace rillow {

struct CancelToken::State {
    bool cancelled = false;
    int nextId = 1;
    std::vector<std::pair<int, std::function<void()>>> callbacks;
};

CancelToken::CancelToken() : state_(std::make_shared<State>()) {}

bool CancelToken::isCancelled() const {
    return state_->cancelled;
}

void CancelToken::cancel() const {
    if (state_->cancelled) return;
    state_->cancelled = true;
    // A callback may register or remove others; run a detached copy.
    auto callbacks = std::exchange(state_->callbacks, {});
    for (auto& entry : callbacks) entry.second();
}

int CancelToken::onCancel(std::function<void()> callback) const {
    if (state_->cancelled) {
        callback();
        return 0;
    }
    const int id = state_->nextId++;
    state_->callbacks.emplace_back(id, std::move(callback));
    return id;
}

void CancelToken::removeOnCancel(int id) const {
    auto& callbacks = state_->callbacks;
    for (auto it = callbacks.begin(); it != callbacks.end(); ++it) {
        if (it->first == id) {
            callbacks.erase(it);
            return;
        }
    }
}

void TaskHandle::cancel() const {
    if (state_) state_->token.cancel();
}

bool TaskHandle::isCancelled() const {
    return state_ && state_->token.isCancelled();
}

bool TaskHandle::isRunning() const {
    return state_ && state_->running;
}

CancelToken TaskHandle::token() const {
    return state_ ? state_->token : CancelToken();
}

QCoro::Task<bool> sleepFor(std::chrono::milliseconds delay, CancelToken token) {
    if (token.isCancelled()) co_return false;
    // Qt's timers run on the monotonic clock; a precise timer keeps short delays exact.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    bool cancelled = false;
    const int id = token.onCancel([&timer, &cancelled] {
        cancelled = true;
        timer.start(0);  // resume the awaiting coroutine on the next turn of the event loop
    });
    timer.start(delay);
    co_await qCoro(&timer, &QTimer::timeout);
    token.removeOnCancel(id);
    co_return !cancelled;
}

}  // namespace rillow
