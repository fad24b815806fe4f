// The mpv client playing real files with video drawn through its render context on headless
// OpenGL: frames reach the framebuffer, time advances, seeks complete, tracks are listed.
#include "playback/MPVClient.h"
#include "tests/playback/GLRenderThread.h"
#include "tests/playback/MPVRecorder.h"
#include "tests/support/HeadlessGL.h"
#include "tests/support/Media.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <mpv/client.h>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace rillow {
namespace {

using test::GLFramebuffer;
using test::GLRenderThread;
using test::MPVRecorder;
using test::waitUntil;

const QList<std::pair<QString, QString>> kQuiet = {{QStringLiteral("ao"), QStringLiteral("null")}};

bool near(const GLFramebuffer::Pixel& a, const GLFramebuffer::Pixel& b, int tolerance = 40) {
    for (size_t i = 0; i < 3; ++i)
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
    return true;
}

std::string describe(const GLFramebuffer::Pixel& p) {
    return "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
           "," + std::to_string(p[3]) + ")";
}

const GLFramebuffer::Pixel kMagenta{255, 0, 255, 255};

TEST(HeadlessGLTest, FramebufferReadsBackWhatWasCleared) {
    GLRenderThread gl(32, 16);
    ASSERT_TRUE(gl.isValid()) << gl.error().toStdString();
    for (const GLFramebuffer::Pixel colour :
         {GLFramebuffer::Pixel{10, 200, 30, 255}, GLFramebuffer::Pixel{250, 5, 128, 255}}) {
        gl.clear(colour);
        EXPECT_EQ(gl.centre(), colour) << describe(gl.centre());
    }
}

TEST(MPVRenderTest, RenderWithoutAContextDrawsNothing) {
    MPVClient client;
    client.start(kQuiet);
    GLRenderThread gl(32, 32);
    ASSERT_TRUE(gl.isValid()) << gl.error().toStdString();

    gl.clear(kMagenta);
    gl.setClient(client);
    EXPECT_EQ(gl.renderNow(), kMagenta) << "before createRenderContext";

    ASSERT_TRUE(gl.attach(client));
    EXPECT_TRUE(client.hasRenderContext());
    ASSERT_TRUE(gl.attach(client)) << "a second create keeps the context";
    gl.clear(kMagenta);
    EXPECT_NE(gl.renderNow(), kMagenta) << "with a context mpv draws (black while idle)";

    gl.freeRenderContext();
    EXPECT_FALSE(client.hasRenderContext());
    gl.clear(kMagenta);
    EXPECT_EQ(gl.renderNow(), kMagenta) << "after the context was freed";
    gl.stop();
    client.shutdown();
}

struct PlayCase {
    const char* name;
    test::ClipSpec::Container container;
    bool indexAtStart;
    const char* pattern;
    GLFramebuffer::Pixel colour;
};

void PrintTo(const PlayCase& c, std::ostream* os) {
    *os << c.name;
}

class MPVPlaybackTest : public ::testing::TestWithParam<PlayCase> {};

TEST_P(MPVPlaybackTest, PlaysDrawsAndSeeks) {
    test::ClipSpec spec;
    spec.container = GetParam().container;
    spec.indexAtStart = GetParam().indexAtStart;
    spec.pattern = QLatin1String(GetParam().pattern);
    spec.seconds = 6;
    const QString clip = test::makeClip(spec);
    ASSERT_FALSE(clip.isEmpty());

    MPVClient client;
    MPVRecorder recorder;
    recorder.attach(client);
    client.start(kQuiet);
    GLRenderThread gl(160, 120);
    ASSERT_TRUE(gl.isValid()) << gl.error().toStdString();
    ASSERT_TRUE(gl.attach(client));  // before loadfile: vo=libmpv needs it to show video
    gl.clear(kMagenta);

    client.commandAsync({QStringLiteral("loadfile"), clip, QStringLiteral("replace")});
    ASSERT_TRUE(waitUntil([&] { return recorder.eventCount(MPV_EVENT_FILE_LOADED) > 0; }));
    ASSERT_TRUE(waitUntil([&] { return recorder.lastDouble(QStringLiteral("time-pos")) > 1.0; }))
        << "time-pos does not advance";
    ASSERT_TRUE(waitUntil([&] { return near(gl.lastCentre(), GetParam().colour); }))
        << "after " << gl.draws() << " draws the centre is " << describe(gl.lastCentre());
    ASSERT_TRUE(waitUntil([&] { return client.videoSize().has_value(); }));
    EXPECT_EQ(client.videoSize(), (std::pair<int64_t, int64_t>{320, 240}));
    const auto duration = recorder.lastDouble(QStringLiteral("duration"));
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 6.0, 0.2);

