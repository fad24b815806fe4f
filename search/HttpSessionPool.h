#pragma once
// A few HTTP sessions of one configuration, handed out in turn.
//
// Qt Network keeps at most six connections per host and session and queues the rest, and the
// queue time counts against time limits. Searches send many requests to one host at once (an
// indexer proxy serving several feeds; one addon asked for eight titles), so each request takes
// the next session of the pool. Main thread only; the pool owns its sessions, and each request
// keeps the session it was given alive through the shared pointer.

#include "platform/HttpSession.h"

#include <memory>
#include <vector>

namespace rillow {

class HttpSessionPool {
public:
    static constexpr int defaultSize = 4;

    explicit HttpSessionPool(HttpOptions options, int size = defaultSize);

    const HttpOptions& options() const { return options_; }
    std::shared_ptr<HttpSession> next();

private:
    HttpOptions options_;
    std::vector<std::shared_ptr<HttpSession>> sessions_;
    size_t next_ = 0;
};

}  // namespace rillow
