#include "tests/support/Media.h"

#include "platform/AppFolders.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

namespace rillow::test {

namespace {

QString cacheFolder() {
    QString folder = qEnvironmentVariable("RILLOW_TEST_MEDIA_CACHE");
    if (folder.isEmpty()) folder = temporaryFolder() + QStringLiteral("/rillow-test-media");
    QDir().mkpath(folder);
    return folder;
}

const char* extension(ClipSpec::Container container) {
    switch (container) {
        case ClipSpec::Container::mkv: return "mkv";
        case ClipSpec::Container::mp4: return "mp4";
        case ClipSpec::Container::m4a: return "m4a";
    }
    return "bin";
}

QString describe(const ClipSpec& s) {
    return QStringLiteral("%1|%2|%3x%4@%5|%6|%7%8%9|%10|%11|%12")
        .arg(QLatin1String(extension(s.container)))
        .arg(s.seconds)
        .arg(s.width)
        .arg(s.height)
        .arg(s.fps)
        .arg(s.pattern)
        .arg(s.video ? 'v' : '-')
        .arg(s.audio ? 'a' : '-')
        .arg(s.subtitles ? 's' : '-')
        .arg(s.audioLanguage)
        .arg(s.indexAtStart ? QStringLiteral("start") : QStringLiteral("end"))
        .arg(s.videoBitrateKbps);
}

QString writeSubtitleSource(const QString& folder, int seconds) {
    const QString path = folder + QStringLiteral("/english-%1.srt").arg(seconds);
    if (QFileInfo::exists(path)) return path;
    QByteArray srt;
    for (int i = 0; i < seconds; ++i) {
        srt += QByteArray::number(i + 1) + "\n";
        srt += QStringLiteral("00:00:%1,000 --> 00:00:%1,900\n")
                   .arg(i, 2, 10, QLatin1Char('0'))
                   .toUtf8();
        srt += "Line " + QByteArray::number(i + 1) + " of the test\n\n";
    }
    QTemporaryFile temp(folder + QStringLiteral("/srt-XXXXXX"));
    temp.setAutoRemove(false);
    if (!temp.open()) return {};
    temp.write(srt);
    temp.close();
    QFile::rename(temp.fileName(), path);
    return path;
}

}  // namespace

bool runFfmpeg(const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{QStringLiteral("-y"), QStringLiteral("-hide_banner"),
                              QStringLiteral("-loglevel"), QStringLiteral("error"),
                              QStringLiteral("-nostdin")} +
                      arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString makeClip(const ClipSpec& spec) {
    const QString folder = cacheFolder();
    const QByteArray key =
        QCryptographicHash::hash(describe(spec).toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    const QString path = folder + QStringLiteral("/clip-%1.%2")
                                      .arg(QString::fromLatin1(key))
                                      .arg(QLatin1String(extension(spec.container)));
    if (QFileInfo(path).size() > 0) return path;

    const QString duration = QString::number(spec.seconds);
    QStringList args;
    int input = 0;
    int videoInput = -1, audioInput = -1, subtitleInput = -1;
    if (spec.video && spec.container != ClipSpec::Container::m4a) {
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("%1%2size=%3x%4:rate=%5:duration=%6")
                    .arg(spec.pattern)
                    .arg(spec.pattern.contains(QLatin1Char('=')) ? QLatin1Char(':')
                                                                 : QLatin1Char('='))
                    .arg(spec.width)
                    .arg(spec.height)
                    .arg(spec.fps)
                    .arg(duration);
        videoInput = input++;
    }
    if (spec.audio) {
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(duration);
        audioInput = input++;
    }
    if (spec.subtitles && spec.container == ClipSpec::Container::mkv) {
        const QString srt = writeSubtitleSource(folder, spec.seconds);
        if (srt.isEmpty()) return {};
        args << QStringLiteral("-i") << srt;
        subtitleInput = input++;
    }
    if (videoInput >= 0) {
        args << QStringLiteral("-map") << QStringLiteral("%1:v").arg(videoInput)
             << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
             << QStringLiteral("veryfast") << QStringLiteral("-pix_fmt")
             << QStringLiteral("yuv420p") << QStringLiteral("-g") << QString::number(spec.fps);
        if (spec.videoBitrateKbps > 0)
            args << QStringLiteral("-b:v") << QStringLiteral("%1k").arg(spec.videoBitrateKbps)
                 << QStringLiteral("-maxrate") << QStringLiteral("%1k").arg(spec.videoBitrateKbps)
                 << QStringLiteral("-bufsize")
                 << QStringLiteral("%1k").arg(spec.videoBitrateKbps * 2);
    }
    if (audioInput >= 0) {
        args << QStringLiteral("-map") << QStringLiteral("%1:a").arg(audioInput)
             << QStringLiteral("-c:a") << QStringLiteral("aac") << QStringLiteral("-b:a")
             << QStringLiteral("96k") << QStringLiteral("-metadata:s:a:0")
             << QStringLiteral("language=%1").arg(spec.audioLanguage);
    }
    if (subtitleInput >= 0) {
        args << QStringLiteral("-map") << QStringLiteral("%1:s").arg(subtitleInput)
             << QStringLiteral("-c:s") << QStringLiteral("srt") << QStringLiteral("-metadata:s:s:0")
             << QStringLiteral("language=eng");
    }
    if (spec.container == ClipSpec::Container::mp4 && spec.indexAtStart)
        args << QStringLiteral("-movflags") << QStringLiteral("+faststart");

    const QString temp = path + QStringLiteral(".part-%1").arg(QCoreApplication::applicationPid());
    args << QStringLiteral("-f")
         << QLatin1String(spec.container == ClipSpec::Container::mkv ? "matroska" : "mp4") << temp;
    if (!runFfmpeg(args)) {
        QFile::remove(temp);
        return {};
    }
    QFile::remove(path);
    if (!QFile::rename(temp, path)) {
        QFile::remove(temp);
        return QFileInfo(path).size() > 0 ? path : QString();
    }
    return path;
}

QString mkvWithSubtitles() {
    ClipSpec spec;
    spec.subtitles = true;
    return makeClip(spec);
}

QString mp4IndexAtStart() {
    ClipSpec spec;
    spec.container = ClipSpec::Container::mp4;
    return makeClip(spec);
}

QString mp4IndexAtEnd() {
    ClipSpec spec;
    spec.container = ClipSpec::Container::mp4;
    spec.indexAtStart = false;
    return makeClip(spec);
}

QString audioOnly() {
    ClipSpec spec;
    spec.container = ClipSpec::Container::m4a;
    spec.video = false;
    return makeClip(spec);
}

}  // namespace rillow::test
