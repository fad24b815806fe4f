#include "engine/RTSession.h"

#include "engine/InfoHashKey.h"
#include "engine/RTPieceReader.h"
#include "platform/AtomicFile.h"
#include "platform/Network.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/fingerprint.hpp>
#include <libtorrent/magnet_uri.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/version.hpp>
#include <libtorrent/write_resume_data.hpp>

namespace rillow {

namespace {

constexpr auto kAlertMask = lt::alert_category::error | lt::alert_category::storage |
                            lt::alert_category::status | lt::alert_category::performance_warning |
                            lt::alert_category::piece_progress;
static_assert(static_cast<std::uint32_t>(kAlertMask) == 0x400249);

// Resume files carry the info dictionary; anything far beyond that is not ours.
constexpr std::uintmax_t kMaxResumeFileBytes = 256u * 1024 * 1024;

void applyLoopbackSettings(lt::settings_pack& pack) {
    pack.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    pack.set_bool(lt::settings_pack::enable_dht, false);
    pack.set_bool(lt::settings_pack::enable_lsd, false);
    pack.set_bool(lt::settings_pack::enable_upnp, false);
    pack.set_bool(lt::settings_pack::enable_natpmp, false);
}

lt::settings_pack sessionSettings() {
    lt::settings_pack pack;
    pack.set_bool(lt::settings_pack::enable_dht, true);
    pack.set_bool(lt::settings_pack::enable_lsd, true);
    pack.set_bool(lt::settings_pack::enable_upnp, true);
    pack.set_bool(lt::settings_pack::enable_natpmp, true);
    pack.set_bool(lt::settings_pack::announce_to_all_trackers, true);
    pack.set_bool(lt::settings_pack::announce_to_all_tiers, true);
    pack.set_int(lt::settings_pack::choking_algorithm, lt::settings_pack::fixed_slots_choker);
    pack.set_int(lt::settings_pack::unchoke_slots_limit, 0);
    pack.set_str(lt::settings_pack::peer_fingerprint, lt::generate_fingerprint("QZ", 1, 0, 0, 0));
    pack.set_int(lt::settings_pack::alert_mask, static_cast<int>(kAlertMask));
    if (isLoopbackMode()) applyLoopbackSettings(pack);
    return pack;
}

// A saved path is trusted only when absolute and free of ".." components: resume files live on
// disk where anything may have edited them.
bool isSafeSavePath(const std::string& path) {
    if (path.empty() || path.front() != '/') return false;
    for (const auto& component : std::filesystem::path(path)) {
        if (component == "..") return false;
    }
    return true;
}

std::string keyOfParams(const lt::add_torrent_params& params) {
    if (params.ti) return infoHashKey(params.ti->info_hashes());
    return infoHashKey(params.info_hashes);
}

bool readWholeFile(const std::filesystem::path& path, std::vector<char>& out) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxResumeFileBytes) return false;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return false;
    out.resize(static_cast<std::size_t>(size));
    stream.read(out.data(), static_cast<std::streamsize>(size));
    return static_cast<std::uintmax_t>(stream.gcount()) == size;
}

std::optional<std::string> errorText(const lt::error_code& error) {
    return error.message();
}

}  // namespace

RTSession::RTSession(std::string downloadPath, std::string statePath)
    : _downloadPath(std::move(downloadPath)), _statePath(std::move(statePath)) {
    _running.store(true);
    try {
        lt::session_params params(sessionSettings());
        _session = std::make_shared<lt::session>(std::move(params));
    } catch (...) {
        _session.reset();
    }
    startAlertThread();
}

RTSession::~RTSession() {
    shutdown();
}

std::shared_ptr<lt::session> RTSession::nativeSession() const {
    std::lock_guard lock(_sessionLock);
    return _session;
}

RTSession::AlertHandler RTSession::alertHandler() const {
    std::lock_guard lock(_handlerLock);
    return _alertHandler;
}

