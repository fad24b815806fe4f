#include "playback/SerialQueue.h"

#include <pthread.h>

namespace rillow {

SerialQueue::SerialQueue(std::string name)
    : _name(std::move(name)), _state(std::make_shared<State>()) {
    _thread = std::thread(&SerialQueue::run, _state, _name);
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(_state->lock);
        _state->stopping = true;
    }
    _state->wake.notify_all();
    if (_thread.get_id() == std::this_thread::get_id())
        _thread.detach();
    else
        _thread.join();
}

void SerialQueue::run(std::shared_ptr<State> state, std::string name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> next;
        {
            std::unique_lock guard(state->lock);
            state->wake.wait(guard, [&] { return state->stopping || !state->work.empty(); });
            if (state->work.empty()) return;  // stopping, and everything queued has run
            next = std::move(state->work.front());
            state->work.pop_front();
        }
        next();
    }
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard guard(_state->lock);
        _state->work.push_back(std::move(work));
    }
    _state->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::mutex doneLock;
    std::condition_variable doneWake;
    bool done = false;  // guarded by doneLock
    async([&] {
        work();
        {
            std::lock_guard guard(doneLock);
            done = true;
        }
        doneWake.notify_one();
    });
    std::unique_lock guard(doneLock);
    doneWake.wait(guard, [&] { return done; });
}

bool SerialQueue::isCurrent() const {
    return _thread.get_id() == std::this_thread::get_id();
}

}  // namespace rillow
