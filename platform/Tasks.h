#pragma once
// Main-thread tasks over C++20 coroutines (QCoro).
//
// A task is a QCoro::Task<> coroutine started on the main thread by `startTask`. Cancellation is
// cooperative: the task receives a `CancelToken`, every awaitable here that can wait takes it and
// ends early when it is cancelled, and the body checks `isCancelled()` after each await.
// Ownership: `startTask` keeps the body's callable alive until the coroutine ends; a body that
// needs its owner holds it weakly (QPointer) and returns once it is gone. When an owner object is
// given, its destruction cancels the task. Coroutine lambdas must take what they use as
// parameters or captures of the callable passed here, never references to the caller's frame.
//
// Thread: `CancelToken`, `TaskHandle`, `startTask` and `sleepFor` are main-thread only.
// `runInBackground` runs its work on Qt's global thread pool and resumes on the awaiting thread.

#include <QCoroFuture>
#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace rillow {

class CancelToken {
public:
    CancelToken();

    bool isCancelled() const;
    // Sets the flag and runs the registered callbacks once, in registration order.
    void cancel() const;

    // Runs `callback` when the token is cancelled (at once when it already is). The returned id
    // removes it again; removing an id that already ran is harmless.
    int onCancel(std::function<void()> callback) const;
    void removeOnCancel(int id) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

class TaskHandle {
public:
    TaskHandle() = default;

    void cancel() const;
    bool isCancelled() const;
    // True while the coroutine has not yet returned.
    bool isRunning() const;
    CancelToken token() const;

private:
    template <class Body>
    friend TaskHandle startTask(QObject* owner, Body body);
    struct State {
        CancelToken token;
        bool running = true;
    };
    std::shared_ptr<State> state_;
};

namespace detail {
template <class Body, class State>
QCoro::Task<> runBody(std::shared_ptr<Body> body, std::shared_ptr<State> state) {
    co_await (*body)(state->token);
    state->running = false;
}
}  // namespace detail

// Starts `body(token)` at once; it runs until its first suspension before this returns.
// `owner` may be null; when given, destroying it cancels the task.
template <class Body>
TaskHandle startTask(QObject* owner, Body body) {
    TaskHandle handle;
    handle.state_ = std::make_shared<TaskHandle::State>();
    if (owner != nullptr) {
        CancelToken token = handle.state_->token;
        QObject::connect(owner, &QObject::destroyed, [token] { token.cancel(); });
    }
    detail::runBody(std::make_shared<Body>(std::move(body)), handle.state_);
    return handle;
}

// Waits `delay` on the monotonic clock. True when the delay elapsed, false when `token` was
// cancelled first (at once when it already was).
QCoro::Task<bool> sleepFor(std::chrono::milliseconds delay, CancelToken token = {});

// Runs `work()` on a background worker and resumes on the awaiting (main) thread with its result.
template <class F>
auto runInBackground(F work) -> QCoro::Task<std::invoke_result_t<F>> {
    co_return co_await QtConcurrent::run(std::move(work));
}

}  // namespace rillow
