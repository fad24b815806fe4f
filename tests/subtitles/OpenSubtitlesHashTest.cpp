// The file fingerprint: local files checked against an independent Python computation, and
// torrent files fetched from a loopback seeder, already complete, or never arriving.
#include "subtitles/OpenSubtitlesHash.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/subtitles/Printers.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <mutex>

using namespace rillow;
using namespace std::chrono_literals;

namespace {

// The published algorithm written independently: Python's own integers, masked to 64 bits.
const char* kPythonHash = R"(
import os, struct, sys
for path in sys.argv[1:]:
    size = os.path.getsize(path)
    if size < 131072:
        print("none")
        continue
    total = size
    with open(path, "rb") as f:
        for offset in (0, size - 65536):
            f.seek(offset)
            total = (total + sum(struct.unpack("<8192Q", f.read(65536)))) & 0xFFFFFFFFFFFFFFFF
    print("%016x" % total)
)";

// One line per path: the fingerprint or "none".
QStringList pythonHashes(const QStringList& paths) {
    QProcess python;
    python.start(QStringLiteral("python3"),
                 QStringList{QStringLiteral("-c"), QString::fromUtf8(kPythonHash)} + paths);
    if (!python.waitForFinished(20'000) || python.exitCode() != 0) {
        ADD_FAILURE() << "python3 failed: " << python.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

QString pythonHash(const QString& path) {
    return pythonHashes({path}).value(0);
}

QString text(const std::optional<QString>& hash) {
    return hash.value_or(QStringLiteral("none"));
}

QString filePathOf(const test::LoopbackSeeder& seeder, int index) {
    return QString::fromStdString(seeder.filePath(index));
}

}  // namespace

TEST(FileHash, MatchesAnIndependentComputation) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* name;
        qint64 size;
        char fill;  // 'r' for pseudo-random bytes
    };
    const std::vector<Case> cases = {
        {"zeros-131072", 131072, 0},       // the sum is the size: far below 2^60
        {"ones-131072", 131072, '\xff'},   // every word 2^64 - 1: the sum wraps
        {"random-131072", 131072, 'r'},    // the two blocks are the whole file
        {"random-131071", 131071, 'r'},    // one byte short: no fingerprint
        {"random-1234567", 1234567, 'r'},  // blocks far apart, odd size
        {"random-196613", 196613, 'r'},    // the last block starts off an 8-byte boundary
        {"empty", 0, 0},
    };
    QStringList paths;
    QRandomGenerator random(7);
    for (const Case& c : cases) {
        QByteArray bytes(c.size, c.fill);
        if (c.fill == 'r')
            for (char& b : bytes) b = char(random.bounded(256));
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), c.size);
        paths << path;
    }
    const QStringList expected = pythonHashes(paths);
    ASSERT_EQ(expected.size(), paths.size());
    EXPECT_EQ(expected[0], QStringLiteral("0000000000020000")) << "python and the format agree";
    for (qsizetype i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto hash = test::await(OpenSubtitlesHash::fileHash(paths[i]));
        EXPECT_EQ(text(hash), expected[i]);
        if (hash) {
            EXPECT_EQ(hash->size(), 16);
        }
        // A size passed in is used as is: the right one changes nothing.
        EXPECT_EQ(text(test::await(OpenSubtitlesHash::fileHash(paths[i], cases[i].size))),
                  expected[i]);
    }
    // A size beyond the file makes the last block short; a missing file has none.
    EXPECT_FALSE(test::await(OpenSubtitlesHash::fileHash(paths[4], 1234568)));
    EXPECT_FALSE(test::await(OpenSubtitlesHash::fileHash(dir.filePath(QStringLiteral("gone")))));
    EXPECT_FALSE(test::await(OpenSubtitlesHash::fileHash(paths[4], -5)));
    EXPECT_FALSE(OpenSubtitlesHash::checksum(131072, QByteArray(65536, 0), QByteArray(65535, 0)));
}

