#pragma once
// Records what an MPVClient reports, from its queue, for tests on the main thread.
#include "playback/MPVClient.h"

#include <pthread.h>

#include <algorithm>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rillow::test {

class MPVRecorder {
public:
    struct Property {
        QString name;
        MPVValue value;
    };

    // Installs the recorder's callbacks on `client`.
    void attach(MPVClient& client) {
        client.setOnProperty([this](const QString& name, const MPVValue& value) {
            std::lock_guard guard(_lock);
            _properties.push_back({name, value});
            _threads.push_back(threadName());
        });
        client.setOnEvent([this](uint32_t id) {
            std::lock_guard guard(_lock);
            _events.push_back(id);
            _threads.push_back(threadName());
        });
    }

    std::vector<Property> properties() const {
        std::lock_guard guard(_lock);
        return _properties;
    }
    std::vector<uint32_t> events() const {
        std::lock_guard guard(_lock);
        return _events;
    }
    std::vector<std::string> threads() const {
        std::lock_guard guard(_lock);
        return _threads;
    }
    size_t eventCount(uint32_t id) const {
        std::lock_guard guard(_lock);
        return static_cast<size_t>(std::count(_events.begin(), _events.end(), id));
    }
    // The last value reported for `name`.
    std::optional<MPVValue> last(const QString& name) const {
        std::lock_guard guard(_lock);
        for (auto it = _properties.rbegin(); it != _properties.rend(); ++it)
            if (it->name == name) return it->value;
        return std::nullopt;
    }
    std::optional<double> lastDouble(const QString& name) const {
        const auto value = last(name);
        return value ? value->toDouble() : std::nullopt;
    }

    static std::string threadName() {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        return name;
    }

private:
    mutable std::mutex _lock;
    // Guarded by `_lock`.
    std::vector<Property> _properties;
    std::vector<uint32_t> _events;
    std::vector<std::string> _threads;
};

}  // namespace rillow::test
