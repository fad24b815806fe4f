// The "rillow" stream protocol against a real session and a loopback seeder: URI parsing,
// which opens succeed, the bounded metadata wait and independent readers.
#include "engine/RTStreamProtocol.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <libtorrent/address.hpp>
#include <libtorrent/socket.hpp>

#include <chrono>
#include <future>
#include <thread>

namespace rillow {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::KiB;
using test::LoopbackSeeder;
using test::SeederOptions;
using test::SessionFolders;

using URI = RTStreamProtocol::StreamURI;
const std::string kKey(40, 'a');

TEST(StreamURITest, ParsesKeyAndIndex) {
    const std::pair<std::string, std::optional<URI>> cases[] = {
        {"rillow://" + kKey + "/3", URI{kKey, 3}},
        {"rillow://" + std::string(40, 'A') + "/1", URI{kKey, 1}},
        {"rillow://" + kKey + "/2/Film.mkv", URI{kKey, 2}},
        {"rillow://" + kKey + "/x", URI{kKey, 0}},
        {"rillow://" + kKey + "/7abc", URI{kKey, 7}},
        {"rillow://" + kKey + "/ -4", URI{kKey, -4}},
        {kKey + "/5", URI{kKey, 5}},
        {"rillow://" + kKey + "/", std::nullopt},
        {"rillow://" + kKey, std::nullopt},
        {"rillow:///3", std::nullopt},
        {"rillow://", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(RTStreamProtocol::parseURI(text), expected) << text;
    EXPECT_EQ(RTStreamProtocol::uriFor(kKey, 12), "rillow://" + kKey + "/12");
    EXPECT_EQ(RTStreamProtocol(nullptr).metadataTimeout(), 30.0);
}

class StreamProtocolTest : public ::testing::Test {
protected:
    // Two files, each a whole number of pieces (no pad files between them).
    SeederOptions options() const {
        SeederOptions o;
        o.files = {{"a.mkv", 320 * KiB}, {"b.mkv", 192 * KiB}};
        o.pieceSize = 64 * KiB;
        return o;
    }
    SessionFolders folders;
    std::shared_ptr<RTSession> session =
        std::make_shared<RTSession>(folders.downloads, folders.state);
    RTStreamProtocol protocol{session};
};

TEST_F(StreamProtocolTest, OpensTheFileTheURINames) {
    LoopbackSeeder seeder(options());
    ASSERT_TRUE(seeder.ok());
    auto handle = session->addMagnet(seeder.magnet());
    ASSERT_TRUE(handle);
    protocol.setMetadataTimeout(30);
    const std::string key = seeder.infoHash();
    std::string upper = key;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    const std::pair<std::string, int64_t> cases[] = {
        // URI, expected size (0: the open fails)
        {"rillow://" + key + "/1", 192 * KiB},
        {"rillow://" + upper + "/0", 320 * KiB},
        {"rillow://" + key + "/1/b.mkv", 192 * KiB},
        {"rillow://" + key + "/x", 320 * KiB},
        {"rillow://" + key + "/", 0},
        {"rillow://" + key, 0},
        {"rillow://" + key + "/2", 0},
        {"rillow://" + key + "/-1", 0},
        {"rillow://" + std::string(40, 'b') + "/0", 0},
    };
    for (const auto& [uri, size] : cases) {
        const auto reader = protocol.openReaderForURI(uri);
        EXPECT_EQ(reader ? reader->size() : 0, size) << uri;
    }
    EXPECT_EQ(protocol.liveReaderCount(), 0) << "each reader died with its last owner";
}

TEST_F(StreamProtocolTest, MetadataWaitIsBoundedByTheTimeout) {
    LoopbackSeeder seeder(options());
    ASSERT_TRUE(seeder.ok());
    // A magnet without the seeder's address: no metadata until the test hands over the peer.
    // (Pausing the seeder instead makes the download back off its reconnects for a minute.)
    const auto handle = session->addMagnet("magnet:?xt=urn:btih:" + seeder.infoHash());
    ASSERT_TRUE(handle);
    const std::string uri = RTStreamProtocol::uriFor(seeder.infoHash(), 0);

    protocol.setMetadataTimeout(0);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(protocol.openReaderForURI(uri));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 200ms) << "timeout 0 checks once";

    protocol.setMetadataTimeout(0.3);
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(protocol.openReaderForURI(uri));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 1000ms);

    protocol.setMetadataTimeout(60);
    auto open = std::async(std::launch::async, [&] { return protocol.openReaderForURI(uri); });
    EXPECT_EQ(open.wait_for(500ms), std::future_status::timeout) << "waits for the metadata";
    handle->handle().connect_peer(
        lt::tcp::endpoint(lt::make_address("127.0.0.1"), static_cast<unsigned short>(seeder.port())));
    ASSERT_EQ(open.wait_for(30s), std::future_status::ready);
    const auto reader = open.get();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->size(), 320 * KiB);
}

TEST_F(StreamProtocolTest, TwoOpensOfOneFileAreIndependentReadersBothWokenByPieces) {
    SeederOptions slow = options();
    slow.uploadRateLimit = static_cast<int>(128 * KiB);
    LoopbackSeeder seeder(slow);
    ASSERT_TRUE(seeder.ok());
    ASSERT_TRUE(session->addMagnet(seeder.magnet()));
    protocol.setMetadataTimeout(30);
    const std::string uri = RTStreamProtocol::uriFor(seeder.infoHash(), 0);
    const auto first = protocol.openReaderForURI(uri);
    const auto second = protocol.openReaderForURI(uri);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(protocol.liveReaderCount(), 2);

    // Both wait on the last piece of the file, which the throttled seeder sends last or so.
    const int64_t at = 256 * KiB;
    ASSERT_EQ(first->seekTo(at), at);
    ASSERT_EQ(second->seekTo(at), at);
    std::vector<char> a(64 * KiB), b(64 * KiB);
    auto readA = std::async(std::launch::async,
                            [&] { return test::readWithin(*first, a.data(), 64 * KiB, 30'000); });
    auto readB = std::async(std::launch::async,
                            [&] { return test::readWithin(*second, b.data(), 64 * KiB, 30'000); });
    const int64_t gotA = readA.get();
    const int64_t gotB = readB.get();
    EXPECT_EQ(gotA, 64 * KiB);
    EXPECT_EQ(gotB, 64 * KiB);
    const std::vector<char> expected = seeder.fileBytes(0, at, 64 * KiB);
    EXPECT_EQ(a, expected);
    EXPECT_EQ(b, expected);
    EXPECT_EQ(first->position(), at + 64 * KiB);
    EXPECT_EQ(second->position(), at + 64 * KiB);
}

}  // namespace
}  // namespace rillow
