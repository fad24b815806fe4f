#include "tests/support/seeder/LoopbackSeeder.h"

#include <QDeadlineTimer>
#include <filesystem>
#include <fstream>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/ip_filter.hpp>
#include <libtorrent/magnet_uri.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <thread>

namespace rillow::test {

namespace {

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

std::string lowerHex(const lt::sha1_hash& hash) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const char byte : hash) {
        const auto value = static_cast<unsigned char>(byte);
        text.push_back(digits[value >> 4]);
        text.push_back(digits[value & 0x0f]);
    }
    return text;
}

lt::file_storage storageFor(const std::vector<SeedFile>& files, const std::string& folder) {
    lt::file_storage storage;
    for (const SeedFile& file : files) {
        storage.add_file(files.size() == 1 ? file.name : folder + "/" + file.name, file.size);
    }
    return storage;
}

}  // namespace

bool writeGeneratedFile(const std::string& path, std::int64_t size, std::uint64_t seed,
                        int fileIndex) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    std::uint64_t state = seed * 1'000'003u + static_cast<std::uint64_t>(fileIndex) * 7919u + 1;
    std::vector<std::uint64_t> block(1 << 15);
    std::int64_t left = size;
    while (left > 0) {
        for (auto& word : block) word = splitmix(state);
        const std::int64_t chunk =
            std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size() * 8));
        out.write(reinterpret_cast<const char*>(block.data()), chunk);
        left -= chunk;
    }
    return static_cast<bool>(out);
}

std::vector<char> makeTorrentWithoutData(const std::vector<SeedFile>& files, int pieceSize,
                                         const std::string& folder, bool padFiles) {
    lt::file_storage storage = storageFor(files, folder);
    lt::create_flags_t flags = lt::create_torrent::v1_only;
    if (padFiles) flags |= lt::create_torrent::canonical_files;
    lt::create_torrent creator(storage, pieceSize, flags);
    std::uint64_t state = 42;
    for (const lt::piece_index_t piece : creator.piece_range()) {
        lt::sha1_hash hash;
        for (auto& byte : hash) byte = static_cast<std::uint8_t>(splitmix(state));
        creator.set_hash(piece, hash);
    }
    return creator.generate_buf();
}

LoopbackSeeder::LoopbackSeeder(SeederOptions options) : _options(std::move(options)) {
    if (!_folder.isValid() || _options.files.empty()) return;
    const std::string root = _folder.path().toStdString();
    for (SeedFile& file : _options.files) {
        if (file.sourcePath.empty()) continue;
        std::error_code sizeError;
        file.size =
            static_cast<std::int64_t>(std::filesystem::file_size(file.sourcePath, sizeError));
        if (sizeError || file.size < 1) return;
    }
    lt::file_storage storage = storageFor(_options.files, _options.folder);
    for (int i = 0; i < static_cast<int>(_options.files.size()); ++i) {
        const std::string relative = _options.files.size() == 1
                                         ? _options.files[0].name
                                         : _options.folder + "/" + _options.files[i].name;
        const std::string target = root + "/" + relative;
        if (!_options.files[i].sourcePath.empty()) {
            std::error_code copyError;
            std::filesystem::create_directories(std::filesystem::path(target).parent_path(),
                                                copyError);
            if (!std::filesystem::copy_file(_options.files[i].sourcePath, target,
                                            std::filesystem::copy_options::overwrite_existing,
                                            copyError))
                return;
            continue;
        }
        if (!writeGeneratedFile(target, _options.files[i].size, _options.contentSeed, i)) return;
    }
    lt::create_flags_t flags{};
    if (_options.kind == TorrentKind::v1Only)
        flags = lt::create_torrent::v1_only | lt::create_torrent::canonical_files;
    if (_options.kind == TorrentKind::v2Only) flags = lt::create_torrent::v2_only;
    try {
        lt::create_torrent creator(storage, _options.pieceSize, flags);
        lt::set_piece_hashes(creator, root);
        _torrentData = creator.generate_buf();
        _info = std::make_shared<lt::torrent_info>(_torrentData, lt::from_span);
    } catch (...) {
        return;
    }

    lt::settings_pack pack;
    pack.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    pack.set_bool(lt::settings_pack::enable_dht, false);
    pack.set_bool(lt::settings_pack::enable_lsd, false);
    pack.set_bool(lt::settings_pack::enable_upnp, false);
    pack.set_bool(lt::settings_pack::enable_natpmp, false);
    pack.set_int(lt::settings_pack::tick_interval, 100);
    pack.set_int(lt::settings_pack::upload_rate_limit, _options.uploadRateLimit);
    pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    pack.set_int(lt::settings_pack::alert_mask, static_cast<int>(lt::alert_category::error));
    _session = std::make_unique<lt::session>(lt::session_params(std::move(pack)));

    // Loopback peers normally sit in the unlimited local class; put every address in the
    // global class so that the upload limit applies to our test downloader.
    lt::ip_filter classes;
    classes.add_rule(lt::make_address("0.0.0.0"), lt::make_address("255.255.255.255"),
                     1u << static_cast<std::uint32_t>(lt::session::global_peer_class_id));
    _session->set_peer_class_filter(classes);

    lt::add_torrent_params params;
    params.ti = std::make_shared<lt::torrent_info>(*_info);
    params.save_path = root;
    params.flags = lt::torrent_flags::seed_mode | lt::torrent_flags::update_subscribe;
    lt::error_code error;
    lt::torrent_handle handle = _session->add_torrent(std::move(params), error);
    if (error || !handle.is_valid()) return;

    QDeadlineTimer deadline(10'000);
    while (_session->listen_port() == 0 && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    _port = _session->listen_port();
    _ok = _port != 0;
}

LoopbackSeeder::~LoopbackSeeder() {
    vanish();
}

std::string LoopbackSeeder::infoHash() const {
    if (!_info) return {};
    const lt::info_hash_t hashes = _info->info_hashes();
    if (hashes.has_v1()) return lowerHex(hashes.v1);
    return lowerHex(lt::sha1_hash(hashes.v2.data()));
}

std::string LoopbackSeeder::magnet(const std::string& extra) const {
    if (!_info) return {};
    return lt::make_magnet_uri(*_info) + "&x.pe=127.0.0.1:" + std::to_string(_port) + extra;
}

std::string LoopbackSeeder::contentRoot() const {
    return _folder.path().toStdString();
}

std::string LoopbackSeeder::filePath(int fileIndex) const {
    if (!_info || fileIndex < 0 || fileIndex >= _info->num_files()) return {};
    return contentRoot() + "/" + _info->files().file_path(lt::file_index_t(fileIndex));
}

std::vector<char> LoopbackSeeder::fileBytes(int fileIndex, std::int64_t offset,
                                            std::int64_t length) const {
    std::vector<char> bytes;
    const std::string path = filePath(fileIndex);
    if (path.empty() || offset < 0 || length < 1) return bytes;
    const std::int64_t size = _info->files().file_size(lt::file_index_t(fileIndex));
    if (offset >= size) return bytes;
    bytes.resize(static_cast<std::size_t>(std::min(length, size - offset)));
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void LoopbackSeeder::setUploadRateLimit(int bytesPerSecond) {
    if (!_session) return;
    lt::settings_pack pack;
    pack.set_int(lt::settings_pack::upload_rate_limit, bytesPerSecond);
    _session->apply_settings(std::move(pack));
}

void LoopbackSeeder::pause() {
    if (_session) _session->pause();
}

void LoopbackSeeder::resume() {
    if (_session) _session->resume();
}

void LoopbackSeeder::vanish() {
    _session.reset();
}

}  // namespace rillow::test