    const size_t restarts = recorder.eventCount(MPV_EVENT_PLAYBACK_RESTART);
    client.seekToFractionAsync(0.8);
    ASSERT_TRUE(
        waitUntil([&] { return recorder.eventCount(MPV_EVENT_PLAYBACK_RESTART) > restarts; }));
    EXPECT_TRUE(waitUntil(
        [&] { return recorder.lastDouble(QStringLiteral("time-pos")) >= 0.8 * *duration - 0.1; },
        3000))
        << "time-pos after the seek: "
        << recorder.lastDouble(QStringLiteral("time-pos")).value_or(-1);
    gl.stop();
    client.shutdown();
}

INSTANTIATE_TEST_SUITE_P(
    Clips, MPVPlaybackTest,
    ::testing::Values(
        PlayCase{"mkvRed", test::ClipSpec::Container::mkv, true, "color=c=red", {255, 0, 0, 255}},
        PlayCase{"mp4IndexAtEndBlue",
                 test::ClipSpec::Container::mp4,
                 false,
                 "color=c=blue",
                 {0, 0, 255, 255}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MPVPlaybackTest, LoadsAFileAndListsItsTracks) {
    const QString clip = test::mkvWithSubtitles();
    ASSERT_FALSE(clip.isEmpty());
    MPVClient client;
    MPVRecorder recorder;
    recorder.attach(client);
    client.start(kQuiet);
    GLRenderThread gl(64, 64);
    ASSERT_TRUE(gl.isValid()) << gl.error().toStdString();
    ASSERT_TRUE(gl.attach(client));
    client.commandAsync({QStringLiteral("loadfile"), clip, QStringLiteral("replace")});
    ASSERT_TRUE(waitUntil([&] { return recorder.eventCount(MPV_EVENT_FILE_LOADED) > 0; }));
    ASSERT_TRUE(
        waitUntil([&] { return recorder.lastDouble(QStringLiteral("duration")).has_value(); }));
    EXPECT_NEAR(*recorder.lastDouble(QStringLiteral("duration")), 5.0, 0.2);

    const std::vector<MPVTrack> tracks = client.trackList();
    std::vector<QString> ids;
    for (const MPVTrack& track : tracks) ids.push_back(track.id());
    EXPECT_EQ(ids, (std::vector<QString>{QStringLiteral("video-1"), QStringLiteral("audio-1"),
                                         QStringLiteral("sub-1")}));
    for (const MPVTrack& track : tracks) {
        EXPECT_FALSE(track.isExternal);
        if (track.kind == MPVTrack::Kind::audio) {
            EXPECT_TRUE(track.selected);
            EXPECT_EQ(track.label(), QStringLiteral("ENG"));
        }
        if (track.kind == MPVTrack::Kind::sub) {
            EXPECT_EQ(track.lang, QStringLiteral("eng"));
        }
    }

    // An external subtitle joins the list as a second, external, selected track.
    QTemporaryDir folder;
    const QString srt = folder.filePath(QStringLiteral("extra.srt"));
    QFile file(srt);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1\n00:00:00,000 --> 00:00:04,000\nExtra\n\n");
    file.close();
    client.command({QStringLiteral("sub-add"), srt, QStringLiteral("select")});
    const std::vector<MPVTrack> after = client.trackList();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3].id(), QStringLiteral("sub-2"));
    EXPECT_TRUE(after[3].isExternal);
    EXPECT_TRUE(after[3].selected);
    EXPECT_EQ(after[3].externalFilename, srt);
    gl.stop();
    client.shutdown();
}

}  // namespace
}  // namespace rillow
