// libmpv playing a torrent's file through the "rillow" protocol while a throttled loopback
// seeder sends it, with video drawn on headless OpenGL; and mpv's cancel reaching a reader that
// is blocked because the seeder stopped sending.
#include "engine/RTStreamProtocol.h"
#include "playback/MPVClient.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/playback/GLRenderThread.h"
#include "tests/playback/MPVRecorder.h"
#include "tests/support/Media.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <mpv/client.h>
#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <cstdlib>

namespace rillow {
namespace {

using namespace std::chrono_literals;
using test::GLFramebuffer;
using test::GLRenderThread;
using test::KiB;
using test::LoopbackSeeder;
using test::MPVRecorder;
using test::SeederOptions;
using test::SessionFolders;
using test::waitUntil;

const QList<std::pair<QString, QString>> kQuiet = {{QStringLiteral("ao"), QStringLiteral("null")}};

// A 40 s noisy solid-colour clip at about 0.9 Mbit/s (noise keeps the encoder from shrinking
// it), so the file is a few megabytes and takes the throttled seeder many seconds to send.
QString noisyClip(const QString& colour, bool mp4) {
    QString folder = qEnvironmentVariable("RILLOW_TEST_MEDIA_CACHE");
    if (folder.isEmpty()) folder = QDir::tempPath();
    QDir().mkpath(folder);
    const QString path =
        folder + QStringLiteral("/noisy40-%1.%2")
                     .arg(colour, mp4 ? QStringLiteral("mp4") : QStringLiteral("mkv"));
    if (QFileInfo(path).size() > 0) return path;
    const QString temp = path + QStringLiteral(".part-%1.%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(mp4 ? QStringLiteral("mp4") : QStringLiteral("mkv"));
    const bool made =
        test::runFfmpeg({QStringLiteral("-f"),
                         QStringLiteral("lavfi"),
                         QStringLiteral("-i"),
                         QStringLiteral("color=c=%1:size=320x240:rate=25:duration=40").arg(colour),
                         QStringLiteral("-f"),
                         QStringLiteral("lavfi"),
                         QStringLiteral("-i"),
                         QStringLiteral("sine=frequency=440:sample_rate=48000:duration=40"),
                         QStringLiteral("-vf"),
                         QStringLiteral("noise=alls=12:allf=t"),
                         QStringLiteral("-c:v"),
                         QStringLiteral("libx264"),
                         QStringLiteral("-preset"),
                         QStringLiteral("veryfast"),
                         QStringLiteral("-pix_fmt"),
                         QStringLiteral("yuv420p"),
                         QStringLiteral("-g"),
                         QStringLiteral("25"),
                         QStringLiteral("-b:v"),
                         QStringLiteral("800k"),
                         QStringLiteral("-c:a"),
                         QStringLiteral("aac"),
                         QStringLiteral("-b:a"),
                         QStringLiteral("96k"),
                         temp});  // mp4 default: the index is written after the media
    if (!made || !QFile::rename(temp, path)) {
        QFile::remove(temp);
        return QFileInfo(path).size() > 0 ? path : QString();
    }
    return path;
}

bool near(const GLFramebuffer::Pixel& a, const GLFramebuffer::Pixel& b, int tolerance) {
    for (size_t i = 0; i < 3; ++i)
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
    return true;
}

int64_t piecesPresent(const RTHandle& handle) {
    std::vector<uint8_t> bits(static_cast<size_t>(std::max<int64_t>(handle.pieceCount(), 1)));
    const int64_t count = handle.copyHaveBitmapInto(bits.data(), static_cast<int64_t>(bits.size()));
    return std::count(bits.begin(), bits.begin() + count, uint8_t{1});
}

// A session, a protocol registered on a started client, and a seeder of `clip`.
struct StreamRig {
    StreamRig(const QString& clip, int uploadRate) {
        SeederOptions options;
        options.files = {{QFileInfo(clip).fileName().toStdString(), 0, clip.toStdString()}};
        options.pieceSize = static_cast<int>(64 * KiB);
        options.uploadRateLimit = uploadRate;
        seeder = std::make_unique<LoopbackSeeder>(options);
        protocol->setMetadataTimeout(60);
        recorder.attach(client);
        client.start(kQuiet);
        registered = protocol->registerProtocolOnMPVHandle(client.handle());
        client.setStreamProtocol(protocol);
    }
    ~StreamRig() {
        client.shutdown();  // mpv closes its streams before the session goes
    }

    SessionFolders folders;
    std::shared_ptr<RTSession> session =
        std::make_shared<RTSession>(folders.downloads, folders.state);
    std::shared_ptr<RTStreamProtocol> protocol = std::make_shared<RTStreamProtocol>(session);
    std::unique_ptr<LoopbackSeeder> seeder;
    MPVRecorder recorder;
    MPVClient client;
    bool registered = false;
};

struct StreamCase {
    const char* name;
    const char* colour;
    bool mp4;
    GLFramebuffer::Pixel expected;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamPlaybackTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamPlaybackTest, PlaysWhileDownloadingAndSeeksIntoMissingData) {
    const QString clip = noisyClip(QLatin1String(GetParam().colour), GetParam().mp4);
    ASSERT_FALSE(clip.isEmpty());
    const int64_t size = QFileInfo(clip).size();
    // One and a half times the clip's bit rate, far below the file's size per second: the whole
    // file takes about thirty seconds to arrive.
    const int rate = static_cast<int>(150 * KiB);
    ASSERT_GT(size, 20 * rate);
    StreamRig rig(clip, rate);
    ASSERT_TRUE(rig.seeder->ok());
    ASSERT_TRUE(rig.registered);
    const auto handle = rig.session->addMagnet(rig.seeder->magnet());
    ASSERT_TRUE(handle);

    GLRenderThread gl(160, 120);
    ASSERT_TRUE(gl.isValid()) << gl.error().toStdString();
    ASSERT_TRUE(gl.attach(rig.client));
    gl.clear({255, 0, 255, 255});

    const QString uri = QString::fromStdString(RTStreamProtocol::uriFor(rig.seeder->infoHash(), 0));
    rig.client.commandAsync({QStringLiteral("loadfile"), uri, QStringLiteral("replace")});
    ASSERT_TRUE(
        waitUntil([&] { return rig.recorder.eventCount(MPV_EVENT_FILE_LOADED) > 0; }, 60'000));
    EXPECT_EQ(rig.recorder.eventCount(MPV_EVENT_END_FILE), 0u);
    ASSERT_TRUE(waitUntil([&] { return rig.recorder.lastDouble(QStringLiteral("time-pos")) > 1.0; },
                          30'000))
        << "time-pos does not advance";
    ASSERT_TRUE(waitUntil([&] { return near(gl.lastCentre(), GetParam().expected, 90); }, 20'000))
        << "after " << gl.draws() << " draws the centre is " << int(gl.lastCentre()[0]) << ","
        << int(gl.lastCentre()[1]) << "," << int(gl.lastCentre()[2]);

    const int64_t presentBeforeSeek = piecesPresent(*handle);
    const size_t restarts = rig.recorder.eventCount(MPV_EVENT_PLAYBACK_RESTART);
    rig.client.seekToFractionAsync(0.8);
    ASSERT_TRUE(waitUntil(
        [&] { return rig.recorder.eventCount(MPV_EVENT_PLAYBACK_RESTART) > restarts; }, 30'000));
    const int64_t present = piecesPresent(*handle);
    const int64_t total = handle->pieceCount();
    EXPECT_LT(present * 2, total) << present << " of " << total << " pieces at the seek's end, "
                                  << presentBeforeSeek << " before it";
    EXPECT_TRUE(waitUntil(
        [&] { return rig.recorder.lastDouble(QStringLiteral("time-pos")) >= 31.5; }, 10'000))
        << rig.recorder.lastDouble(QStringLiteral("time-pos")).value_or(-1);
    gl.stop();
}

INSTANTIATE_TEST_SUITE_P(Files, StreamPlaybackTest,
                         ::testing::Values(StreamCase{"mkv", "red", false, {255, 0, 0, 255}},
                                           StreamCase{
                                               "mp4IndexAtEnd", "blue", true, {0, 0, 255, 255}}),
                         [](const auto& param) { return std::string(param.param.name); });

enum class Interruption { loadAnother, stop, shutdown };

void PrintTo(Interruption i, std::ostream* os) {
    *os << (i == Interruption::loadAnother ? "loadAnother"
            : i == Interruption::stop      ? "stop"
                                           : "shutdown");
}

class StreamInterruptionTest : public ::testing::TestWithParam<Interruption> {};

TEST_P(StreamInterruptionTest, ABlockedReadGivesWayPromptly) {
    const QString clip = noisyClip(QStringLiteral("red"), false);
    ASSERT_FALSE(clip.isEmpty());
    // Slow enough that no piece completes between the metadata and the pause.
    StreamRig rig(clip, static_cast<int>(16 * KiB));
    ASSERT_TRUE(rig.seeder->ok());
    const auto handle = rig.session->addMagnet(rig.seeder->magnet());
    ASSERT_TRUE(handle);
    ASSERT_TRUE(test::eventually([&] { return handle->hasMetadata(); }, 30'000));
    rig.seeder->pause();
    ASSERT_EQ(piecesPresent(*handle), 0);

    GLRenderThread gl(64, 64);
    ASSERT_TRUE(gl.isValid()) << gl.error().toStdString();
    ASSERT_TRUE(gl.attach(rig.client));
    const QString uri = QString::fromStdString(RTStreamProtocol::uriFor(rig.seeder->infoHash(), 0));
    rig.client.commandAsync({QStringLiteral("loadfile"), uri, QStringLiteral("replace")});
    ASSERT_TRUE(waitUntil([&] { return rig.protocol->liveReaderCount() == 1; }, 10'000));
    std::this_thread::sleep_for(500ms);  // mpv is now blocked reading the missing first piece
    EXPECT_EQ(rig.recorder.eventCount(MPV_EVENT_FILE_LOADED), 0u);

    const auto started = std::chrono::steady_clock::now();
    switch (GetParam()) {
        case Interruption::loadAnother:
            rig.client.command(
                {QStringLiteral("loadfile"), test::mkvWithSubtitles(), QStringLiteral("replace")});
            break;
        case Interruption::stop: rig.client.command({QStringLiteral("stop")}); break;
        case Interruption::shutdown:
            gl.stop();
            rig.client.shutdown();
            break;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_TRUE(waitUntil([&] { return rig.protocol->liveReaderCount() == 0; }, 5'000))
        << "the reader outlived its stream";
    if (GetParam() == Interruption::loadAnother) {
        EXPECT_TRUE(
            waitUntil([&] { return rig.recorder.eventCount(MPV_EVENT_FILE_LOADED) > 0; }, 10'000))
            << "the local file did not load after the interrupted stream";
    }
    gl.stop();
    const auto shutdownStarted = std::chrono::steady_clock::now();
    rig.client.shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - shutdownStarted, 3s);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamInterruptionTest,
                         ::testing::Values(Interruption::loadAnother, Interruption::stop,
                                           Interruption::shutdown),
                         [](const auto& param) {
                             std::ostringstream name;
                             PrintTo(param.param, &name);
                             return name.str();
                         });

}  // namespace
}  // namespace rillow
