// Prints: release names parsed per second over a few thousand realistic names, and the time to
// transcode a 2 MB windows-1251 subtitle without a language hint (every default encoding is
// decoded and scored).
#include "subtitles/ReleaseNameParser.h"
#include "subtitles/SubtitleTranscoder.h"

#include <unicode/ucnv.h>
#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>
#include <ctime>

using namespace rillow;

namespace {

// CPU time of this thread, so that other work on a busy machine does not count.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QStringList releaseNames() {
    const QStringList titles = {"The.Movie",     "Another.Story",    "Blade.Runner",
                                "Dune.Part.Two", "Oppenheimer",      "The.Office",
                                "Breaking.Bad",  "Some.Show",        "2001.A.Space.Odyssey",
                                "Amelie",        "La.Casa.de.Papel", "Dark"};
    const QStringList quality = {"2160p.UHD.BluRay.x265.10bit.HDR.DTS-HD.MA.5.1",
                                 "1080p.WEB-DL.DDP5.1.H.264",
                                 "720p.HDTV.x264",
                                 "1080p.AMZN.WEB-DL.DDP5.1.H.264",
                                 "1080p.NF.WEBRip.x265",
                                 "480p.DVDRip.XviD.AC3",
                                 "1080p.BluRay.REMUX.AVC.TrueHD.7.1.Atmos",
                                 "720p.HDRip.AAC"};
    const QStringList groups = {"GROUP", "NTb", "FLUX", "SPARKS", "RARBG", "YIFY", "EVO", "CMRG"};
    QStringList names;
    int n = 0;
    for (const QString& t : titles)
        for (const QString& q : quality)
            for (const QString& g : groups) {
                ++n;
                switch (n % 4) {
                    case 0:
                        names << QStringLiteral("%1.%2.%3-%4.mkv")
                                     .arg(t)
                                     .arg(1990 + n % 30)
                                     .arg(q, g);
                        break;
                    case 1:
                        names << QStringLiteral("%1.S%2E%3.%4-%5")
                                     .arg(t)
                                     .arg(n % 9 + 1, 2, 10, QChar('0'))
                                     .arg(n % 20 + 1, 2, 10, QChar('0'))
                                     .arg(q, g);
                        break;
                    case 2:
                        names << QStringLiteral("[%1] %2 - %3 (%4) [ABCD%5].mkv")
                                     .arg(g, QString(t).replace('.', ' '))
                                     .arg(n % 24 + 1, 2, 10, QChar('0'))
                                     .arg(q.left(5))
                                     .arg(1000 + n % 9000);
                        break;
                    default:
                        names << QStringLiteral("www.site.org - %1 %2 %3 [%4]")
                                     .arg(QString(t).replace('.', ' '))
                                     .arg(2000 + n % 24)
                                     .arg(q, g);
                        break;
                }
            }
    return names;
}

QByteArray windows1251Subtitle(qsizetype targetBytes) {
    const QString cue = QString::fromUtf8(
        "%1\n00:%2:%3,000 --> 00:%2:%4,500\nПривет, как дела? Я не знаю, что сказать тебе "
        "сегодня.\n"
        "Мы должны уйти отсюда, пока не стало слишком поздно.\n\n");
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("windows-1251", &status);
    QByteArray out;
    for (int i = 1; out.size() < targetBytes; ++i) {
        const QString text = cue.arg(i)
                                 .arg(i / 60 % 60, 2, 10, QChar('0'))
                                 .arg(i % 60, 2, 10, QChar('0'))
                                 .arg((i + 1) % 60, 2, 10, QChar('0'));
        char buf[1024];
        status = U_ZERO_ERROR;
        const int32_t len =
            ucnv_fromUChars(conv, buf, sizeof buf, reinterpret_cast<const UChar*>(text.utf16()),
                            int32_t(text.size()), &status);
        out.append(buf, len);
    }
    ucnv_close(conv);
    return out;
}

}  // namespace

int main() {
    const QStringList names = releaseNames();
    ReleaseNameParser::parse(names.first());  // build the tables and compile the patterns
    QElapsedTimer timer;
    timer.start();
    const double parseCpuStart = threadCpuMs();
    int rounds = 0;
    qint64 parsed = 0;
    while (timer.elapsed() < 2000) {
        for (const QString& name : names) ReleaseNameParser::parse(name);
        parsed += names.size();
        ++rounds;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpuSeconds = (threadCpuMs() - parseCpuStart) / 1e3;
    std::printf(
        "ReleaseNameParser.parse: %lld names (%d distinct) in %.2f s = %.0f names/s (%.0f per CPU "
        "second)\n",
        (long long)parsed, int(names.size()), seconds, double(parsed) / seconds,
        double(parsed) / cpuSeconds);

    const QByteArray data = windows1251Subtitle(2 * 1024 * 1024);
    double best = 1e9, total = 0, bestCpu = 1e9;
    const int runs = 5;
    QString format;
    for (int i = 0; i < runs; ++i) {
        timer.restart();
        const double cpuStart = threadCpuMs();
        auto result = SubtitleTranscoder::transcode(data, std::nullopt, std::nullopt, std::nullopt);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        best = std::min(best, ms);
        bestCpu = std::min(bestCpu, threadCpuMs() - cpuStart);
        total += ms;
        if (auto* r = std::get_if<SubtitleTranscoder::Result>(&result)) {
            format = r->subtitle.format + QChar(' ') +
                     r->detectedLanguage.value_or(QStringLiteral("-")) + QChar(' ') +
                     r->subtitle.text.mid(r->subtitle.text.indexOf(u'\n', 10) + 1, 6);
        }
    }
    std::printf(
        "transcode 2 MB windows-1251, no language: best %.1f ms, mean %.1f ms, best CPU %.1f ms "
        "(%s)\n",
        best, total / runs, bestCpu, format.toUtf8().constData());
    return 0;
}
