#include "engine/RTStreamProtocol.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <thread>

namespace rillow {

namespace {

constexpr auto kMetadataPoll = std::chrono::milliseconds(50);

// mpv's cookie: one strong reference to the reader, dropped by close_fn.
using Cookie = std::shared_ptr<RTPieceReader>;

RTPieceReader& readerOf(void* cookie) {
    return **static_cast<Cookie*>(cookie);
}

int64_t readStream(void* cookie, char* buffer, uint64_t length) {
    const uint64_t capped = std::min<uint64_t>(length, std::numeric_limits<int64_t>::max());
    return readerOf(cookie).read(buffer, static_cast<int64_t>(capped));
}

int64_t seekStream(void* cookie, int64_t offset) {
    const int64_t position = readerOf(cookie).seekTo(offset);
    return position < 0 ? int64_t{MPV_ERROR_GENERIC} : position;
}

int64_t streamSize(void* cookie) {
    const int64_t size = readerOf(cookie).size();
    return size < 1 ? int64_t{MPV_ERROR_UNSUPPORTED} : size;
}

void closeStream(void* cookie) {
    delete static_cast<Cookie*>(cookie);
}

void cancelStream(void* cookie) {
    readerOf(cookie).cancel();
}

int openStream(void* userData, char* uri, mpv_stream_cb_info* info) {
    const auto* protocol = static_cast<const RTStreamProtocol*>(userData);
    std::shared_ptr<RTPieceReader> reader =
        protocol && uri ? protocol->openReaderForURI(uri) : nullptr;
    if (!reader) return MPV_ERROR_LOADING_FAILED;
    info->cookie = new Cookie(std::move(reader));
    info->read_fn = &readStream;
    info->seek_fn = &seekStream;
    info->size_fn = &streamSize;
    info->close_fn = &closeStream;
    info->cancel_fn = &cancelStream;
    return 0;
}

}  // namespace

RTStreamProtocol::RTStreamProtocol(std::shared_ptr<RTSession> session)
    : _session(std::move(session)) {}

bool RTStreamProtocol::registerProtocolOnMPVHandle(mpv_handle* mpv) {
    if (!mpv) return false;
    return mpv_stream_cb_add_ro(mpv, kScheme, this, &openStream) >= 0;
}

std::optional<RTStreamProtocol::StreamURI> RTStreamProtocol::parseURI(const std::string& uri) {
    std::string rest = uri;
    if (const size_t scheme = rest.find("://"); scheme != std::string::npos)
        rest = rest.substr(scheme + 3);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) return std::nullopt;
    std::string key = rest.substr(0, slash);
    const size_t indexEnd = rest.find('/', slash + 1);
    const std::string indexText = rest.substr(
        slash + 1, indexEnd == std::string::npos ? std::string::npos : indexEnd - slash - 1);
    if (key.empty() || indexText.empty()) return std::nullopt;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // strtoll: leading white space and a sign allowed, trailing text ignored, no number is 0.
    const long long index = std::strtoll(indexText.c_str(), nullptr, 10);
    return StreamURI{std::move(key), static_cast<std::int64_t>(index)};
}

std::string RTStreamProtocol::uriFor(const std::string& infoHash, std::int64_t fileIndex) {
    return std::string(kScheme) + "://" + infoHash + "/" + std::to_string(fileIndex);
}

std::shared_ptr<RTPieceReader> RTStreamProtocol::openReaderForURI(const std::string& uri) const {
    if (!_session || uri.empty()) return nullptr;
    const std::optional<StreamURI> parsed = parseURI(uri);
    if (!parsed) return nullptr;
    const std::shared_ptr<RTHandle> handle = _session->handleForInfoHash(parsed->infoHash);
    if (!handle) return nullptr;

    const double timeout = metadataTimeout();
    const auto limit = std::chrono::duration<double>(timeout > 0 ? timeout : 0.0);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (handle->hasMetadata()) {
            const auto fileCount = static_cast<std::int64_t>(handle->files().size());
            if (parsed->fileIndex < 0 || parsed->fileIndex >= fileCount) return nullptr;
            auto reader = std::make_shared<RTPieceReader>(handle, parsed->fileIndex);
            _session->registerPieceReader(reader);
            {
                std::lock_guard guard(_readersLock);
                std::erase_if(_readers, [](const auto& weak) { return weak.expired(); });
                _readers.push_back(reader);
            }
            return reader;
        }
        if (std::chrono::steady_clock::now() - start >= limit) return nullptr;
        std::this_thread::sleep_for(kMetadataPoll);
    }
}

}  // namespace rillow

namespace rillow {

int RTStreamProtocol::liveReaderCount() const {
    std::lock_guard guard(_readersLock);
    return static_cast<int>(std::count_if(_readers.begin(), _readers.end(),
                                          [](const auto& weak) { return !weak.expired(); }));
}

}  // namespace rillow
