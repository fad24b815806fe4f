#include "playback/MPVTrack.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

namespace rillow {

namespace {

std::optional<QString> optionalText(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

bool flag(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isBool() && value.toBool();
}

// JSON has only one number type: an integer is a number without a fractional part that fits
// in 64 bits.
std::optional<int64_t> integer(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number) return std::nullopt;
    if (number < -9.2e18 || number > 9.2e18) return std::nullopt;
    return value.toInteger();
}

}  // namespace

QString MPVTrack::kindText(Kind kind) {
    switch (kind) {
        case Kind::video: return QStringLiteral("video");
        case Kind::audio: return QStringLiteral("audio");
        case Kind::sub: return QStringLiteral("sub");
    }
    return {};
}

std::optional<MPVTrack::Kind> MPVTrack::kindFromText(const QString& text) {
    if (text == QLatin1String("video")) return Kind::video;
    if (text == QLatin1String("audio")) return Kind::audio;
    if (text == QLatin1String("sub")) return Kind::sub;
    return std::nullopt;
}

QString MPVTrack::id() const {
    return kindText(kind) + QLatin1Char('-') + QString::number(trackID);
}

QString MPVTrack::label() const {
    if (title && !title->isEmpty()) return *title;
    if (lang && !lang->isEmpty()) return lang->toUpper();
    return QStringLiteral("Track ") + QString::number(trackID);
}

std::optional<MPVTrack> MPVTrack::fromJson(const QJsonObject& object) {
    const QJsonValue type = object.value(QLatin1String("type"));
    if (!type.isString()) return std::nullopt;
    const std::optional<Kind> kind = kindFromText(type.toString());
    const std::optional<int64_t> trackID = integer(object.value(QLatin1String("id")));
    if (!kind || !trackID) return std::nullopt;
    MPVTrack track;
    track.trackID = *trackID;
    track.kind = *kind;
    track.title = optionalText(object, "title");
    track.lang = optionalText(object, "lang");
    track.selected = flag(object, "selected");
    track.isExternal = flag(object, "external");
    track.externalFilename = optionalText(object, "external-filename");
    track.isForced = flag(object, "forced");
    return track;
}

std::vector<MPVTrack> MPVTrack::parseTrackList(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return {};
    std::vector<MPVTrack> tracks;
    for (const QJsonValue& element : document.array()) {
        if (!element.isObject()) return {};
        if (std::optional<MPVTrack> track = fromJson(element.toObject()))
            tracks.push_back(std::move(*track));
    }
    return tracks;
}

}  // namespace rillow
