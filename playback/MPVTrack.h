#pragma once
// One entry of mpv's track list, and the conversion of mpv's "track-list" JSON into entries.
// Plain values and pure functions: any thread, never block.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace rillow {

struct MPVTrack {
    // The raw texts are the words mpv uses in the track list's "type" key.
    enum class Kind { video, audio, sub };

    int64_t trackID = 0;  // mpv's per-kind track id
    Kind kind = Kind::video;
    std::optional<QString> title;
    std::optional<QString> lang;
    bool selected = false;
    bool isExternal = false;
    std::optional<QString> externalFilename;
    bool isForced = false;

    // "video", "audio" or "sub".
    static QString kindText(Kind kind);
    static std::optional<Kind> kindFromText(const QString& text);

    // Identity for lists and menus: kind text, "-", the track id ("audio-2").
    QString id() const;
    // Menu text: the title when non-empty, else the language in upper case when non-empty,
    // else "Track " and the track id.
    QString label() const;

    // One track-list object; absent unless "type" is a known kind and "id" is an integer.
    static std::optional<MPVTrack> fromJson(const QJsonObject& object);
    // The whole list: objects that do not convert are skipped; anything but a JSON array of
    // objects gives an empty list.
    static std::vector<MPVTrack> parseTrackList(const QByteArray& json);

    bool operator==(const MPVTrack&) const = default;
};

}  // namespace rillow
