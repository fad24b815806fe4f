#include "subtitles/SubtitleScorer.h"

#include "subtitles/IcuText.h"
#include "subtitles/Languages.h"
#include "subtitles/ReleaseNameParser.h"

#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <memory>

namespace rillow::SubtitleScorer {
namespace {

std::optional<QString> normalizedGroup(const QString& text) {
    QString key;
    icutext::forEachCodePoint(text.toLower(), [&](char32_t c) {
        if (icutext::isLetterOrNumber(c)) key += QString::fromUcs4(&c, 1);
        return true;
    });
    if (key.size() < 2 || ReleaseNameParser::isQualityWord(key)) return std::nullopt;
    return key;
}

bool sameRelease(const SubtitleCandidate& candidate, const ReleaseInfo& candidateRelease,
                 const ReleaseInfo& video) {
    if (!video.group) return false;
    const auto videoGroup = normalizedGroup(*video.group);
    if (!videoGroup) return false;
    if (candidateRelease.group && normalizedGroup(*candidateRelease.group) == videoGroup)
        return true;
    if (candidate.releaseGroup) {
        for (const QString& word : icutext::words(*candidate.releaseGroup))
            if (normalizedGroup(word) == videoGroup) return true;
    }
    return false;
}

QString unknownLanguageText() {
    return QCoreApplication::translate("rillow::Subtitles", "Unknown Language");
}

// Case, diacritics and width folded; "&" as "and"; apostrophes dropped; words joined by one
// blank.
QString normalizedTitle(const QString& title) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
    icu::UnicodeString s(reinterpret_cast<const UChar*>(title.utf16()), int32_t(title.size()));
    if (U_SUCCESS(status) && nfkd) {
        icu::UnicodeString decomposed = nfkd->normalize(s, status);
        if (U_SUCCESS(status)) s = decomposed;
    }
    icu::UnicodeString stripped;
    for (int32_t i = 0; i < s.length();) {
        const UChar32 c = s.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) stripped.append(c);
        i += U16_LENGTH(c);
    }
    stripped.foldCase();
    QString folded(reinterpret_cast<const QChar*>(stripped.getBuffer()), stripped.length());
    folded.replace(u'&', QStringLiteral(" and "));
    folded.remove(u'\'');
    folded.remove(QChar(0x2019));
    return icutext::words(folded).join(u' ');
}

}  // namespace

Ranked score(const SubtitleCandidate& candidate, const ReleaseInfo& video,
             std::optional<double> fileFps) {
    const ReleaseInfo release = ReleaseNameParser::parse(candidate.releaseNames());
    Ranked out;
    out.candidate = candidate;
    out.isSameRelease = sameRelease(candidate, release, video);

    int total = candidate.isHashMatch ? 1000 : 0;
    if (out.isSameRelease) total += 100;

    const auto videoFamily = video.sourceFamily();
    const auto candidateFamily = release.sourceFamily();
    if (videoFamily && candidateFamily) {
        if (*videoFamily == *candidateFamily) {
            total += 30;
            if (video.source == release.source) total += 5;
        } else {
            total -= 30;
        }
    }
    if (video.service && release.service) total += *video.service == *release.service ? 20 : -10;
    if (video.resolution && release.resolution && *video.resolution == *release.resolution)
        total += 10;

    QSet<QString> titleWords = ReleaseNameParser::parse(video.title).tokens;
    if (video.year) titleWords.insert(QString::number(*video.year));
    const QSet<QString> videoWords = QSet<QString>(video.tokens).subtract(titleWords);
    const QSet<QString> candidateWords = QSet<QString>(release.tokens).subtract(titleWords);
    if (!videoWords.isEmpty() && !candidateWords.isEmpty()) {
        const qsizetype common = QSet<QString>(videoWords).intersect(candidateWords).size();
        const qsizetype all = QSet<QString>(videoWords).unite(candidateWords).size();
        total += int(std::lround(20.0 * double(common) / double(all)));
    }

    const bool fpsPenalty = !candidate.isHashMatch && candidate.fps && fileFps &&
                            std::abs(*candidate.fps - *fileFps) > 0.5;
    if (fpsPenalty) total -= 500;
    if (candidate.isAITranslated) total -= 50;
    if (candidate.isHearingImpaired) total -= 1;

    out.score = total;
    out.isConfident = !fpsPenalty && !candidate.isAITranslated && total > 99;
    return out;
}

