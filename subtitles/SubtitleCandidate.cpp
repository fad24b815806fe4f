#include "subtitles/SubtitleCandidate.h"

#include <QCoreApplication>
#include <QSet>

namespace rillow {

QString withoutFileExtension(const QString& fileName) {
    static const QSet<QString> known = [] {
        QSet<QString> s;
        for (const char* e :
             {"srt", "ass", "ssa",  "vtt", "sub",  "idx", "txt", "smi", "sami",   "zip",
              "gz",  "rar", "nfo",  "mp4", "mkv",  "avi", "mov", "m4v", "webm",   "flv",
              "wmv", "mpg", "mpeg", "ts",  "m2ts", "vob", "ogv", "3gp", "torrent"})
            s.insert(QString::fromLatin1(e));
        return s;
    }();
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= slash + 1) return fileName;
    if (!known.contains(fileName.mid(dot + 1).toLower())) return fileName;
    return fileName.left(dot);
}

QString SubtitleCandidate::displayTitle() const {
    if (releaseName && !releaseName->isEmpty()) return *releaseName;
    if (fileName) {
        const QString stem = withoutFileExtension(*fileName);
        if (!stem.isEmpty()) return stem;
    }
    return QCoreApplication::translate("rillow::Subtitles", "Subtitle %1")
        .arg(qlonglong(order) + 1);
}

QStringList SubtitleCandidate::releaseNames() const {
    QStringList names;
    if (releaseName) names.append(*releaseName);
    if (fileName) names.append(withoutFileExtension(*fileName));
    return names;
}

}  // namespace rillow