void RTSession::setAlertHandler(AlertHandler handler) {
    std::lock_guard lock(_handlerLock);
    _alertHandler = std::move(handler);
}

std::shared_ptr<RTHandle> RTSession::addMagnet(const std::string& text) {
    lt::error_code error;
    lt::add_torrent_params params = lt::parse_magnet_uri(text, error);
    if (error) return nullptr;
    const std::string key = keyOfParams(params);
    if (key.empty()) return nullptr;
    if (auto existing = handleForInfoHash(key)) return existing;

    std::vector<char> saved;
    if (readWholeFile(resumePathForHex(key), saved)) {
        lt::error_code resumeError;
        lt::add_torrent_params resumed = lt::read_resume_data(saved, resumeError);
        // A resume file of another torrent under this name (edited, or a copy) is not used.
        if (!resumeError && keyOfParams(resumed) == key) {
            for (const std::string& tracker : params.trackers) {
                if (std::find(resumed.trackers.begin(), resumed.trackers.end(), tracker) ==
                    resumed.trackers.end())
                    resumed.trackers.push_back(tracker);
            }
            params = std::move(resumed);
        }
    }
    return addParams(params);
}

std::shared_ptr<RTHandle> RTSession::addTorrentData(std::span<const char> bytes) {
    if (bytes.empty()) return nullptr;
    lt::error_code error;
    auto info = std::make_shared<lt::torrent_info>(
        lt::span<const char>(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size())), error,
        lt::from_span);
    if (error) return nullptr;
    lt::add_torrent_params params;
    params.ti = std::move(info);
    params.save_path = downloadPath();
    return addParams(params);
}

std::shared_ptr<RTHandle> RTSession::addResumeData(std::span<const char> bytes) {
    if (bytes.empty()) return nullptr;
    lt::error_code error;
    lt::add_torrent_params params = lt::read_resume_data(
        lt::span<const char>(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size())), error);
    if (error) return nullptr;
    return addParams(params);
}

std::shared_ptr<RTHandle> RTSession::addParams(lt::add_torrent_params& params) {
    if (!isSafeSavePath(params.save_path)) params.save_path = downloadPath();
    if (params.save_path.empty()) return nullptr;
    const auto session = nativeSession();
    if (!session) return nullptr;
    lt::error_code error;
    lt::torrent_handle handle;
    try {
        handle = session->add_torrent(std::move(params), error);
    } catch (...) {
        return nullptr;
    }
    if (error) return nullptr;
    return registerHandle(handle);
}

std::vector<std::shared_ptr<RTHandle>> RTSession::restoreSavedTorrents() {
    std::vector<std::shared_ptr<RTHandle>> restored;
    std::error_code error;
    std::filesystem::directory_iterator entries(_statePath, error);
    if (error) return restored;
    for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) break;
        const std::filesystem::path& path = it->path();
        if (path.extension() != ".resume") continue;
        std::vector<char> bytes;
        if (!readWholeFile(path, bytes)) continue;
        if (auto handle = addResumeData(bytes)) restored.push_back(std::move(handle));
    }
    return restored;
}

std::shared_ptr<RTHandle> RTSession::handleForInfoHash(const std::string& infoHash) const {
    std::lock_guard lock(_handlesLock);
    const auto it = _handles.find(infoHash);
    return it == _handles.end() ? nullptr : it->second;
}

std::shared_ptr<RTHandle> RTSession::registerHandle(const lt::torrent_handle& handle) {
    if (!handle.is_valid()) return nullptr;
    auto wrapper = std::make_shared<RTHandle>(handle);
    const std::string key = wrapper->infoHash();
    if (key.empty()) return nullptr;
    std::lock_guard lock(_handlesLock);
    _handles[key] = wrapper;
    return wrapper;
}

bool RTSession::isRegistered(const std::string& infoHash) const {
    std::lock_guard lock(_handlesLock);
    return _handles.count(infoHash) != 0;
}