QList<Ranked> rank(const QList<SubtitleCandidate>& candidates, const ReleaseInfo& video,
                   std::optional<double> fileFps) {
    QList<Ranked> out;
    const bool videoEpisode = video.season && video.episode;
    for (const SubtitleCandidate& c : candidates) {
        if (videoEpisode && c.season && c.episode &&
            (*c.season != *video.season || *c.episode != *video.episode))
            continue;
        out.append(score(c, video, fileFps));
    }
    std::stable_sort(out.begin(), out.end(), [](const Ranked& a, const Ranked& b) {
        if (a.score != b.score) return a.score > b.score;
        return a.candidate.order < b.candidate.order;
    });
    return out;
}

std::optional<Ranked> pick(const QList<Ranked>& ranked, const QStringList& languages) {
    for (const QString& language : languages) {
        const auto wanted = primaryLanguage(language);
        if (!wanted) continue;
        for (const Ranked& r : ranked)
            if (r.isConfident && primaryLanguage(r.candidate.language) == wanted) return r;
    }
    return std::nullopt;
}

std::optional<qsizetype> bestMatchIndex(const QList<CatalogTitle>& titles,
                                        const ReleaseInfo& release) {
    const QString video = normalizedTitle(release.title);
    if (video.isEmpty()) return std::nullopt;
    const QStringList videoList = video.split(u' ');
    const QSet<QString> videoWords(videoList.begin(), videoList.end());

    std::optional<qsizetype> best;
    double bestValue = 0;
    for (qsizetype i = 0; i < titles.size(); ++i) {
        const QString t = normalizedTitle(titles[i].title);
        double similarity;
        if (t == video) {
            similarity = 1;
        } else if (t == QStringLiteral("the ") + video || video == QStringLiteral("the ") + t) {
            similarity = 0.95;
        } else {
            const QStringList list = t.split(u' ', Qt::SkipEmptyParts);
            const QSet<QString> words(list.begin(), list.end());
            const qsizetype common = QSet<QString>(words).intersect(videoWords).size();
            const qsizetype all =
                std::max<qsizetype>(1, QSet<QString>(words).unite(videoWords).size());
            similarity = double(common) / double(all);
        }
        if (similarity < 0.75) continue;

        if (release.year && titles[i].releaseInfo) {
            QString digits;
            for (QChar c : *titles[i].releaseInfo) {
                if (c < u'0' || c > u'9' || digits.size() == 4) break;
                digits += c;
            }
            if (!digits.isEmpty()) {
                const int year = digits.toInt();
                if (std::abs(year - *release.year) > 1) continue;
                if (year == *release.year) similarity += 0.5;
            }
        }
        const double value = similarity - 0.001 * double(i);
        if (!best || value > bestValue) {
            best = i;
            bestValue = value;
        }
    }
    return best;
}

std::pair<QList<LanguageGroup>, QList<LanguageGroup>> languageGroups(const QList<Ranked>& ranked,
                                                                     const QStringList& preferred) {
    QStringList keys;  // first-seen order
    QHash<QString, QList<Ranked>> buckets;
    for (const Ranked& r : ranked) {
        const QString key = primaryLanguage(r.candidate.language).value_or(QStringLiteral("und"));
        if (!buckets.contains(key)) keys.append(key);
        buckets[key].append(r);
    }
    auto makeGroup = [&](const QString& key) {
        LanguageGroup g;
        g.id = key;
        g.entries = buckets.value(key);
        if (key == u"und") {
            g.name = unknownLanguageText();
        } else {
            const auto& lead = g.entries.first().candidate.language;
            g.name = languageDisplayName(lead ? lead : std::optional<QString>(key));
        }
        return g;
    };

    QList<LanguageGroup> first;
    QSet<QString> used;
    for (const QString& language : preferred) {
        const QString key = primaryLanguage(language).value_or(language.toLower());
        if (used.contains(key) || !buckets.contains(key)) continue;
        used.insert(key);
        first.append(makeGroup(key));
    }
    QList<LanguageGroup> others;
    for (const QString& key : std::as_const(keys))
        if (!used.contains(key)) others.append(makeGroup(key));

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale::getDefault(), status));
    if (U_SUCCESS(status) && collator) {
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        std::stable_sort(
            others.begin(), others.end(), [&](const LanguageGroup& a, const LanguageGroup& b) {
                UErrorCode s = U_ZERO_ERROR;
                const UCollationResult r = collator->compare(
                    reinterpret_cast<const UChar*>(a.name.utf16()), int32_t(a.name.size()),
                    reinterpret_cast<const UChar*>(b.name.utf16()), int32_t(b.name.size()), s);
                return U_SUCCESS(s) && r == UCOL_LESS;
            });
    } else {
        std::stable_sort(others.begin(), others.end(),
                         [](const LanguageGroup& a, const LanguageGroup& b) {
                             return a.name.localeAwareCompare(b.name) < 0;
                         });
    }
    return {first, others};
}

}  // namespace rillow::SubtitleScorer