namespace {

// Forwards to libtorrent and records every priority the fingerprint asks for, with its time.
class PriorityLog : public RTHandle {
public:
    using RTHandle::RTHandle;
    struct Entry {
        std::int64_t piece;
        int priority;
        std::chrono::steady_clock::time_point at;
    };
    void setPiecePriority(std::int64_t piece, std::uint8_t priority) override {
        {
            std::lock_guard lock(mutex_);
            entries_.push_back({piece, priority, std::chrono::steady_clock::now()});
        }
        RTHandle::setPiecePriority(piece, priority);
    }
    std::vector<Entry> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Two files of a version 1 torrent of 32 KiB pieces. The seeder aligns files to pieces with
// pad files, so the film is file 2 from piece 4 on, and its blocks span pieces 4...5 and
// 246...248.
test::SeederOptions twoFiles(int uploadRateLimit = 0) {
    test::SeederOptions options;
    options.files = {{"a-info.nfo", 100'000}, {"b-film.mkv", 8'000'000}};
    options.pieceSize = 32 * 1024;
    options.kind = test::TorrentKind::v1Only;
    options.uploadRateLimit = uploadRateLimit;
    return options;
}
constexpr int kFilm = 2;
const std::set<std::int64_t> kFilmNeeded = {4, 5, 246, 247, 248};

// Without pad files the second file starts inside piece 3: blocks span 3...5 and 31...33.
const std::set<std::int64_t> kUnalignedNeeded = {3, 4, 5, 31, 32, 33};

class TorrentFileHashTest : public ::testing::Test {
protected:
    test::SessionFolders folders;
    RTSession session{folders.downloads, folders.state};

    // An item over a recording wrapper of the session's handle.
    std::pair<std::shared_ptr<TorrentItem>, std::shared_ptr<PriorityLog>> itemOf(
        const std::shared_ptr<RTHandle>& registered) {
        if (!registered) return {};
        auto log = std::make_shared<PriorityLog>(registered->handle());
        return {std::make_shared<TorrentItem>(log), log};
    }
};

}  // namespace

TEST_F(TorrentFileHashTest, NeededPieces) {
    struct Case {
        const char* name;
        std::vector<test::SeedFile> files;
        int pieceSize;
        int fileIndex;
        std::set<std::int64_t> needed;
    };
    const std::vector<Case> cases = {
        {"both blocks in one piece", {{"a.mkv", 131072}}, 256 * 1024, 0, {0}},
        {"one piece per block", {{"a.mkv", 4 * 1024 * 1024}}, 64 * 1024, 0, {0, 63}},
        {"a block across a piece boundary",
         {{"a.nfo", 100'000}, {"b.mkv", 1'000'000}},
         32 * 1024,
         1,
         kUnalignedNeeded},
        {"too small", {{"a.mkv", 131071}}, 16 * 1024, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto handle = session.addTorrentData(
            test::makeTorrentWithoutData(c.files, c.pieceSize, "content", false));
        ASSERT_TRUE(handle);
        TorrentItem item(handle);
        const FileInfo file = item.files().at(c.fileIndex);
        EXPECT_EQ(OpenSubtitlesHash::neededPieces(*handle, c.fileIndex, file.length), c.needed);
        session.removeTorrent(handle);
    }
}

TEST_F(TorrentFileHashTest, FetchesOnlyTheBlocksFromASeederThenHashes) {
    // At this rate the whole torrent would take about half a minute.
    test::LoopbackSeeder seeder(twoFiles(300 * 1024));
    ASSERT_TRUE(seeder.ok());
    auto [item, log] = itemOf(session.addMagnet(seeder.magnet()));
    ASSERT_TRUE(item);
    ASSERT_TRUE(test::await(item->waitForMetadata(20)));
    ASSERT_EQ(item->files().size(), 4) << "two files, each followed by a pad file";
    ASSERT_EQ(item->files()[kFilm].path, QStringLiteral("content/b-film.mkv"));
    EXPECT_EQ(OpenSubtitlesHash::neededPieces(*log, kFilm, item->files()[kFilm].length),
              kFilmNeeded);

    const auto hash = test::await(OpenSubtitlesHash::torrentFileHash(item.get(), kFilm, 20s));
    EXPECT_EQ(text(hash), pythonHash(filePathOf(seeder, kFilm)));
    for (const std::int64_t piece : kFilmNeeded) EXPECT_TRUE(log->havePiece(piece)) << piece;
    int present = 0;
    for (std::int64_t piece = 0; piece < log->pieceCount(); ++piece)
        present += log->havePiece(piece);
    EXPECT_LT(present, log->pieceCount() / 2) << "it returned once the blocks were there";

    const auto entries = log->entries();
    ASSERT_FALSE(entries.empty());
    std::set<std::int64_t> raised;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.priority, 7);
        raised.insert(entry.piece);
    }
    EXPECT_TRUE(std::includes(kFilmNeeded.begin(), kFilmNeeded.end(), raised.begin(), raised.end()))
        << "only pieces of the two blocks are touched";
}

TEST_F(TorrentFileHashTest, ACompleteTorrentIsHashedAtOnceWithoutPriorities) {
    test::LoopbackSeeder seeder(twoFiles());
    ASSERT_TRUE(seeder.ok());
    for (int index : {0, kFilm})
        ASSERT_TRUE(test::placePartialCopy(seeder, index, folders.downloads, 8'000'000));
    auto registered = session.addTorrentData(seeder.torrentData());
    ASSERT_TRUE(registered && test::waitUntilChecked(registered));
    auto [item, log] = itemOf(registered);
    ASSERT_TRUE(log->isSeed());

    QElapsedTimer clock;
    clock.start();
    const auto hash = test::await(OpenSubtitlesHash::torrentFileHash(item.get(), kFilm, 25s));
    EXPECT_LT(clock.elapsed(), 1'000);
    EXPECT_EQ(text(hash), pythonHash(filePathOf(seeder, kFilm)));
    EXPECT_TRUE(log->entries().empty());

    // Too small, a pad file, an index the torrent does not list, no item.
    for (const int index : {0, 1, 4, -1})
        EXPECT_FALSE(test::await(OpenSubtitlesHash::torrentFileHash(item.get(), index, 25s)))
            << index;
    EXPECT_FALSE(test::await(OpenSubtitlesHash::torrentFileHash(nullptr, kFilm, 25s)));
}

TEST_F(TorrentFileHashTest, ADeadlineThatPassesGivesNoneAndThePiecesStayRaised) {
    // No peer: nothing ever arrives.
    auto registered = session.addTorrentData(
        test::makeTorrentWithoutData({{"film.mkv", 2 * test::MiB}}, 256 * 1024));
    ASSERT_TRUE(registered && test::waitUntilChecked(registered));
    auto [item, log] = itemOf(registered);
    const std::set<std::int64_t> needed = {0, 7};
    ASSERT_EQ(OpenSubtitlesHash::neededPieces(*log, 0, item->files()[0].length), needed);

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(test::await(OpenSubtitlesHash::torrentFileHash(item.get(), 0, 3s)));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 3'000);
    EXPECT_LT(elapsed, 4'500);

    // Polls every 250 ms: raised on poll 0 and poll 8 (two seconds later), not in between.
    const auto entries = log->entries();
    ASSERT_EQ(entries.size(), 4u);
    for (const auto& entry : entries) {
        EXPECT_TRUE(needed.count(entry.piece)) << entry.piece;
        EXPECT_EQ(entry.priority, 7);
    }
    const auto gap = entries[2].at - entries[0].at;
    EXPECT_GE(gap, 1'950ms);
    EXPECT_LT(gap, 2'900ms);
    const std::vector<int> priorities = test::piecePriorities(*log);
    EXPECT_EQ(priorities.at(0), 7);
    EXPECT_EQ(priorities.at(7), 7);
    EXPECT_EQ(priorities.at(3), 4) << "other pieces untouched";
}

TEST_F(TorrentFileHashTest, CancellingOrLosingTheItemEndsTheWait) {
    for (const bool byCancel : {true, false}) {
        SCOPED_TRACE(byCancel ? "cancel" : "item destroyed");
        auto registered = session.addTorrentData(
            test::makeTorrentWithoutData({{"film.mkv", 2 * test::MiB}}, 256 * 1024));
        ASSERT_TRUE(registered && test::waitUntilChecked(registered));
        std::shared_ptr<TorrentItem> item = itemOf(registered).first;
        CancelToken token;
        TorrentItem* target = item.get();
        QTimer::singleShot(300, [&] {
            if (byCancel)
                token.cancel();
            else
                item.reset();
        });
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(test::await(OpenSubtitlesHash::torrentFileHash(target, 0, 20s, token)));
        EXPECT_LT(clock.elapsed(), 1'000);
        session.removeTorrent(registered);
    }
    CancelToken cancelled;
    cancelled.cancel();
    auto registered = session.addTorrentData(
        test::makeTorrentWithoutData({{"other.mkv", 2 * test::MiB}}, 256 * 1024));
    ASSERT_TRUE(registered && test::waitUntilChecked(registered));
    const auto made = itemOf(registered);
    EXPECT_FALSE(
        test::await(OpenSubtitlesHash::torrentFileHash(made.first.get(), 0, 20s, cancelled)));
    EXPECT_TRUE(made.second->entries().empty())
        << "a wait cancelled before it starts raises nothing";
}
