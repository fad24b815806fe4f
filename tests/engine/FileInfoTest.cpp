#include "engine/FileInfo.h"

#include <gtest/gtest.h>

using namespace rillow;

TEST(FileInfo, PlayableExtensions) {
    struct Case {
        const char* path;
        const char* extension;
        bool playable;
    };
    const Case cases[] = {
        {"Film/Film.MKV", "mkv", true},
        {"a.b/c", "", false},
        {"song.alac", "alac", true},
        {"clip.3gp", "3gp", true},
        {"Film/Sample/sample.mkv", "mkv", true},
        {"notes.txt", "txt", false},
        {"cover.jpg", "jpg", false},
        {"Film.srt", "srt", false},
        {".pad/131072", "", false},
        {"archive.tar.gz", "gz", false},
        {"video.m2ts", "m2ts", true},
        {"noextension", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lowerCaseExtension(QString::fromUtf8(c.path)), QString::fromUtf8(c.extension))
            << c.path;
        EXPECT_EQ(isPlayablePath(QString::fromUtf8(c.path)), c.playable) << c.path;
    }
}

TEST(FileInfo, NaturalOrderIsNumericCaseInsensitiveAndStable) {
    QList<FileInfo> files = {
        {0, QStringLiteral("Show/Episode 10.mkv"), 1},
        {1, QStringLiteral("Show/episode 2.mkv"), 1},
        {2, QStringLiteral("Show/Episode 1.mkv"), 1},
        {3, QStringLiteral("Show/EPISODE 2.mkv"), 1},
        {4, QStringLiteral("Show/Episode 02b.mkv"), 1},
    };
    sortByPathNaturally(files);
    QList<int> order;
    for (const FileInfo& f : files) order << f.fileIndex;
    // Equal-by-collation names (case only) keep their input order.
    EXPECT_EQ(order, QList<int>({2, 1, 3, 4, 0}));
    EXPECT_LT(naturalCompare(QStringLiteral("x9"), QStringLiteral("X10")), 0);
}
