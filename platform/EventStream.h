#pragma once
// An unbounded first-in-first-out stream from any thread to the main thread.
//
// `Sink::push` may be called from any thread; it takes a short lock, never waits for the
// consumer and never drops an event. The consumer runs on the thread that created the stream
// (the main thread), receiving events one by one in arrival order. Destroying the stream (on
// its own thread) stops delivery; sinks kept elsewhere then push into nothing.

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace rillow {

template <class T>
class EventStream {
    struct Shared {
        // Guarded by mutex.
        std::mutex mutex;
        std::deque<T> queue;
        bool wakePending = false;
        QObject* receiver = nullptr;  // null once the stream is gone
    };

public:
    class Sink {
    public:
        void push(T event) const {
            std::lock_guard lock(shared_->mutex);
            if (!shared_->receiver) return;
            shared_->queue.push_back(std::move(event));
            if (shared_->wakePending) return;
            shared_->wakePending = true;
            // Posting under the lock keeps the receiver alive for the call; Qt drops events
            // posted to an object that is deleted later.
            std::weak_ptr<Shared> weak = shared_;
            QMetaObject::invokeMethod(
                shared_->receiver, [weak] { drain(weak); }, Qt::QueuedConnection);
        }

    private:
        friend class EventStream;
        explicit Sink(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
        std::shared_ptr<Shared> shared_;
    };

    explicit EventStream(std::function<void(T)> consumer)
        : shared_(std::make_shared<Shared>()), receiver_(std::make_unique<Receiver>()) {
        receiver_->consumer = std::move(consumer);
        receiver_->shared = shared_;
        shared_->receiver = receiver_.get();
    }

    ~EventStream() {
        std::lock_guard lock(shared_->mutex);
        shared_->receiver = nullptr;
        shared_->queue.clear();
    }

    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    Sink sink() const { return Sink(shared_); }

private:
    struct Receiver : QObject {
        std::function<void(T)> consumer;
        std::weak_ptr<Shared> shared;
    };

    static void drain(const std::weak_ptr<Shared>& weak) {
        auto shared = weak.lock();
        if (!shared) return;
        while (true) {
            std::function<void(T)> consumer;
            T event;
            {
                std::lock_guard lock(shared->mutex);
                if (!shared->receiver || shared->queue.empty()) {
                    shared->wakePending = false;
                    return;
                }
                event = std::move(shared->queue.front());
                shared->queue.pop_front();
                consumer = static_cast<Receiver*>(shared->receiver)->consumer;
            }
            // No lock held while the consumer runs; it may push, or destroy the stream.
            if (consumer) consumer(std::move(event));
        }
    }

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<Receiver> receiver_;
};

}  // namespace rillow
