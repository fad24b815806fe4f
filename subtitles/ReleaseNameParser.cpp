#include "subtitles/ReleaseNameParser.h"

#include "subtitles/IcuText.h"

#include <QHash>
#include <array>
#include <utility>

namespace rillow::ReleaseNameParser {
namespace {

using icutext::findAll;
using icutext::findFirst;
using icutext::RegexMatch;

struct Tables {
    QSet<QString> knownExtensions;
    QSet<QString> qualityTokens;
    QHash<QString, QString> serviceCodes;
    std::array<std::pair<QString, QString>, 7> sourcePatterns;
};

const Tables& tables() {
    static const Tables t = [] {
        Tables out;
        for (const char* e : {"mp4",  "mkv", "avi",  "mov", "m4v", "webm", "flv", "wmv",    "mpg",
                              "mpeg", "ts",  "m2ts", "vob", "ogv", "3gp",  "srt", "ass",    "ssa",
                              "vtt",  "sub", "idx",  "txt", "smi", "zip",  "gz",  "torrent"})
            out.knownExtensions.insert(QString::fromLatin1(e));
        for (const char* q :
             {"2160p",    "1440p", "1080p",     "1080i",   "720p",       "576p",     "480p",
              "360p",     "4k",    "uhd",       "hd",      "fhd",        "bluray",   "blu",
              "ray",      "bdrip", "brrip",     "bdremux", "remux",      "bd",       "web",
              "webdl",    "dl",    "webrip",    "rip",     "hdtv",       "pdtv",     "dsr",
              "dsrip",    "tvrip", "dvd",       "dvdrip",  "hdrip",      "x264",     "x265",
              "h264",     "h265",  "hevc",      "avc",     "av1",        "vp9",      "xvid",
              "divx",     "10bit", "8bit",      "hdr",     "hdr10",      "dv",       "dovi",
              "sdr",      "aac",   "ac3",       "eac3",    "dd",         "ddp",      "dts",
              "truehd",   "atmos", "flac",      "mp3",     "opus",       "5",        "1",
              "2",        "0",     "7",         "repack",  "proper",     "rerip",    "extended",
              "unrated",  "uncut", "directors", "imax",    "remastered", "internal", "limited",
              "complete", "multi", "multisub",  "subbed",  "dubbed",     "dual",     "audio",
              "amzn",     "nf",    "dsnp",      "hmax",    "atvp",       "hulu",     "pcok",
              "pmtp",     "sdh",   "mkv",       "mp4",     "avi"})
            out.qualityTokens.insert(QString::fromLatin1(q));
        const std::pair<const char*, const char*> services[] = {
            {"amzn", "AMZN"}, {"amazon", "AMZN"}, {"nf", "NF"},     {"netflix", "NF"},
            {"dsnp", "DSNP"}, {"dsny", "DSNP"},   {"hmax", "HMAX"}, {"max", "MAX"},
            {"atvp", "ATVP"}, {"hulu", "HULU"},   {"pcok", "PCOK"}, {"pmtp", "PMTP"},
            {"it", "iT"},     {"itunes", "iT"},   {"crav", "CRAV"}, {"stan", "STAN"},
            {"ip", "iP"},     {"hbo", "HBO"},     {"roku", "ROKU"}, {"sho", "SHO"},
            {"skst", "SKST"}, {"now", "NOW"},     {"cr", "CR"},     {"funi", "FUNI"}};
        for (const auto& [word, code] : services)
            out.serviceCodes.insert(QString::fromLatin1(word), QString::fromLatin1(code));
        out.sourcePatterns = {{
            {QStringLiteral(
                 R"((?i)\b(?:Blu[ .-]?Ray|BDRip|BRRip|BD[ .-]?Remux|BDMV|BD25|BD50|Remux)\b)"),
             QStringLiteral("bluray")},
            {QStringLiteral(R"((?i)\bWEB[ .-]?DL\b)"), QStringLiteral("web-dl")},
            {QStringLiteral(R"((?i)\bWEB[ .-]?Rip\b)"), QStringLiteral("webrip")},
            {QStringLiteral(R"((?i)\b(?:HDTV|PDTV|DSR(?:ip)?|SATRip|TVRip|HDTVRip)\b)"),
             QStringLiteral("hdtv")},
            {QStringLiteral(R"((?i)\b(?:DVD[ .-]?Rip|DVD5|DVD9|DVDR|DVD)\b)"),
             QStringLiteral("dvd")},
            {QStringLiteral(R"((?i)\bHD[ .-]?Rip\b)"), QStringLiteral("hdrip")},
            {QStringLiteral(R"((?i)\b(?:WEB|VODRip|AMZN|NF|DSNP|HMAX|ATVP)\b)"),
             QStringLiteral("web")},
        }};
        return out;
    }();
    return t;
}

const QString kQualityTag = QStringLiteral(
    R"((?i)(?<![a-z0-9])(?:2160p|1440p|1080[pi]|720p|576p|480p|4K|UHD|Blu[ .-]?Ray|BDRip|BRRip|Remux|WEB[ .-]?DL|WEB[ .-]?Rip|WEB|HDTV|PDTV|DVD[ .-]?Rip|DVD|HDRip|x26[45]|[hH][ .]?26[45]|HEVC|XviD|DivX|AV1|10bit|HDR10?|REPACK|PROPER|EXTENDED|UNRATED|UNCUT|IMAX|REMASTERED|INTERNAL|LIMITED|COMPLETE|MULTi|DUBBED|SUBBED|AMZN|NF|DSNP|HMAX|ATVP|DDP?5[ .]1|AAC|AC3)(?![a-z0-9]))");

std::optional<qsizetype> firstQualityTag(const QString& s) {
    if (auto m = findFirst(kQualityTag, s)) return m->start;
    return std::nullopt;
}

bool isTrimmedInClean(QChar c) {
    return c == u' ' || c == u'-' || c == QChar(0x2013) || c == u':' || c == u',';
}

QString clean(const QString& text) {
    QString s = icutext::replaceAll(QStringLiteral("[._]+"), text, QStringLiteral(" "));
    s = icutext::replaceAll(QStringLiteral(R"([\[\](){}]+)"), s, QStringLiteral(" "));
    s = icutext::replaceAll(QStringLiteral(R"(\s+)"), s, QStringLiteral(" "));
    qsizetype begin = 0, end = s.size();
    while (begin < end && isTrimmedInClean(s[begin])) ++begin;
    while (end > begin && isTrimmedInClean(s[end - 1])) --end;
    return s.mid(begin, end - begin);
}

QSet<QString> tokensOf(const QString& s) {
    const QStringList list = icutext::words(s);
    return QSet<QString>(list.begin(), list.end());
}

QString stripKnownExtension(const QString& name) {
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype dot = name.lastIndexOf(u'.');
    // A dot that starts the last component marks a hidden file, not an extension.
    if (dot <= slash + 1) return name;
    const QString ext = name.mid(dot + 1).toLower();
    if (ext.isEmpty() || !tables().knownExtensions.contains(ext)) return name;
    return name.left(dot);
}

std::optional<int> readInt(const QString& digits) {
    bool ok = false;
    const int v = digits.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return v;
}

bool isMeaningfulTitle(const QString& title) {
    int letters = 0;
    icutext::forEachCodePoint(title, [&](char32_t c) {
        if (icutext::isLetter(c)) ++letters;
        return letters < 2;
    });
    if (letters < 2) return false;
    return !icutext::contains(
        QStringLiteral(R"((?i)^(?:e|ep|episode|part|cd|disc|sample|video|movie|track)\s*\d*$)"),
        title);
}

std::optional<QString> releaseGroup(const QString& text) {
    const QString s = text.trimmed();
    if (auto m = findFirst(QStringLiteral(R"(\[([A-Za-z0-9][A-Za-z0-9 ._-]{1,24})\]\s*$)"), s)) {
        QString candidate = m->groups.value(0);
        if (auto site = findFirst(QStringLiteral(R"(^([A-Za-z0-9][A-Za-z0-9_-]*)\.[A-Za-z]{2,3}$)"),
                                  candidate))
            candidate = site->groups.value(0);
        const bool rejected = isQualityWord(candidate) ||
                              icutext::contains(QStringLiteral(R"(^\d+(?:\.\d+)?$)"), candidate) ||
                              icutext::contains(QStringLiteral(R"(^[0-9A-Fa-f]{8}$)"), candidate);
        if (!rejected) return candidate;
    }
    if (auto m = findFirst(
            QStringLiteral(R"(-\s*([A-Za-z0-9][A-Za-z0-9_]{1,19})\s*(?:\[[^\]]*\])?\s*$)"), s)) {
        const auto tag = firstQualityTag(s);
        if (tag && *tag < m->start) {
            const QString g = m->groups.value(0);
            if (!isQualityWord(g) && !icutext::contains(QStringLiteral(R"(^\d+$)"), g)) return g;
        }
    }
    return std::nullopt;
}

std::optional<QString> resolutionOf(const QString& s) {
    if (auto m = findFirst(
            QStringLiteral(R"((?i)(?<![0-9])(2160|1440|1080|720|576|480|360)[pi](?![a-z0-9]))"), s))
        return m->groups.value(0) + u'p';
    if (icutext::contains(QStringLiteral(R"((?i)\b(?:4K|UHD)\b)"), s))
        return QStringLiteral("2160p");
    return std::nullopt;
}

std::optional<QString> sourceOf(const QString& s) {
    for (const auto& [pattern, source] : tables().sourcePatterns)
        if (icutext::contains(pattern, s)) return source;
    return std::nullopt;
}

std::optional<QString> serviceOf(const QString& s) {
    const auto tag = firstQualityTag(s);
    if (!tag) return std::nullopt;
    for (const QString& word : icutext::words(s.mid(*tag))) {
        auto it = tables().serviceCodes.constFind(word);
        if (it != tables().serviceCodes.constEnd()) return *it;
    }
    return std::nullopt;
}

}  // namespace

bool isQualityWord(const QString& text) {
    QString key;
    icutext::forEachCodePoint(text.toLower(), [&](char32_t c) {
        if (icutext::isLetterOrNumber(c)) key += QString::fromUcs4(&c, 1);
        return true;
    });
    return !key.isEmpty() && tables().qualityTokens.contains(key);
}

QList<Match> matches(const QString& pattern, const QString& text, bool caseInsensitive) {
    QList<Match> out;
    for (const RegexMatch& m : findAll(pattern, text, caseInsensitive))
        out.append(Match{Range{m.start, m.length}, m.groups});
    return out;
}

ReleaseInfo parse(const QString& name) {
    ReleaseInfo info;
    QString s = stripKnownExtension(name);

    std::optional<QString> leadingGroup;
    if (auto m = findFirst(QStringLiteral(R"(^\s*\[([^\]]+)\]\s*)"), s)) {
        const QString bracket = m->groups.value(0);
        if (!icutext::contains(QStringLiteral(R"((?i)\.[a-z]{2,4}$)"), bracket))
            leadingGroup = bracket;
        s = s.mid(m->end());
    }
    if (auto m =
            findFirst(QStringLiteral(R"(^\s*(?:www\.)?[a-z0-9-]+\.[a-z]{2,4}\s*[-–]\s*)"), s, true))
        s = s.mid(m->end());

    info.tokens = tokensOf(s);
    info.group = releaseGroup(s);
    if (!info.group) info.group = leadingGroup;
    info.resolution = resolutionOf(s);
    info.source = sourceOf(s);
    info.service = serviceOf(s);

    qsizetype cut = s.size();
    struct Rule {
        QString pattern;
        enum { seasonEpisode, seasonOnly, episodeOnly } kind;
    };
    static const Rule rules[] = {
        {QStringLiteral(R"((?i)\bS(\d{1,2})[ ._-]?E(\d{1,3}))"), Rule::seasonEpisode},
        {QStringLiteral(R"((?i)\b(\d{1,2})x(\d{2,3})\b)"), Rule::seasonEpisode},
        {QStringLiteral(R"((?i)\bseason[ ._-]?(\d{1,2})[ ._-]*episode[ ._-]?(\d{1,3})\b)"),
         Rule::seasonEpisode},
        {QStringLiteral(R"((?i)\b(?:S(\d{1,2})|season[ ._-]?(\d{1,2}))\b)"), Rule::seasonOnly},
        {QStringLiteral(R"((?i)\b(?:E|EP|Episode)[ ._-]?(\d{1,3})\b)"), Rule::episodeOnly},
    };
    bool decided = false;
    for (const Rule& rule : rules) {
        auto m = findFirst(rule.pattern, s);
        if (!m) continue;
        switch (rule.kind) {
            case Rule::seasonEpisode:
                info.season = readInt(m->groups.value(0));
                info.episode = readInt(m->groups.value(1));
                break;
            case Rule::seasonOnly: {
                const QString g1 = m->groups.value(0);
                info.season = readInt(g1.isEmpty() ? m->groups.value(1) : g1);
                break;
            }
            case Rule::episodeOnly: info.episode = readInt(m->groups.value(0)); break;
        }
        cut = m->start;
        decided = true;
        break;
    }
    if (!decided && leadingGroup) {
        // The bracket style of anime releases: "[Group] Show - 07 (1080p)".
        if (auto m = findFirst(QStringLiteral(R"(\s[-–]\s(\d{1,4})(?:v\d)?(?=\s|$|[\[(]))"), s)) {
            info.episode = readInt(m->groups.value(0));
            cut = m->start;
        }
    }
    if (auto tag = firstQualityTag(s); tag && *tag < cut) cut = *tag;

    const QString head = s.left(cut);
    QString titleText = head;
    const auto years =
        findAll(QStringLiteral(R"((?<![0-9])(19[0-9]{2}|20[0-9]{2})(?![0-9]))"), head);
    for (auto it = years.crbegin(); it != years.crend(); ++it) {
        const QString prefix = head.left(it->start);
        if (clean(prefix).isEmpty()) continue;
        info.year = readInt(it->groups.value(0));
        titleText = prefix;
        break;
    }
    info.title = clean(titleText);
    return info;
}

ReleaseInfo parse(const QStringList& names) {
    QList<ReleaseInfo> results;
    for (const QString& name : names)
        if (!name.isEmpty()) results.append(parse(name));
    if (results.isEmpty()) return ReleaseInfo{};

    ReleaseInfo merged = results.first();
    if (!isMeaningfulTitle(merged.title)) {
        for (qsizetype i = 1; i < results.size(); ++i) {
            if (!isMeaningfulTitle(results[i].title)) continue;
            merged.title = results[i].title;
            if (!merged.year) merged.year = results[i].year;
            break;
        }
    }
    for (qsizetype i = 1; i < results.size(); ++i) {
        const ReleaseInfo& r = results[i];
        if (!merged.year) merged.year = r.year;
        if (!merged.season) merged.season = r.season;
        if (!merged.group) merged.group = r.group;
        if (!merged.source) merged.source = r.source;
        if (!merged.resolution) merged.resolution = r.resolution;
        if (!merged.service) merged.service = r.service;
        merged.tokens.unite(r.tokens);
    }
    return merged;
}

}  // namespace rillow::ReleaseNameParser
