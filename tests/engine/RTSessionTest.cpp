// The session bridge over a real libtorrent session on loopback: adding, the registry, resume
// files, restore, removal, the alert mapping, drain and shutdown.
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/announce_entry.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/write_resume_data.hpp>
#include <set>
#include <thread>

namespace rillow::test {
namespace {

namespace fs = std::filesystem;

// Loopback addresses where nothing listens: announces to them fail at once.
const std::string kTrackerA = "http://127.0.0.1:9/a/announce";
const std::string kTrackerB = "http://127.0.0.1:9/b/announce";
const std::string kUnknownMagnet =
    "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=Display%20Name";

std::string encoded(const std::string& url) {
    std::string out;
    for (const char c : url) {
        if (c == ':' || c == '/') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> trackerUrls(const RTHandle& handle) {
    std::vector<std::string> urls;
    for (const auto& entry : handle.handle().trackers()) urls.push_back(entry.url);
    return urls;
}

bool hasAllPieces(const RTHandle& handle) {
    const std::int64_t count = handle.pieceCount();
    if (count < 1) return false;
    for (std::int64_t piece = 0; piece < count; ++piece) {
        if (!handle.havePiece(piece)) return false;
    }
    return true;
}

// Collects every record the handler receives.
struct AlertLog {
    void attach(RTSession& session) {
        session.setAlertHandler([this](const RTAlert& alert) {
            std::lock_guard lock(mutex);
            alerts.push_back(alert);
        });
    }
    int count(RTAlertType type, const std::string& key) const {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count_if(alerts.begin(), alerts.end(), [&](const RTAlert& a) {
            return a.type == type && a.infoHash == key;
        }));
    }
    std::vector<RTAlert> snapshot() const {
        std::lock_guard lock(mutex);
        return alerts;
    }
    mutable std::mutex mutex;
    std::vector<RTAlert> alerts;
};

SeederOptions smallSeed() {
    return SeederOptions{{{"clip.mkv", 3 * MiB + 777}}, static_cast<int>(256 * KiB)};
}

TEST(EngineInfoTest, ReportsVersionAndCanCreateASession) {
    EXPECT_EQ(RTEngineInfo::libtorrentVersion().rfind("2.0.", 0), 0u)
        << RTEngineInfo::libtorrentVersion();
    EXPECT_TRUE(RTEngineInfo::canCreateSession());
}

class SessionTest : public ::testing::Test {
protected:
    SessionFolders folders;
};

TEST_F(SessionTest, ListensOnLoopbackAndAddsTheSameMagnetOnce) {
    RTSession session(folders.downloads, folders.state);
    EXPECT_TRUE(eventually([&] { return session.listenPort() > 0; }, 10'000));
    AlertLog log;
    log.attach(session);
    auto first = session.addMagnet(kUnknownMagnet);
    ASSERT_TRUE(first);
    const std::string key = "0123456789abcdef0123456789abcdef01234567";
    EXPECT_EQ(first->infoHash(), key);
    EXPECT_EQ(session.handleForInfoHash(key), first);
    auto second = session.addMagnet(kUnknownMagnet + "&tr=" + encoded(kTrackerB));
    EXPECT_EQ(second, first) << "the registered wrapper comes back unchanged";
    EXPECT_TRUE(trackerUrls(*first).empty()) << "no trackers are merged into a known torrent";
    ASSERT_TRUE(eventually([&] { return log.count(RTAlertTypeTorrentAdded, key) >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(log.count(RTAlertTypeTorrentAdded, key), 1) << "the second call added nothing";
    EXPECT_FALSE(session.handleForInfoHash("0123456789ABCDEF0123456789ABCDEF01234567"));
}

TEST_F(SessionTest, MalformedInputAddsNothing) {
    RTSession session(folders.downloads, folders.state);
    const std::string garbage = "d8:announce3:foo4:infoi42ee";
    struct Case {
        const char* name;
        std::function<std::shared_ptr<RTHandle>()> add;
    };
    const std::vector<Case> cases = {
        {"empty magnet", [&] { return session.addMagnet(""); }},
        {"not a magnet", [&] { return session.addMagnet("http://127.0.0.1/x.torrent"); }},
        {"magnet without hash", [&] { return session.addMagnet("magnet:?dn=nothing"); }},
        {"empty torrent data", [&] { return session.addTorrentData({}); }},
        {"garbage torrent data", [&] { return session.addTorrentData(garbage); }},
        {"empty resume data", [&] { return session.addResumeData({}); }},
        {"garbage resume data", [&] { return session.addResumeData(garbage); }},
    };
    for (const Case& c : cases) EXPECT_FALSE(c.add()) << c.name;
    EXPECT_TRUE(session.restoreSavedTorrents().empty());
}

TEST_F(SessionTest, ResumeFileRestoresProgressAndAppendsTheMagnetsTrackers) {
    LoopbackSeeder seeder(smallSeed());
    ASSERT_TRUE(seeder.ok());
    const std::string key = seeder.infoHash();
    {
        // No handler: resume writing happens without one.
        RTSession session(folders.downloads, folders.state);
        auto handle = session.addMagnet(seeder.magnet("&tr=" + encoded(kTrackerA)));
        ASSERT_TRUE(handle);
        ASSERT_TRUE(eventually([&] { return hasAllPieces(*handle); }));
        session.shutdown();
    }
    ASSERT_TRUE(fs::exists(folders.state + "/" + key + ".resume"));
    seeder.vanish();

    struct Case {
        const char* name;
        bool viaMagnet;
    };
    for (const Case& c : {Case{"magnet", true}, Case{"restore", false}}) {
        SCOPED_TRACE(c.name);
        RTSession session(folders.downloads, folders.state);
        std::shared_ptr<RTHandle> handle;
        if (c.viaMagnet) {
            handle = session.addMagnet(seeder.magnet("&tr=" + encoded(kTrackerB)));
        } else {
            const auto restored = session.restoreSavedTorrents();
            ASSERT_EQ(restored.size(), 1u);
            handle = restored.front();
        }
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->infoHash(), key);
        EXPECT_TRUE(handle->hasMetadata()) << "the resume file carries the info dictionary";
        EXPECT_TRUE(eventually([&] { return hasAllPieces(*handle); })) << "progress restored";
        const auto urls = trackerUrls(*handle);
        if (c.viaMagnet) {
            EXPECT_EQ(urls, (std::vector<std::string>{kTrackerA, kTrackerB}));
        } else {
            EXPECT_EQ(urls, std::vector<std::string>{kTrackerA});
        }
        EXPECT_EQ(handle->savePath(), folders.downloads);
    }
}

TEST_F(SessionTest, ACorruptResumeFileIsIgnored) {
    const std::string key = "0123456789abcdef0123456789abcdef01234567";
    {
        std::ofstream out(folders.state + "/" + key + ".resume", std::ios::binary);
        out << "d4:junk";
    }
    std::ofstream(folders.state + "/notes.txt") << "not a resume file";
    RTSession session(folders.downloads, folders.state);
    EXPECT_TRUE(session.restoreSavedTorrents().empty());
    auto handle = session.addMagnet(kUnknownMagnet + "&tr=" + encoded(kTrackerB));
    ASSERT_TRUE(handle);
    EXPECT_EQ(trackerUrls(*handle), std::vector<std::string>{kTrackerB});
    EXPECT_FALSE(handle->hasMetadata());
}

TEST_F(SessionTest, RemovingDeletesDataAndResumeFileAndAReAddStartsFromNothing) {
    LoopbackSeeder seeder(smallSeed());
    ASSERT_TRUE(seeder.ok());
    RTSession session(folders.downloads, folders.state);
    auto handle = session.addMagnet(seeder.magnet());
    ASSERT_TRUE(handle);
    ASSERT_TRUE(eventually([&] { return hasAllPieces(*handle); }));
    const std::string key = handle->infoHash();
    const std::string data = folders.downloads + "/clip.mkv";
    const std::string resume = session.resumePathForHex(key);
    session.requestResumeDataForAllTorrents();
    ASSERT_TRUE(eventually([&] { return fs::exists(resume); }));
    ASSERT_TRUE(fs::exists(data));

    seeder.vanish();
    session.removeTorrent(handle);
    EXPECT_FALSE(fs::exists(resume));
    EXPECT_FALSE(session.handleForInfoHash(key));
    EXPECT_TRUE(eventually([&] { return !fs::exists(data); })) << "downloaded data deleted";
    EXPECT_EQ(handle->infoHash(), "");
    session.removeTorrent(nullptr);

    auto again = session.addMagnet(seeder.magnet());
    ASSERT_TRUE(again);
    EXPECT_NE(again, handle);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(again->hasMetadata()) << "nothing of the old download came back";
    EXPECT_FALSE(fs::exists(data));
}

TEST_F(SessionTest, DrainReturnsAtOnceWithoutTorrents) {
    RTSession session(folders.downloads, folders.state);
    const auto start = std::chrono::steady_clock::now();
    session.shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

// A libtorrent that never answers resume-data requests.
class SilentSession : public RTSession {
public:
    using RTSession::RTSession;
    std::atomic<int> requests{0};

protected:
    void requestResumeData(const lt::torrent_handle&) override { ++requests; }
};

TEST_F(SessionTest, DrainGivesUpAfterTenSecondsWhenResumeDataNeverComes) {
    SilentSession session(folders.downloads, folders.state);
    auto handle = session.addTorrentData(makeTorrentWithoutData({{"a.mkv", 4 * MiB}}, 1 << 20));
    ASSERT_TRUE(handle);
    ASSERT_TRUE(eventually([&] { return handle->handle().need_save_resume_data(); }));
    const auto start = std::chrono::steady_clock::now();
    session.shutdown();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(session.requests.load(), 1);
    EXPECT_GE(elapsed, std::chrono::seconds(10));
    EXPECT_LT(elapsed, std::chrono::seconds(14));
    EXPECT_FALSE(fs::exists(session.resumePathForHex(handle->infoHash())));
}

TEST_F(SessionTest, ShutdownIsIdempotentAndLeavesAnInertSession) {
    auto session = std::make_unique<RTSession>(folders.downloads, folders.state);
    auto handle = session->addMagnet(kUnknownMagnet);
    ASSERT_TRUE(handle);
    session->shutdown();
    session->shutdown();
    EXPECT_FALSE(
        session->addMagnet("magnet:?xt=urn:btih:1111111111111111111111111111111111111111"));
    EXPECT_FALSE(session->addTorrentData(makeTorrentWithoutData({{"a", 1 << 20}}, 1 << 20)));
    session->pause();
    session->resume();
    session->applySeedingEnabled(true);
    session->requestResumeDataForAllTorrents();
    session->postTorrentUpdates();
    EXPECT_EQ(session->listenPort(), 0);
    EXPECT_EQ(handle->infoHash(), "") << "the torrents went with the session";
    session.reset();  // destruction after shutdown
}

TEST_F(SessionTest, ResumeBuffersAreWrittenOnlyWithAKeyAndBytes) {
    RTSession session(folders.downloads, folders.state);
    const std::string bytes = "d4:testi1ee";
    EXPECT_EQ(session.resumePathForHex("abc"), folders.state + "/abc.resume");
    session.writeResumeBuffer(bytes, "");
    session.writeResumeBuffer({}, "abc");
    EXPECT_TRUE(fs::is_empty(folders.state));
    session.writeResumeBuffer(bytes, "abc");
    std::ifstream in(folders.state + "/abc.resume", std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    EXPECT_EQ(written, bytes);
}

TEST_F(SessionTest, ResumeDataSavePathMustBeAbsoluteAndFreeOfDotDot) {
    const std::string elsewhere = folders.root.path().toStdString() + "/elsewhere";
    struct Case {
        std::string saved;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {elsewhere, elsewhere},
        {folders.root.path().toStdString() + "/downloads/../../etc", folders.downloads},
        {"relative/folder", folders.downloads},
        {"", folders.downloads},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saved);
        RTSession session(folders.downloads, folders.state);
        lt::add_torrent_params params;
        const auto torrent =
            makeTorrentWithoutData({{"f" + std::to_string(n++), 1 << 20}}, 1 << 20);
        params.ti = std::make_shared<lt::torrent_info>(torrent, lt::from_span);
        params.save_path = c.saved;
        const std::vector<char> resume = lt::write_resume_data_buf(params);
        auto handle = session.addResumeData(resume);
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->savePath(), c.expected);
    }
}

TEST_F(SessionTest, TorrentsWithOnlyAVersionTwoHashGetDistinctKeys) {
    RTSession session(folders.downloads, folders.state);
    std::set<std::string> keys;
    for (const std::uint64_t seed : {1u, 2u}) {
        LoopbackSeeder maker(
            SeederOptions{{{"v2.mkv", 1 * MiB}}, 1 << 18, "content", TorrentKind::v2Only, 0, seed});
        ASSERT_TRUE(maker.torrentInfo());
        ASSERT_FALSE(maker.torrentInfo()->info_hashes().has_v1());
        auto handle = session.addTorrentData(maker.torrentData());
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->infoHash().size(), 40u);
        EXPECT_NE(handle->infoHash(), std::string(40, '0'));
        EXPECT_EQ(handle->infoHash(), maker.infoHash());
        EXPECT_EQ(session.handleForInfoHash(handle->infoHash()), handle);
        keys.insert(handle->infoHash());
    }
    EXPECT_EQ(keys.size(), 2u);
}

TEST_F(SessionTest, AlertsAreMappedAndStatusComesOnItsOwn) {
    LoopbackSeeder seeder(smallSeed());
    ASSERT_TRUE(seeder.ok());
    RTSession session(folders.downloads, folders.state);
    AlertLog log;
    log.attach(session);
    auto handle = session.addMagnet(seeder.magnet());
    ASSERT_TRUE(handle);
    const std::string key = seeder.infoHash();
    ASSERT_TRUE(eventually([&] { return log.count(RTAlertTypeTorrentFinished, key) == 1; }));
    // Status records arrive about once a second without anyone asking.
    ASSERT_TRUE(eventually([&] { return log.count(RTAlertTypeStatus, key) >= 2; }, 10'000));
    EXPECT_EQ(log.count(RTAlertTypeTorrentAdded, key), 1);
    EXPECT_EQ(log.count(RTAlertTypeMetadataReceived, key), 1);
    EXPECT_EQ(log.count(RTAlertTypePieceFinished, key), 13);

    std::set<std::int64_t> pieces;
    double lastProgress = -1;
    for (const RTAlert& alert : log.snapshot()) {
        if (alert.type == RTAlertTypePieceFinished) pieces.insert(alert.pieceIndex);
        if (alert.type == RTAlertTypeStatus) {
            lastProgress = alert.progress;
            EXPECT_GE(alert.allTimeDownload, 0);
        }
        if (alert.type != RTAlertTypePieceFinished) {
            EXPECT_EQ(alert.pieceIndex, -1);
        }
        EXPECT_FALSE(alert.errorMessage);
    }
    EXPECT_EQ(pieces.size(), 13u);
    EXPECT_EQ(*pieces.begin(), 0);
    EXPECT_EQ(*pieces.rbegin(), 12);
    session.postTorrentUpdates();
    EXPECT_TRUE(eventually(
        [&] {
            for (const RTAlert& alert : log.snapshot()) {
                if (alert.type == RTAlertTypeStatus && alert.progress == 1.0 &&
                    alert.allTimeDownload >= 3 * MiB + 777)
                    return true;
            }
            return false;
        },
        10'000))
        << "last progress seen " << lastProgress;
}

TEST_F(SessionTest, FileErrorsAreReportedWithTheirMessage) {
    LoopbackSeeder seeder(smallSeed());
    ASSERT_TRUE(seeder.ok());
    // The download folder is a regular file: libtorrent cannot create the data file inside it.
    const std::string blocker = folders.root.path().toStdString() + "/not-a-folder";
    std::ofstream(blocker) << "x";
    RTSession session(blocker, folders.state);
    AlertLog log;
    log.attach(session);
    auto handle = session.addMagnet(seeder.magnet());
    ASSERT_TRUE(handle);
    const std::string key = seeder.infoHash();
    ASSERT_TRUE(eventually([&] {
        return log.count(RTAlertTypeFileError, key) + log.count(RTAlertTypeTorrentError, key) > 0;
    }));
    for (const RTAlert& alert : log.snapshot()) {
        if (alert.type == RTAlertTypeFileError || alert.type == RTAlertTypeTorrentError) {
            ASSERT_TRUE(alert.errorMessage);
            EXPECT_FALSE(alert.errorMessage->empty());
        }
    }
}

}  // namespace
}  // namespace rillow::test
