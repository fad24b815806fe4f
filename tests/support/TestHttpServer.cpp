#include "tests/support/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace rillow::test {

namespace {

const char* reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

bool sendAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads one request; false when the peer closed or sent garbage.
bool readRequest(int fd, TestRequest& request) {
    std::string buffer;
    char chunk[4096];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
        if (buffer.size() > 1 << 20) return false;
    }
    const std::string head = buffer.substr(0, headerEnd);
    std::string rest = buffer.substr(headerEnd + 4);
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    const size_t q = request.target.find('?');
    request.path = request.target.substr(0, q);
    request.query = q == std::string::npos ? std::string() : request.target.substr(q + 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        const std::string line = head.substr(pos, end - pos);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            request.headers[lower(line.substr(0, colon))] = value;
        }
        pos = end + 2;
    }
    size_t length = 0;
    if (auto it = request.headers.find("content-length"); it != request.headers.end())
        length = std::stoul(it->second);
    while (rest.size() < length) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        rest.append(chunk, static_cast<size_t>(n));
    }
    request.body = rest.substr(0, length);
    return true;
}

}  // namespace

TestResponse TestResponse::text(std::string body, std::string contentType) {
    TestResponse response;
    response.body = std::move(body);
    response.headers.emplace_back("Content-Type", std::move(contentType));
    return response;
}

TestResponse TestResponse::withStatus(int code, std::string body) {
    TestResponse response = text(std::move(body), "text/html");
    response.status = code;
    return response;
}

TestHttpServer::TestHttpServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0)
        throw std::runtime_error("bind/listen on 127.0.0.1");
    socklen_t size = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop();
}

QString TestHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

void TestHttpServer::route(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    exact_[path] = std::move(handler);
}

void TestHttpServer::route(const std::string& path, TestResponse fixed) {
    route(path, [fixed](const TestRequest&) { return fixed; });
}

void TestHttpServer::routePrefix(const std::string& prefix, Handler handler) {
    std::lock_guard lock(mutex_);
    prefixes_[prefix] = std::move(handler);
}

std::vector<TestRequest> TestHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

int TestHttpServer::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(log_.begin(), log_.end(),
                                          [&](const TestRequest& r) { return r.path == path; }));
}

TestHttpServer::Handler TestHttpServer::find(const std::string& path) const {
    std::lock_guard lock(mutex_);
    if (auto it = exact_.find(path); it != exact_.end()) return it->second;
    const Handler* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [prefix, handler] : prefixes_) {
        if (path.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= bestLength) {
            best = &handler;
            bestLength = prefix.size();
        }
    }
    return best ? *best : Handler();
}

bool TestHttpServer::pause(int ms) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return stopping_.load(); });
}

void TestHttpServer::stop() {
    if (stopping_.exchange(true)) return;
    {
        std::lock_guard lock(mutex_);
        for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& thread : threads) thread.join();
    ::close(listenFd_);
}

void TestHttpServer::acceptLoop() {
    while (!stopping_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (stopping_.load()) {
            ::close(fd);
            break;
        }
        openFds_.push_back(fd);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void TestHttpServer::serve(int fd) {
    TestRequest request;
    const bool parsed = readRequest(fd, request);
    TestResponse response;
    bool answer = parsed;
    if (parsed) {
        {
            std::lock_guard lock(mutex_);
            log_.push_back(request);
        }
        Handler handler = find(request.path);
        response = handler ? handler(request) : TestResponse::withStatus(404, "not found");
        if (response.delayMs > 0 && !pause(response.delayMs)) answer = false;
        if (response.stall) {
            while (pause(1000)) {
            }
            answer = false;
        }
    }
    if (answer) {
        const long long total = response.generatedBodyBytes >= 0
                                    ? response.generatedBodyBytes
                                    : static_cast<long long>(response.body.size());
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                           reasonPhrase(response.status) + "\r\n";
        for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
        if (response.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else
            head += "Content-Length: " + std::to_string(total) + "\r\n";
        head += "Connection: close\r\n\r\n";
        bool ok = sendAll(fd, head.data(), head.size());

        const long long limit =
            response.cutAfterBytes >= 0 ? std::min(response.cutAfterBytes, total) : total;
        const long long step = response.dripBytes > 0 ? response.dripBytes : 64 * 1024;
        std::string piece;
        for (long long sent = 0; ok && sent < limit;) {
            const long long n = std::min(step, limit - sent);
            if (response.generatedBodyBytes >= 0)
                piece.assign(static_cast<size_t>(n), 'x');
            else
                piece = response.body.substr(static_cast<size_t>(sent), static_cast<size_t>(n));
            if (response.chunked) {
                char size[32];
                std::snprintf(size, sizeof size, "%llx\r\n", n);
                piece = size + piece + "\r\n";
            }
            ok = sendAll(fd, piece.data(), piece.size());
            sent += n;
            if (ok && response.dripBytes > 0 && response.dripIntervalMs > 0 && sent < limit)
                ok = pause(response.dripIntervalMs);
        }
        if (ok && response.chunked && response.cutAfterBytes < 0) sendAll(fd, "0\r\n\r\n", 5);
    }
    if (response.resetOnClose) {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
        ::shutdown(fd, SHUT_WR);
    }
    {
        std::lock_guard lock(mutex_);
        openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    }
    ::close(fd);
}

}  // namespace rillow::test
