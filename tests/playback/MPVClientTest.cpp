// The mpv client over a real libmpv: start sequence, observed properties and events on the
// client's queue, the AV1 hardware-decode rewrite, logging, track lists and teardown.
#include "platform/HardwareDecode.h"
#include "playback/MPVClient.h"
#include "tests/playback/MPVRecorder.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <mpv/client.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace rillow {
namespace {

using test::MPVRecorder;
using test::waitUntil;

const QList<std::pair<QString, QString>> kQuiet = {{QStringLiteral("ao"), QStringLiteral("null")}};

TEST(MPVClientTest, StartSetsTheFixedOptions) {
    MPVClient client;
    client.start(kQuiet);
    ASSERT_NE(client.handle(), nullptr);
    const std::pair<const char*, const char*> options[] = {{"input-media-keys", "no"},
                                                           {"osd-bar", "no"},
                                                           {"vo", "libmpv"},
                                                           {"hwdec", "auto-safe"},
                                                           {"subs-match-os-language", "yes"},
                                                           {"subs-fallback", "yes"},
                                                           {"idle", "yes"},
                                                           {"force-window", "no"},
                                                           {"keep-open", "yes"},
                                                           {"ao", "null"}};
    for (const auto& [name, value] : options) {
        // Options newer than this libmpv are refused (and logged) without stopping the start.
        const bool known =
            client.stringProperty(QStringLiteral("option-info/%1/name").arg(QLatin1String(name)))
                .has_value();
        if (known)
            EXPECT_EQ(client.stringProperty(QLatin1String(name)), QLatin1String(value)) << name;
        else
            EXPECT_TRUE(QLatin1String(name).startsWith(QLatin1String("subs-"))) << name;
    }
    client.shutdown();
}

TEST(MPVClientTest, ReportsObservedPropertiesOnItsQueueAndDropsUnavailableOnes) {
    MPVClient client;
    MPVRecorder recorder;
    recorder.attach(client);
    client.start(kQuiet);
    ASSERT_TRUE(waitUntil([&] { return recorder.last(QStringLiteral("volume")).has_value(); }));
    EXPECT_EQ(recorder.last(QStringLiteral("volume")), MPVValue::fromDouble(100));
    EXPECT_EQ(recorder.last(QStringLiteral("pause")), MPVValue::fromFlag(false));

    // A change made after start arrives after every initial report: once it is in, all
    // initial reports are too. While idle, "duration" and "time-pos" are unavailable
    // (MPV_FORMAT_NONE) and must not reach the callback.
    client.setFlagPropertyAsync(QStringLiteral("pause"), true);
    client.setDoubleProperty(QStringLiteral("volume"), 55);
    ASSERT_TRUE(waitUntil([&] {
        return recorder.last(QStringLiteral("pause")) == MPVValue::fromFlag(true) &&
               recorder.last(QStringLiteral("volume")) == MPVValue::fromDouble(55);
    }));
    for (const auto& property : recorder.properties()) {
        EXPECT_TRUE(property.name == QLatin1String("pause") ||
                    property.name == QLatin1String("volume"))
            << property.name.toStdString();
    }
    for (const std::string& thread : recorder.threads()) EXPECT_EQ(thread, "app.rillow.mpv");
    client.shutdown();
}

struct CodecCase {
    const char* given;
    const char* withoutHardwareAV1;
};

void PrintTo(const CodecCase& c, std::ostream* os) {
    *os << c.given;
}

class AV1AdjustmentTest : public ::testing::TestWithParam<CodecCase> {};

TEST_P(AV1AdjustmentTest, TakesAV1OffTheHardwareListWhenTheMachineCannotDecodeIt) {
    MPVClient client;
    client.start(kQuiet + QList<std::pair<QString, QString>>{
                              {QStringLiteral("hwdec-codecs"), QLatin1String(GetParam().given)}});
    const QString expected = canDecodeAV1InHardware()
                                 ? QString::fromLatin1(GetParam().given)
                                 : QString::fromLatin1(GetParam().withoutHardwareAV1);
    EXPECT_EQ(client.stringProperty(QStringLiteral("hwdec-codecs")), expected);
    client.shutdown();
}

INSTANTIATE_TEST_SUITE_P(Cases, AV1AdjustmentTest,
                         ::testing::Values(CodecCase{"h264,av1,hevc", "h264,hevc"},
                                           CodecCase{"h264,hevc", "h264,hevc"},
                                           CodecCase{"av1,vp9,av1", "vp9"}));

TEST(MPVClientTest, MpvsOwnDefaultListLosesAV1WithoutHardwareSupport) {
    MPVClient client;
    client.start(kQuiet);
    const auto codecs = client.stringProperty(QStringLiteral("hwdec-codecs"));
    ASSERT_TRUE(codecs);
    EXPECT_EQ(codecs->split(QLatin1Char(',')).contains(QStringLiteral("av1")),
              canDecodeAV1InHardware())
        << codecs->toStdString();
    client.shutdown();
}

TEST(MPVClientTest, LogsAFailedStringSetWithThePropertyName) {
    MPVClient client;
    MPVRecorder recorder;
    recorder.attach(client);
    client.start(kQuiet);
    ::testing::internal::CaptureStderr();
    client.setStringProperty(QStringLiteral("no-such-property"), QStringLiteral("x"));
    client.setStringPropertyAsync(QStringLiteral("also-missing"), QStringLiteral("x"));
    const bool replied =
        waitUntil([&] { return recorder.eventCount(MPV_EVENT_SET_PROPERTY_REPLY) > 0; });
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(replied);
    EXPECT_NE(logged.find("Rillow mpv error (no-such-property): property not found"),
              std::string::npos)
        << logged;
    EXPECT_NE(logged.find("Rillow mpv error (also-missing): property not found"), std::string::npos)
        << logged;
    client.shutdown();
}

TEST(MPVClientTest, ANeverStartedClientIsInert) {
    MPVClient client;
    client.command({QStringLiteral("loadfile"), QStringLiteral("/nonexistent")});
    client.commandAsync({QStringLiteral("stop")});
    client.seekToFraction(0.5);
    client.setFlagProperty(QStringLiteral("pause"), true);
    client.setStringProperty(QStringLiteral("sub-font"), QStringLiteral("Sans"));
    EXPECT_EQ(client.handle(), nullptr);
    EXPECT_TRUE(client.trackList().empty());
    EXPECT_FALSE(client.videoSize());
    EXPECT_FALSE(client.doubleProperty(QStringLiteral("volume")));
    EXPECT_FALSE(client.createRenderContext());
    client.render(0, 16, 16);
    client.shutdown();
}

TEST(MPVClientTest, ShutdownTwiceAndCallsAfterShutdownDoNothing) {
    MPVClient client;
    client.start(kQuiet);
    ASSERT_NE(client.handle(), nullptr);
    client.shutdown();
    EXPECT_EQ(client.handle(), nullptr);
    const auto started = std::chrono::steady_clock::now();
    client.shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
    client.command({QStringLiteral("stop")});
    client.setDoublePropertyAsync(QStringLiteral("volume"), 10);
    EXPECT_FALSE(client.stringProperty(QStringLiteral("vo")));
    EXPECT_TRUE(client.trackList().empty());
    EXPECT_FALSE(client.createRenderContext());
}

TEST(MPVClientTest, ShutdownWaitsForARunningDrainBeforeDestroying) {
    MPVClient client;
    std::atomic<bool> inCallback{false};
    std::atomic<bool> callbackDone{false};
    client.setOnProperty([&](const QString& name, const MPVValue&) {
        if (name != QLatin1String("volume") || inCallback.exchange(true)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        callbackDone = true;
    });
    client.start(kQuiet);
    ASSERT_TRUE(waitUntil([&] { return inCallback.load(); }));
    bool doneWhenShutdownReturned = false;
    std::thread background([&] {
        client.shutdown();
        doneWhenShutdownReturned = callbackDone.load();
    });
    background.join();
    EXPECT_TRUE(doneWhenShutdownReturned);
    EXPECT_EQ(client.handle(), nullptr);
}

}  // namespace
}  // namespace rillow
