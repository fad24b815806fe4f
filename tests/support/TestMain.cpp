// Test main: loopback mode for every test, a Qt application for event loops and tasks.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("RILLOW_NETWORK", "loopback", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("RILLOW_TEST_MEDIA_CACHE", RILLOW_TEST_MEDIA_CACHE_DEFAULT, 0);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
