// The subtitle cache on a real temporary folder: naming, the index, generations, pruning.
#include "subtitles/SubtitleStore.h"
#include "tests/subtitles/Printers.h"
#include "tests/support/TempHome.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <ctime>

using namespace rillow;

namespace {

const QString kScope = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
const SubtitleText kSrt{QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nHéllo\n"),
                        QStringLiteral("srt")};

std::optional<QString> s(const char* text) {
    return QString::fromUtf8(text);
}

QJsonArray indexOf(const QString& folder) {
    QFile f(folder + QStringLiteral("/index.json"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).array();
}

void setAge(const QString& path, qint64 seconds) {
    const timespec when{std::time(nullptr) - time_t(seconds), 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

class SubtitleStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString root() const { return dir.filePath(QStringLiteral("Subtitles")); }
};

}  // namespace

TEST_F(SubtitleStoreTest, DefaultRootUnderApplicationSupport) {
    test::TempHome home;
    SubtitleStore store;
    EXPECT_EQ(store.root(), home.dataHome() + QStringLiteral("/Rillow/Subtitles"));
    EXPECT_TRUE(QFileInfo(store.root()).isDir());
}

TEST_F(SubtitleStoreTest, NamingAndIndex) {
    SubtitleStore store(root());
    const auto first = store.save(kSrt, "c1", s("en"), "English · One", kScope, 0, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, root() + u'/' + kScope + QStringLiteral("/0.en.srt"));
    QFile written(*first);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), kSrt.text.toUtf8());

    // The same candidate again: the existing file, no second entry.
    EXPECT_EQ(store.save(kSrt, "c1", s("en"), "English · One", kScope, 0, 0), first);
    EXPECT_EQ(store.entries(kScope, 0).size(), 1);

    // Names: counters for the same name, normalised language, "und" without one, extension.
    const struct {
        const char* id;
        std::optional<QString> language;
        int fileIndex;
        QString format;
        const char* name;
    } cases[] = {
        {"c2", s("English"), 0, "srt", "0.en.2.srt"}, {"c3", s("en"), 0, "srt", "0.en.3.srt"},
        {"c4", s("pob"), 3, "ass", "3.pt-BR.ass"},    {"c5", std::nullopt, 0, "srt", "0.und.srt"},
        {"c6", s("n/a"), 0, "vtt", "0.und.vtt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const auto path =
            store.save({kSrt.text, c.format}, c.id, c.language, "t", kScope, c.fileIndex, 0);
        ASSERT_TRUE(path);
        EXPECT_EQ(QFileInfo(*path).fileName(), QString::fromLatin1(c.name));
    }

    const QList<StoredSubtitle> zero = store.entries(kScope, 0);
    ASSERT_EQ(zero.size(), 5);
    EXPECT_EQ(zero[0], (StoredSubtitle{0, "c1", s("en"), "English · One", "0.en.srt"}));
    EXPECT_EQ(zero[3].language, std::nullopt);
    EXPECT_EQ(store.entries(kScope, 3),
              (QList<StoredSubtitle>{{3, "c4", s("pob"), "t", "3.pt-BR.ass"}}));
    EXPECT_TRUE(store.entries(kScope, 7).isEmpty());

    // The index: compact JSON, no "language" key when there is none.
    const QJsonArray index = indexOf(root() + u'/' + kScope);
    ASSERT_EQ(index.size(), 6);
    EXPECT_FALSE(index[4].toObject().contains(QStringLiteral("language")));
    EXPECT_EQ(index[0].toObject().value(QStringLiteral("fileName")).toString(),
              QStringLiteral("0.en.srt"));

    // The path of a file maps back to its entry, even when written differently.
    EXPECT_EQ(store.entry(root() + u'/' + kScope + QStringLiteral("/./x/../0.en.2.srt"), kScope)
                  ->candidateID,
              QStringLiteral("c2"));
    EXPECT_FALSE(store.entry(root() + QStringLiteral("/other/0.en.srt"), kScope));
}

TEST_F(SubtitleStoreTest, ScopesCaseAndCharacters) {
    SubtitleStore store(root());
    // Upper-case scopes share the lower-case folder.
    ASSERT_TRUE(store.save(kSrt, "c1", s("en"), "t", kScope.toUpper(), 0, 0));
    EXPECT_EQ(store.entries(kScope, 0).size(), 1);
    EXPECT_EQ(store.directory(QStringLiteral("Local-ABC")), root() + QStringLiteral("/local-abc"));
    for (const QString& bad : {QString(), QStringLiteral("a:b"), QStringLiteral("../x"),
                               QStringLiteral("a/b"), QString(81, u'a'), QStringLiteral("ü")}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_EQ(store.directory(bad), std::nullopt);
        EXPECT_EQ(store.save(kSrt, "c1", s("en"), "t", bad, 0, 0), std::nullopt);
        EXPECT_TRUE(store.entries(bad, 0).isEmpty());
        store.touch(bad);
        store.invalidate(bad);
    }
    EXPECT_TRUE(store.directory(QString(80, u'a')));
    // Nothing was written outside the root.
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("x"))));
    EXPECT_EQ(QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{kScope});
}

