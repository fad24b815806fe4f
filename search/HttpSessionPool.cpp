#include "search/HttpSessionPool.h"

namespace rillow {

HttpSessionPool::HttpSessionPool(HttpOptions options, int size) : options_(options) {
    for (int i = 0; i < std::max(size, 1); ++i)
        sessions_.push_back(std::make_shared<HttpSession>(options));
}

std::shared_ptr<HttpSession> HttpSessionPool::next() {
    std::shared_ptr<HttpSession> session = sessions_[next_];
    next_ = (next_ + 1) % sessions_.size();
    return session;
}

}  // namespace rillow
