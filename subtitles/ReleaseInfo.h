#pragma once
// What a scene-style release name says about a file: title, year, season, episode, and which
// release it is (group, source, resolution, streaming service). A plain value; any thread.

#include <QSet>
#include <QString>
#include <optional>

namespace rillow {

struct ReleaseInfo {
    QString title;            // cleaned title words; may be empty
    std::optional<int> year;  // 1900 to 2099
    std::optional<int> season;
    std::optional<int> episode;
    std::optional<QString> group;   // as written
    std::optional<QString> source;  // "bluray", "web-dl", "webrip", "hdtv", "dvd", "hdrip", "web"
    std::optional<QString> resolution;  // "2160p" ... "360p"
    std::optional<QString> service;     // "AMZN", "NF", ...
    QSet<QString> tokens;               // every lower-case word of the name

    // "web" for every web source, so a WEB-DL and a WEBRip compare as the same source.
    std::optional<QString> sourceFamily() const {
        if (!source) return std::nullopt;
        if (*source == u"web-dl" || *source == u"webrip" || *source == u"web")
            return QStringLiteral("web");
        return source;
    }

    bool operator==(const ReleaseInfo&) const = default;
};

}  // namespace rillow
