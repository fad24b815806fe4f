#include "app/InputClassification.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

using namespace rillow;

namespace {

void touch(const QString& path, int bytes = 0) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(bytes, 'v'));
}

QUrl local(const QString& path) {
    return QUrl::fromLocalFile(path);
}

}  // namespace

class InputClassification : public rillow::test::TempHomeTest {};

TEST(MagnetText, Recognition) {
    struct Case {
        const char* text;
        bool magnet;
    };
    const Case cases[] = {
        {"magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567", true},
        {"  \n MAGNET:?XT=URN:BTIH:0123456789ABCDEF0123456789ABCDEF01234567&dn=x \t", true},
        {"magnet:?dn=name&xt=urn:btih:abc", true},
        {"magnet:?xt=urn:btmh:1220abcdef", false},  // version 2 only
        {"http://example.invalid/?xt=urn:btih:abc", false},
        {"see magnet:?xt=urn:btih:abc", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isMagnetText(QString::fromUtf8(c.text)), c.magnet) << c.text;
}

TEST_F(InputClassification, AcceptableLocationsAndPreflight) {
    const QString folder = home.path() + QStringLiteral("/Shows");
    QDir().mkpath(folder);
    touch(home.path() + QStringLiteral("/notes.txt"));
    struct Case {
        QUrl location;
        bool acceptable;
    };
    const Case cases[] = {
        {QUrl(QStringLiteral("MAGNET:?xt=urn:btih:abc")), true},
        {QUrl(QStringLiteral("https://127.0.0.1/file.mkv")), false},  // not a file location
        {local(QStringLiteral("/nowhere/file.TORRENT")), true},
        {local(QStringLiteral("/nowhere/clip.MKV")), true},
        {local(QStringLiteral("/nowhere/song.flac")), true},
        {local(QStringLiteral("/nowhere/folder/")), true},  // written as a folder
        {local(folder), true},
        {local(home.path() + QStringLiteral("/notes.txt")), false},
        {local(QStringLiteral("/nowhere/missing")), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isAcceptableLocation(c.location), c.acceptable)
            << c.location.toString().toStdString();

    EXPECT_FALSE(DragPreflight::canAccept({}, {QStringLiteral("just some words")}));
    EXPECT_FALSE(DragPreflight::canAccept({local(home.path() + QStringLiteral("/notes.txt"))}, {}));
    EXPECT_TRUE(DragPreflight::canAccept(
        {}, {QStringLiteral("x"), QStringLiteral(" magnet:?xt=urn:btih:a")}));
    EXPECT_TRUE(DragPreflight::canAccept({local(folder)}, {}));
}

TEST_F(InputClassification, SeasonFoldersSortNaturallyAndSkipHiddenFiles) {
    const QString show = home.path() + QStringLiteral("/Show");
    for (const char* name :
         {"Season 2/Show S02E10.mkv", "Season 2/Show S02E2.mkv", "Season 10/Show S10E1.mkv",
          "Season 1/show s01e1.MP4", "Season 1/.hidden.mkv", ".cache/inside.mkv",
          "Season 1/cover.jpg", "Season 1/Show S01E01.srt"})
        touch(show + QLatin1Char('/') + QLatin1String(name), 10);

    auto item = LocalMediaItem::make({local(show)});
    ASSERT_TRUE(item);
    QStringList relative;
    for (const FileInfo& file : item->files()) relative << file.path.mid(show.size() + 1);
    EXPECT_EQ(relative, QStringList({QStringLiteral("Season 1/show s01e1.MP4"),
                                     QStringLiteral("Season 2/Show S02E2.mkv"),
                                     QStringLiteral("Season 2/Show S02E10.mkv"),
                                     QStringLiteral("Season 10/Show S10E1.mkv")}));
    for (int i = 0; i < item->files().size(); ++i) {
        EXPECT_EQ(item->files()[i].fileIndex, i);
        EXPECT_EQ(item->files()[i].length, 10);
    }
    EXPECT_EQ(item->name(), QStringLiteral("Season 1")) << "the folder holding the first file";
    EXPECT_EQ(item->roots(), QList<QUrl>({local(show)}));
    EXPECT_EQ(item->location(3), local(show + QStringLiteral("/Season 10/Show S10E1.mkv")));
    EXPECT_FALSE(item->location(4).has_value());

    // The same drop again: the same identity, file by file.
    auto again = LocalMediaItem::make({local(show + QStringLiteral("/"))});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->id(), item->id());
    EXPECT_EQ(item->id().count(QLatin1Char('\t')), 3);
}

TEST_F(InputClassification, NamesCapsAndNothingPlayable) {
    const QString film = home.path() + QStringLiteral("/Films/The Film.mkv");
    touch(film, 3);
    auto single = LocalMediaItem::make({local(film)});
    ASSERT_TRUE(single);
    EXPECT_EQ(single->name(), QStringLiteral("The Film.mkv"));
    EXPECT_EQ(single->id(), film);

    const QString many = home.path() + QStringLiteral("/Many");
    touch(many + QStringLiteral("/a.mkv"));
    touch(many + QStringLiteral("/b.mkv"));
    EXPECT_EQ(LocalMediaItem::make({local(many)})->name(), QStringLiteral("Many"));

    const QString big = home.path() + QStringLiteral("/Big");
    for (int i = 0; i < 600; ++i) touch(big + QStringLiteral("/clip %1.mp4").arg(i));
    auto capped = LocalMediaItem::make({local(big), local(film)});
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->files().size(), LocalMediaItem::kMaxFiles);
    EXPECT_EQ(QFileInfo(capped->files().front().path).fileName(), QStringLiteral("clip 0.mp4"));
    EXPECT_EQ(QFileInfo(capped->files().back().path).fileName(), QStringLiteral("clip 499.mp4"));

    touch(home.path() + QStringLiteral("/Docs/readme.txt"));
    EXPECT_FALSE(LocalMediaItem::make({local(home.path() + QStringLiteral("/Docs")),
                                       QUrl(QStringLiteral("magnet:?xt=urn:btih:a"))}));
    EXPECT_FALSE(LocalMediaItem::make({}));
}

TEST(LocalFileIdentifier, HashOfTheStandardizedPath) {
    const QString path = QStringLiteral("/videos/Film é.mkv");
    const QString expected =
        QStringLiteral("local-") +
        QString::fromLatin1(
            QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(LocalMediaItem::fileIdentifier(QUrl::fromLocalFile(path)), expected);
    EXPECT_EQ(LocalMediaItem::fileIdentifier(
                  QUrl::fromLocalFile(QStringLiteral("/videos/./x/../Film é.mkv"))),
              expected);
    EXPECT_EQ(expected.size(), 6 + 64);
}