void RTSession::removeTorrent(const std::shared_ptr<RTHandle>& handle) {
    if (!handle) return;
    const std::string key = handle->infoHash();
    if (const auto session = nativeSession()) {
        try {
            if (handle->handle().is_valid())
                session->remove_torrent(handle->handle(), lt::session::delete_files);
        } catch (...) {
        }
    }
    if (!key.empty()) {
        {
            std::lock_guard lock(_handlesLock);
            const auto it = _handles.find(key);
            if (it != _handles.end() && it->second->handle() == handle->handle())
                _handles.erase(it);
        }
        std::error_code ignored;
        std::filesystem::remove(resumePathForHex(key), ignored);
    }
}

std::string RTSession::downloadPath() const {
    std::lock_guard lock(_pathLock);
    return _downloadPath;
}

void RTSession::setDownloadPath(const std::string& path) {
    if (path.empty()) return;
    std::lock_guard lock(_pathLock);
    _downloadPath = path;
}

void RTSession::applySeedingEnabled(bool enabled) {
    const auto session = nativeSession();
    if (!session) return;
    lt::settings_pack pack;
    pack.set_int(lt::settings_pack::choking_algorithm, enabled
                                                           ? lt::settings_pack::rate_based_choker
                                                           : lt::settings_pack::fixed_slots_choker);
    pack.set_int(lt::settings_pack::unchoke_slots_limit, enabled ? 8 : 0);
    session->apply_settings(std::move(pack));
}

void RTSession::requestResumeData(const lt::torrent_handle& handle) {
    try {
        handle.save_resume_data(lt::torrent_handle::save_info_dict);
    } catch (...) {
    }
}

void RTSession::requestResumeDataForAllTorrents() {
    std::vector<lt::torrent_handle> handles;
    {
        std::lock_guard lock(_handlesLock);
        for (const auto& [key, wrapper] : _handles) handles.push_back(wrapper->handle());
    }
    // The queries wait for libtorrent's network thread, so they run outside the registry lock.
    for (const lt::torrent_handle& handle : handles) {
        try {
            if (handle.is_valid() && handle.need_save_resume_data()) requestResumeData(handle);
        } catch (...) {
        }
    }
}

void RTSession::postTorrentUpdates() {
    if (const auto session = nativeSession()) session->post_torrent_updates();
}

void RTSession::pause() {
    if (const auto session = nativeSession()) session->pause();
}

void RTSession::resume() {
    if (const auto session = nativeSession()) session->resume();
}

bool RTSession::isPaused() const {
    const auto session = nativeSession();
    return session && session->is_paused();
}

void RTSession::drainResumeDataSynchronously() {
    const auto session = nativeSession();
    if (!session) return;
    std::vector<lt::torrent_handle> handles;
    {
        std::lock_guard lock(_handlesLock);
        for (const auto& [key, wrapper] : _handles) {
            if (wrapper->handle().is_valid()) handles.push_back(wrapper->handle());
        }
    }
    int outstanding = 0;
    for (const lt::torrent_handle& handle : handles) {
        try {
            if (!handle.need_save_resume_data()) continue;
        } catch (...) {
            continue;
        }
        requestResumeData(handle);
        ++outstanding;
    }
    if (outstanding == 0) return;

    const auto start = std::chrono::steady_clock::now();
    std::vector<lt::alert*> alerts;
    while (outstanding > 0) {
        if (std::chrono::steady_clock::now() - start >= kDrainLimit) break;
        session->wait_for_alert(kAlertWait);
        session->pop_alerts(&alerts);
        for (const lt::alert* alert : alerts) {
            if (lt::alert_cast<lt::save_resume_data_alert>(alert)) {
                writeResumeAlert(alert);
                --outstanding;
            } else if (lt::alert_cast<lt::save_resume_data_failed_alert>(alert)) {
                --outstanding;
            }
        }
    }
}

