#pragma once
// A serial executor: one named worker thread that runs queued work in order.
//
// Threads: `async` and `sync` may be called from any thread. Work runs on the worker thread,
// never concurrently with other work of the same queue. `sync` blocks until its work has run;
// called on the worker thread itself it runs the work inline (so it cannot deadlock).
// Ownership: the queue owns its thread. Destruction runs the work already queued, then joins
// the thread; destroying the queue from its own worker thread detaches the thread instead,
// which finishes the queued work and exits on its own.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace rillow {

class SerialQueue {
public:
    // `name` labels the thread (pthread_setname_np keeps at most 15 characters).
    explicit SerialQueue(std::string name);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues `work` and returns at once.
    void async(std::function<void()> work);
    // Queues `work` and waits until it has run.
    void sync(const std::function<void()>& work);
    // Whether the calling thread is this queue's worker.
    bool isCurrent() const;
    const std::string& name() const { return _name; }

private:
    struct State {
        std::mutex lock;
        std::condition_variable wake;
        // Guarded by `lock`.
        std::deque<std::function<void()>> work;
        bool stopping = false;
    };
    static void run(std::shared_ptr<State> state, std::string name);

    std::string _name;
    std::shared_ptr<State> _state;  // shared with the worker, which may outlive a detached queue
    std::thread _thread;
};

}  // namespace rillow
