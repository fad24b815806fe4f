#pragma once
// The one Stremio subtitle addon the user configures: checking its manifest address, the
// subtitle list request for a title, reading the list into candidates, and fetching one file.
//
// Threads: `validate`, `candidates` and `download` are coroutines started and awaited on the
// main thread; they never block it (the requests run on Qt Network, large answers are read on a
// background worker). `normalizedAddonBaseURL`, `subtitlesURL`, `parseCandidates` and the error
// messages are pure and may run on any thread.
// Ownership: the client shares its HTTP session with every request in flight, so a request
// outlives a client destroyed before it ends. Failures are values: `validate` reports one
// `SubtitleAddonError`, listing gives an empty list, `download` gives a `SubtitleDownload`
// without bytes.

#include "platform/HttpSession.h"
#include "platform/Tasks.h"
#include "subtitles/SubtitleCandidate.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>
#include <variant>

namespace rillow {

class SubtitleAddonError {
public:
    enum class Kind { notSubtitleAddon, needsConfiguration, invalidURL, unreachable, notAnAddon };

    static SubtitleAddonError notSubtitleAddon(QString name) {
        return {Kind::notSubtitleAddon, std::move(name)};
    }
    static SubtitleAddonError needsConfiguration(QString name) {
        return {Kind::needsConfiguration, std::move(name)};
    }
    static SubtitleAddonError invalidURL() { return {Kind::invalidURL, {}}; }
    static SubtitleAddonError unreachable() { return {Kind::unreachable, {}}; }
    static SubtitleAddonError notAnAddon() { return {Kind::notAnAddon, {}}; }

    Kind kind() const { return kind_; }
    // The addon's display name for the two cases that carry one, else empty.
    const QString& name() const { return name_; }
    // One sentence for the settings window.
    QString message() const;

    bool operator==(const SubtitleAddonError&) const = default;

private:
    SubtitleAddonError(Kind kind, QString name) : kind_(kind), name_(std::move(name)) {}
    Kind kind_;
    QString name_;
};

// What a valid subtitle addon manifest tells.
struct SubtitleAddonInfo {
    QString baseURL;  // normalised: no "/manifest.json", no trailing "/"
    QString id;
    QString name;  // display name: the trimmed "name", else the id
    bool operator==(const SubtitleAddonInfo&) const = default;
};

using SubtitleAddonValidation = std::variant<SubtitleAddonInfo, SubtitleAddonError>;

// The outcome of fetching one subtitle file.
struct SubtitleDownload {
    enum class Failure { none, transport, badServerResponse };
    Failure failure = Failure::none;
    HttpError transportError = HttpError::none;  // the request's own error for `transport`
    int status = 0;                              // the HTTP status when an answer came
    std::optional<QByteArray> bytes;             // present exactly when `failure` is none
    bool ok() const { return failure == Failure::none; }
};

class SubtitleAddonClient {
public:
    // Ephemeral; 12 s without data or 30 s in all end a request.
    static HttpOptions sessionOptions();

    explicit SubtitleAddonClient(
        std::shared_ptr<HttpSession> session = std::make_shared<HttpSession>(sessionOptions()));

    const std::shared_ptr<HttpSession>& session() const { return session_; }

    // The base URL the user means: trimmed, "stremio://" (any case) read as "https://", then
    // the shared Stremio base-URL rules (cut at "/manifest.json", trailing "/" removed, http or
    // https only).
    static std::optional<QString> normalizedAddonBaseURL(const QString& text);

    // Fetches and checks the manifest the text points at.
    QCoro::Task<SubtitleAddonValidation> validate(QString text, CancelToken token = {}) const;

    // The request's content type ("movie" without season and episode, else "series") and video
    // id (the IMDb id, with ":season:episode" when both are known).
    static QString contentType(std::optional<int> season, std::optional<int> episode);
    static QString videoID(const QString& imdbID, std::optional<int> season,
                           std::optional<int> episode);
    // base + "/subtitles/" + type + "/" + encoded id [+ "/videoHash=…&videoSize=…"] + ".json";
    // nothing when that is not a valid http or https address. The extra part needs the
    // fingerprint; the size is left out when unknown.
    static std::optional<QUrl> subtitlesURL(const QString& baseURL, const QString& contentType,
                                            const QString& videoID,
                                            const std::optional<QString>& fingerprint,
                                            std::optional<qint64> fileSize);
    // Percent-encodes the UTF-8 bytes of every character that is neither a Unicode letter or
    // digit nor one of "-_.!~*'()".
    static QString encodeComponent(const QString& value);

    // The candidates of an addon's subtitle list answer, in its order, duplicates by id dropped.
    static QList<SubtitleCandidate> parseCandidates(const QByteArray& bytes);

    // GETs a subtitle list request; a failed request or a status outside 200...299 gives none.
    QCoro::Task<QList<SubtitleCandidate>> candidates(QUrl url, CancelToken token = {}) const;

    // Fetches the candidate's file.
    QCoro::Task<SubtitleDownload> download(SubtitleCandidate candidate,
                                           CancelToken token = {}) const;

private:
    std::shared_ptr<HttpSession> session_;
};

}  // namespace rillow