void RTSession::shutdown() {
    _running.exchange(false);
    // Called from the alert handler: the loop ends after this pass, but the thread cannot join
    // itself; the rest happens when the owner shuts down or destroys the session elsewhere.
    if (std::this_thread::get_id() == _alertThread.get_id()) return;
    std::lock_guard shutdownLock(_shutdownLock);
    if (_alertThread.joinable()) _alertThread.join();
    std::shared_ptr<lt::session> session;
    {
        std::lock_guard lock(_sessionLock);
        if (!_session) return;
    }
    drainResumeDataSynchronously();
    {
        std::lock_guard lock(_sessionLock);
        session = std::move(_session);
    }
    session.reset();  // stops libtorrent and waits for it (unless another thread still uses it)
}

void RTSession::registerPieceReader(const std::shared_ptr<RTPieceReader>& reader) {
    if (!reader) return;
    std::lock_guard lock(_readersLock);
    std::erase_if(_readers,
                  [](const std::weak_ptr<RTPieceReader>& entry) { return entry.expired(); });
    _readers.push_back(reader);
}

void RTSession::signalReadersForInfoHash(const std::string& infoHash, std::int64_t piece) {
    std::vector<std::shared_ptr<RTPieceReader>> live;
    {
        std::lock_guard lock(_readersLock);
        live.reserve(_readers.size());
        for (const auto& entry : _readers) {
            if (auto reader = entry.lock()) live.push_back(std::move(reader));
        }
    }
    for (const auto& reader : live) {
        if (reader->infoHash() == infoHash) reader->pieceBecameAvailable(piece);
    }
}

std::string RTSession::resumePathForHex(const std::string& infoHash) const {
    return (std::filesystem::path(_statePath) / (infoHash + ".resume")).string();
}

