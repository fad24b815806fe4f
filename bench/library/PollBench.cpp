// The main thread's CPU time per second spent by the engine's 100 ms piece poll, with many
// torrents with metadata in the library (seeding off, all paused by the policy).
//
// Usage: bench_library_poll [torrents=500] [seconds=10]
#include "engine/TorrentEngine.h"
#include "search/HistoryStore.h"
#include "tests/support/seeder/LoopbackSeeder.h"

#include <sys/resource.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("RILLOW_NETWORK", "loopback");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 500;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;

    rillow::HistoryStore history;
    rillow::SeedSettingsStore seed;
    rillow::TransferSettingsStore transfer;
    rillow::TorrentEngine engine(home.path() + QStringLiteral("/downloads"), seed, transfer,
                                 history);
    for (int i = 0; i < count; ++i) {
        // 64 pieces each, a distinct torrent per index.
        const auto data = rillow::test::makeTorrentWithoutData(
            {{"file" + std::to_string(i) + ".mkv", 64 * 256 * 1024}}, 256 * 1024,
            "torrent" + std::to_string(i));
        engine.addTorrentData(QByteArray(data.data(), qsizetype(data.size())));
    }
    std::printf("torrents in the library: %zu (with metadata, paused)\n", engine.items().size());

    // Let the adds settle, then measure the main thread alone.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2000) app.processEvents(QEventLoop::AllEvents, 50);

    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = threadCpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;

    // One poll measured on its own, for the per-torrent cost.
    const double one = threadCpuSeconds();
    const int rounds = 20;
    for (int i = 0; i < rounds; ++i) engine.pollSnapshot();
    const double perPoll = (threadCpuSeconds() - one) / rounds;

    std::printf("wall %.1f s, main-thread CPU %.3f s\n", elapsed, cpu);
    std::printf("main-thread CPU per second: %.1f ms (%.2f %% of one core; goal < 2 %%)\n",
                cpu / elapsed * 1000.0, cpu / elapsed * 100.0);
    std::printf("mean poll over 20 rounds: %.3f ms (%.2f us per torrent)\n", perPoll * 1000.0,
                perPoll * 1e6 / std::max(count, 1));
    engine.shutdown();
    return 0;
}
