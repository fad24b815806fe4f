#pragma once
// One subtitle on offer from the subtitle addon. A plain value; any thread.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace rillow {

struct SubtitleCandidate {
    QString id;                           // the addon's id, or the URL text; unique in one list
    QUrl url;                             // "http" or "https"
    std::optional<QString> language;      // normalised code; absent when not recognised
    QString rawLanguage;                  // as the addon sent it ("" when none)
    std::optional<QString> releaseName;   // release the subtitle was made for
    std::optional<QString> fileName;      // the subtitle's file name
    std::optional<QString> releaseGroup;  // as sent
    std::optional<QString> encodingHint;  // character encoding the addon states
    bool isHashMatch = false;             // matched by the file fingerprint
    bool isAITranslated = false;          // machine-translated
    bool isHearingImpaired = false;       // SDH
    std::optional<double> fps;            // frame rate it is timed for
    std::optional<int> season;            // at least 1
    std::optional<int> episode;           // at least 1
    int order = 0;                        // position in the addon's answer, from 0

    // The release name, else the file name without its extension, else "Subtitle N".
    QString displayTitle() const;
    // The release name and the file name without its extension, those present, in that order.
    QStringList releaseNames() const;

    bool operator==(const SubtitleCandidate&) const = default;
};

// `fileName` without a trailing known file extension (".srt", ".zip", ".mkv", ...). Only
// known extensions are cut, so a bare release name such as "Movie.2020.WEB-DL-GRP" keeps its
// last part.
QString withoutFileExtension(const QString& fileName);

}  // namespace rillow
