#include <gtest/gtest.h>
#include <QProcess>
#include <QProcessEnvironment>

// The executable starts and exits cleanly with no display at all.
TEST(Smoke, StartsAndExitsWithoutDisplay) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(RILLOW_EXECUTABLE), {QStringLiteral("--version")});
    ASSERT_TRUE(process.waitForFinished(20'000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().startsWith("Rillow " RILLOW_VERSION));
}
