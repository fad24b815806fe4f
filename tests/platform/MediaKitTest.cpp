// The generated media are what later playback tests assume they are.
#include "tests/support/Media.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

QStringList streamTypes(const QString& path) {
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
                 QStringLiteral("-of"), QStringLiteral("json"), path});
    if (!probe.waitForFinished(30'000)) return {};
    QStringList types;
    const auto streams = QJsonDocument::fromJson(probe.readAllStandardOutput())
                             .object()
                             .value(QStringLiteral("streams"))
                             .toArray();
    for (const auto& stream : streams)
        types << stream.toObject().value(QStringLiteral("codec_type")).toString();
    return types;
}

// Offset of the first top-level MP4 box of that type, or -1.
qint64 boxOffset(const QString& path, const QByteArray& type) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    qint64 offset = 0;
    while (offset + 8 <= file.size()) {
        file.seek(offset);
        const QByteArray header = file.read(8);
        quint64 size = (quint8(header[0]) << 24) | (quint8(header[1]) << 16) |
                       (quint8(header[2]) << 8) | quint8(header[3]);
        if (header.mid(4, 4) == type) return offset;
        if (size == 1) {
            const QByteArray large = file.read(8);
            size = 0;
            for (char c : large) size = (size << 8) | quint8(c);
        }
        if (size < 8) return -1;
        offset += static_cast<qint64>(size);
    }
    return -1;
}

}  // namespace

TEST(MediaKit, ClipsHaveTheirStreamsAndIndexPlacement) {
    const QString mkv = rillow::test::mkvWithSubtitles();
    ASSERT_FALSE(mkv.isEmpty());
    EXPECT_EQ(streamTypes(mkv), QStringList({QStringLiteral("video"), QStringLiteral("audio"),
                                             QStringLiteral("subtitle")}));
    EXPECT_EQ(streamTypes(rillow::test::audioOnly()), QStringList({QStringLiteral("audio")}));

    const QString start = rillow::test::mp4IndexAtStart();
    const QString end = rillow::test::mp4IndexAtEnd();
    ASSERT_FALSE(start.isEmpty());
    ASSERT_FALSE(end.isEmpty());
    EXPECT_LT(boxOffset(start, "moov"), boxOffset(start, "mdat"));
    EXPECT_GT(boxOffset(end, "moov"), boxOffset(end, "mdat"));
    // Asking again returns the cached file.
    EXPECT_EQ(rillow::test::mp4IndexAtEnd(), end);
}
