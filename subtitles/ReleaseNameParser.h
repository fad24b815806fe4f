#pragma once
// Parses scene-style release names (file names, torrent names, subtitle release names) into a
// `ReleaseInfo`. Pure functions over fixed ICU regular expressions and word tables: no state,
// any thread, never blocks. The tables are built once, on first use.

#include "subtitles/ReleaseInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace rillow::ReleaseNameParser {

struct Range {
    qsizetype location = 0;
    qsizetype length = 0;
    bool operator==(const Range&) const = default;
};

// One regular-expression match: the whole match and one string per capture group ("" for a
// group that took no part in the match).
struct Match {
    Range range;
    QStringList groups;
    bool operator==(const Match&) const = default;
};

// One name.
ReleaseInfo parse(const QString& name);
// Several names of the same file, most specific first (for example the file's own name, then
// the torrent's name), merged: the first gives the episode and, when meaningful, the title;
// the others fill what it lacks.
ReleaseInfo parse(const QStringList& names);

// Whether the letters and digits of `text`, lower-cased, form a quality, codec, audio,
// edition, language or service word rather than a title or group word.
bool isQualityWord(const QString& text);

// Every non-overlapping match of an ICU pattern in the whole text, in order; empty when the
// pattern does not compile.
QList<Match> matches(const QString& pattern, const QString& text, bool caseInsensitive = false);

}  // namespace rillow::ReleaseNameParser