TEST_F(SubtitleStoreTest, InvalidateRefusesEarlierSaves) {
    SubtitleStore store(root());
    ASSERT_TRUE(store.save(kSrt, "c1", s("en"), "t", kScope, 0, 0));
    const int before = store.generation(kScope);
    EXPECT_EQ(before, 0);
    store.invalidate(kScope);
    EXPECT_EQ(store.generation(kScope), 1);
    EXPECT_FALSE(QFileInfo::exists(root() + u'/' + kScope));
    // A download that began before finishes now: refused, nothing written.
    EXPECT_EQ(store.save(kSrt, "c2", s("en"), "t", kScope, 0, before), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(root() + u'/' + kScope));
    // The next save with the current generation starts a new folder.
    EXPECT_TRUE(store.save(kSrt, "c3", s("en"), "t", kScope, 0, store.generation(kScope)));
    EXPECT_EQ(store.entries(kScope, 0).size(), 1);
    EXPECT_EQ(store.generation(QStringLiteral("other")), 0);
}

TEST_F(SubtitleStoreTest, DamagedOrMissingIndex) {
    SubtitleStore store(root());
    ASSERT_TRUE(store.save(kSrt, "c1", s("en"), "t", kScope, 0, 0));
    const QString index = root() + u'/' + kScope + QStringLiteral("/index.json");
    for (const QByteArray& damage :
         {QByteArray("{not json"), QByteArray("{\"a\":1}"),
          QByteArray(R"([{"fileIndex":0,"candidateID":"c1","title":"t","fileName":"0.en.srt"},)"
                     R"({"fileIndex":"0","candidateID":"c9","title":"t","fileName":"f"}])")}) {
        QFile f(index);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(damage);
        f.close();
        EXPECT_TRUE(store.entries(kScope, 0).isEmpty()) << damage.toStdString();
    }
    // The next save writes an index holding only the new entry.
    const auto path = store.save(kSrt, "c2", s("en"), "t", kScope, 0, 0);
    ASSERT_TRUE(path);
    EXPECT_EQ(QFileInfo(*path).fileName(), QStringLiteral("0.en.2.srt"));  // 0.en.srt still exists
    EXPECT_EQ(store.entries(kScope, 0).size(), 1);

    // A cached file that has disappeared is written again.
    QFile::remove(*path);
    const auto again = store.save(kSrt, "c2", s("en"), "t", kScope, 0, 0);
    ASSERT_TRUE(again);
    EXPECT_TRUE(QFileInfo::exists(*again));
    EXPECT_EQ(store.entries(kScope, 0).size(), 1);
}

TEST_F(SubtitleStoreTest, TouchAndPrune) {
    SubtitleStore store(root());
    const QString kept = kScope;
    const QString removed = QStringLiteral("fedcba9876543210fedcba9876543210fedcba98");
    const QString oldLocal = QStringLiteral("local-old");
    const QString recentLocal = QStringLiteral("local-recent");
    const QString touchedLocal = QStringLiteral("local-touched");
    for (const QString& scope : {kept, removed, oldLocal, recentLocal, touchedLocal})
        ASSERT_TRUE(store.save(kSrt, "c1", s("en"), "t", scope, 0, 0));
    setAge(root() + u'/' + oldLocal, 91 * 86400);
    setAge(root() + u'/' + recentLocal, 89 * 86400);
    setAge(root() + u'/' + touchedLocal, 200 * 86400);
    store.touch(touchedLocal);
    EXPECT_LT(
        QFileInfo(root() + u'/' + touchedLocal).lastModified().secsTo(QDateTime::currentDateTime()),
        60);

    // A plain file and a link to a folder outside are left alone; the outside stays whole.
    QFile stray(root() + QStringLiteral("/stray.txt"));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    const QString outside = dir.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(outside));
    QFile precious(outside + QStringLiteral("/precious"));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();
    ASSERT_TRUE(QFile::link(outside, root() + QStringLiteral("/linked")));

    store.prune({kept.toUpper()});
    const QStringList left =
        QDir(root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    EXPECT_EQ(left, (QStringList{kept, QStringLiteral("linked"), recentLocal, touchedLocal,
                                 QStringLiteral("stray.txt")}));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/precious")));
}

TEST_F(SubtitleStoreTest, InvalidateDoesNotFollowALink) {
    SubtitleStore store(root());
    const QString outside = dir.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(outside));
    QFile precious(outside + QStringLiteral("/precious"));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();
    ASSERT_TRUE(QFile::link(outside, root() + u'/' + kScope));
    store.invalidate(kScope);
    EXPECT_FALSE(QFileInfo(root() + u'/' + kScope).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/precious")));
}
