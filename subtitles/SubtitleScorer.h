#pragma once
// Scores subtitle candidates against the video's release, orders them, picks the one to switch
// on by itself, groups them by language for the menu, and finds the catalog title that matches
// the video. Pure functions; any thread; never block.

#include "subtitles/ReleaseInfo.h"
#include "subtitles/SubtitleCandidate.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace rillow {

struct Ranked {
    SubtitleCandidate candidate;
    int score = 0;               // higher is better; may be negative
    bool isConfident = false;    // good enough to switch on without asking
    bool isSameRelease = false;  // made for the video's release group
    bool operator==(const Ranked&) const = default;
};

// One language of the subtitle menu.
struct LanguageGroup {
    QString id;             // primary subtag, or "und"
    QString name;           // shown in the menu
    QList<Ranked> entries;  // ranked order
    bool operator==(const LanguageGroup&) const = default;
};

// What the catalog match needs of one catalog title.
struct CatalogTitle {
    QString title;
    std::optional<QString> releaseInfo;  // a year or a year range as the catalog gives it
};

namespace SubtitleScorer {

Ranked score(const SubtitleCandidate& candidate, const ReleaseInfo& video,
             std::optional<double> fileFps);
// Drops candidates for another episode, scores the rest, best first (the addon's order on
// equal scores).
QList<Ranked> rank(const QList<SubtitleCandidate>& candidates, const ReleaseInfo& video,
                   std::optional<double> fileFps);
// The best confident entry in the first language (of `languages`, in order) that has one.
std::optional<Ranked> pick(const QList<Ranked>& ranked, const QStringList& languages);

// Index of the catalog title that matches the video, if any.
std::optional<qsizetype> bestMatchIndex(const QList<CatalogTitle>& titles,
                                        const ReleaseInfo& release);
// The same over any catalog type with `title` and `releaseInfo` fields (the catalog's
// `MediaMeta`).
template <class Meta>
std::optional<Meta> bestMatch(const QList<Meta>& metas, const ReleaseInfo& release) {
    QList<CatalogTitle> titles;
    titles.reserve(metas.size());
    for (const Meta& m : metas) titles.append(CatalogTitle{m.title, m.releaseInfo});
    if (auto i = bestMatchIndex(titles, release)) return metas[*i];
    return std::nullopt;
}

// (groups of the preferred languages in their order, the other groups by name). Names come
// from the user's locale and are compared the way file browsers compare names.
std::pair<QList<LanguageGroup>, QList<LanguageGroup>> languageGroups(const QList<Ranked>& ranked,
                                                                     const QStringList& preferred);

}  // namespace SubtitleScorer
}  // namespace rillow