void RTSession::writeResumeBuffer(std::span<const char> bytes, const std::string& infoHash) const {
    if (infoHash.empty() || bytes.empty()) return;
    writeFileAtomically(QString::fromStdString(resumePathForHex(infoHash)),
                        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

int RTSession::listenPort() const {
    const auto session = nativeSession();
    return session ? session->listen_port() : 0;
}

std::string RTSession::keyForHandle(const lt::torrent_handle& handle) const {
    {
        std::lock_guard lock(_handlesLock);
        for (const auto& [key, wrapper] : _handles) {
            if (wrapper->handle() == handle) return key;
        }
    }
    try {
        return handle.is_valid() ? infoHashKey(handle.info_hashes()) : std::string();
    } catch (...) {
        return {};
    }
}

void RTSession::writeResumeAlert(const lt::alert* alert) {
    const auto* saved = lt::alert_cast<lt::save_resume_data_alert>(alert);
    if (!saved) return;
    const std::string key = keyForHandle(saved->handle);
    // A late answer for a torrent that was removed meanwhile must not bring its file back.
    if (key.empty() || !isRegistered(key)) return;
    const std::vector<char> bytes = lt::write_resume_data_buf(saved->params);
    writeResumeBuffer(bytes, key);
}

void RTSession::startAlertThread() {
    auto session = nativeSession();
    if (!session) {
        _running.store(false);
        return;
    }
    _alertThread = std::thread(
        [this, session = std::move(session)]() mutable { alertLoop(std::move(session)); });
}

void RTSession::alertLoop(std::shared_ptr<lt::session> session) {
    std::vector<lt::alert*> alerts;
    auto lastStatusRequest = std::chrono::steady_clock::now();
    while (_running.load()) {
        session->wait_for_alert(kAlertWait);
        session->pop_alerts(&alerts);
        for (const lt::alert* alert : alerts) dispatchAlert(alert);
        const auto now = std::chrono::steady_clock::now();
        if (now - lastStatusRequest >= kStatusInterval) {
            lastStatusRequest = now;
            session->post_torrent_updates();
        }
    }
}

void RTSession::dispatchAlert(const lt::alert* alert) {
    // Readers first: a blocked read must not wait behind disk writes or the handler.
    if (const auto* finished = lt::alert_cast<lt::piece_finished_alert>(alert)) {
        signalReadersForInfoHash(keyForHandle(finished->handle),
                                 static_cast<int>(finished->piece_index));
    }
    if (lt::alert_cast<lt::save_resume_data_alert>(alert)) writeResumeAlert(alert);

    const AlertHandler handler = alertHandler();
    if (!handler) return;

    auto recordFor = [&](RTAlertType type, const lt::torrent_handle& handle,
                         std::optional<std::string> message = std::nullopt) {
        RTAlert record(type);
        record.infoHash = keyForHandle(handle);
        record.errorMessage = std::move(message);
        return record;
    };

    switch (alert->type()) {
        case lt::add_torrent_alert::alert_type: {
            const auto* a = lt::alert_cast<lt::add_torrent_alert>(alert);
            if (a->error) return;  // a failed add has no torrent to report
            handler(recordFor(RTAlertTypeTorrentAdded, a->handle));
            break;
        }
        case lt::metadata_received_alert::alert_type:
            handler(recordFor(RTAlertTypeMetadataReceived,
                              lt::alert_cast<lt::metadata_received_alert>(alert)->handle));
            break;
        case lt::metadata_failed_alert::alert_type: {
            const auto* a = lt::alert_cast<lt::metadata_failed_alert>(alert);
            handler(recordFor(RTAlertTypeMetadataFailed, a->handle, errorText(a->error)));
            break;
        }
        case lt::piece_finished_alert::alert_type: {
            const auto* a = lt::alert_cast<lt::piece_finished_alert>(alert);
            RTAlert record = recordFor(RTAlertTypePieceFinished, a->handle);
            record.pieceIndex = static_cast<int>(a->piece_index);
            handler(record);
            break;
        }
        case lt::state_update_alert::alert_type: {
            for (const lt::torrent_status& status :
                 lt::alert_cast<lt::state_update_alert>(alert)->status) {
                RTAlert record(RTAlertTypeStatus);
                record.infoHash = keyForHandle(status.handle);
                record.downloadRate = status.download_payload_rate;
                record.uploadRate = status.upload_payload_rate;
                record.numPeers = status.num_peers;
                record.numSeeds = status.num_seeds;
                record.progress = static_cast<double>(status.progress);
                record.allTimeUpload = status.all_time_upload;
                record.allTimeDownload = status.all_time_download;
                record.seedingSeconds =
                    std::chrono::duration_cast<std::chrono::seconds>(status.seeding_duration)
                        .count();
                handler(record);
            }
            break;
        }
        case lt::torrent_finished_alert::alert_type:
            handler(recordFor(RTAlertTypeTorrentFinished,
                              lt::alert_cast<lt::torrent_finished_alert>(alert)->handle));
            break;
        case lt::torrent_error_alert::alert_type: {
            const auto* a = lt::alert_cast<lt::torrent_error_alert>(alert);
            handler(recordFor(RTAlertTypeTorrentError, a->handle, errorText(a->error)));
            break;
        }
        case lt::file_error_alert::alert_type: {
            const auto* a = lt::alert_cast<lt::file_error_alert>(alert);
            handler(recordFor(RTAlertTypeFileError, a->handle, errorText(a->error)));
            break;
        }
        default: break;
    }
}

std::string RTEngineInfo::libtorrentVersion() {
    return lt::version();
}

bool RTEngineInfo::canCreateSession() {
    try {
        lt::settings_pack pack;
        pack.set_bool(lt::settings_pack::enable_dht, false);
        pack.set_bool(lt::settings_pack::enable_lsd, false);
        pack.set_bool(lt::settings_pack::enable_upnp, false);
        pack.set_bool(lt::settings_pack::enable_natpmp, false);
        pack.set_str(lt::settings_pack::listen_interfaces, "");
        lt::session session{lt::session_params(std::move(pack))};
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace rillow
