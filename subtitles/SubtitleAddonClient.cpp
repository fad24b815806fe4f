#include "subtitles/SubtitleAddonClient.h"

#include "search/Gather.h"
#include "search/NetworkGuard.h"
#include "search/StremioParsing.h"
#include "subtitles/IcuText.h"
#include "subtitles/Languages.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace rillow {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("rillow::Subtitles", text);
}

// Qt's trimmed() removes white space and line breaks alike.
QString trimmedText(const QString& text) {
    return text.trimmed();
}

bool isWebURL(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

// ---- Lookups over one subtitle entry -------------------------------------------------------

using Keys = std::initializer_list<const char*>;

// The decimal text of a JSON number: integers without a fraction, others as short as exact.
QString numberText(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 9.0e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

std::optional<QString> stringLookup(const QJsonObject& entry, Keys keys) {
    for (const char* key : keys) {
        const QJsonValue value = entry.value(QLatin1String(key));
        if (value.isString()) {
            const QString text = trimmedText(value.toString());
            if (!text.isEmpty()) return text;
        } else if (value.isDouble()) {
            return numberText(value.toDouble());
        }
    }
    return std::nullopt;
}

// An optional sign, then decimal digits only, within 64 bits.
std::optional<qint64> strictInteger(const QString& text) {
    qsizetype at = 0;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) ++at;
    if (at == text.size()) return std::nullopt;
    for (qsizetype i = at; i < text.size(); ++i)
        if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<qint64> integerLookup(const QJsonObject& entry, Keys keys) {
    for (const char* key : keys) {
        const QJsonValue value = entry.value(QLatin1String(key));
        if (value.isDouble()) {
            const double number = value.toDouble();
            if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 9.0e15)
                return static_cast<qint64>(number);
        } else if (value.isString()) {
            if (const auto number = strictInteger(value.toString())) return number;
        }
    }
    return std::nullopt;
}

bool flagLookup(const QJsonObject& entry, Keys keys) {
    for (const char* key : keys) {
        const QJsonValue value = entry.value(QLatin1String(key));
        if (value.isBool() && value.toBool()) return true;
        // Addons that write "1" for true also write 1.
        if (value.isDouble() && value.toDouble() == 1.0) return true;
        if (value.isString()) {
            const QString text = value.toString().toLower();
            if (text == u"true" || text == u"1" || text == u"yes") return true;
        }
    }
    return false;
}

const QString& machineTranslationPattern() {
    static const QString pattern = QStringLiteral(
        "(?i)(\\b(?:ai|machine)[ _-]?translat|[\\[(]\\s*(?:ai|mt)\\s*[\\])]|\\bauto[ "
        "_-]?translat)");
    return pattern;
}

const QString& bracketedPattern() {
    static const QString pattern = QStringLiteral("[\\[(][^\\])]*[\\])]");
    return pattern;
}

std::optional<int> positive(std::optional<qint64> value) {
    if (!value || *value < 1 || *value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<SubtitleCandidate> readCandidate(const QJsonObject& entry, int order) {
    const auto urlText = stringLookup(entry, {"url"});
    if (!urlText) return std::nullopt;
    const QUrl url(*urlText);
    if (!isWebURL(url)) return std::nullopt;

    SubtitleCandidate c;
    c.url = url;
    c.order = order;
    c.rawLanguage = stringLookup(entry, {"lang", "language"}).value_or(QString());
    const auto label = stringLookup(entry, {"label", "title", "name"});

    c.isAITranslated = icutext::contains(machineTranslationPattern(), c.rawLanguage) ||
                       (label && icutext::contains(machineTranslationPattern(), *label)) ||
                       flagLookup(entry, {"aiTranslated", "ai_translated", "machineTranslated",
                                          "machine_translated"});

    const QString bare =
        icutext::replaceAll(bracketedPattern(), c.rawLanguage, QString()).trimmed();
    c.language = bare.isEmpty() ? std::nullopt : normalizedLanguage(bare);

    c.id = stringLookup(entry, {"id"}).value_or(*urlText);
    c.releaseName = stringLookup(entry, {"movieReleaseName", "releaseName", "release"});
    if (!c.releaseName) c.releaseName = label;
    c.fileName = stringLookup(entry, {"subtitleFileName", "fileName", "filename", "file_name"});
    c.releaseGroup = stringLookup(entry, {"releaseGroup", "release_group", "group"});
    c.encodingHint = stringLookup(entry, {"SubEncoding", "subEncoding", "encoding"});

    c.isHashMatch = stringLookup(entry, {"m"}) == QStringLiteral("h") ||
                    flagLookup(entry, {"hashMatch", "moviehashMatch", "moviehash_match",
                                       "matchedByHash", "isHashMatch"});

    if (flagLookup(entry, {"hearingImpaired", "hearing_impaired", "hi", "sdh"})) {
        c.isHearingImpaired = true;
    } else if (c.releaseGroup && c.releaseGroup->toUpper() == u"SDH") {
        c.isHearingImpaired = true;
    } else {
        const QStringList words = icutext::words(c.releaseName.value_or(QString()) + u' ' +
                                                 c.fileName.value_or(QString()));
        c.isHearingImpaired = words.contains(u"sdh") || words.contains(u"hi");
    }

    if (const auto milli = integerLookup(entry, {"fpsMilli"}); milli && *milli >= 1) {
        c.fps = double(*milli) / 1000.0;
    } else if (const QJsonValue fps = entry.value(QLatin1String("fps"));
               fps.isDouble() && fps.toDouble() > 0) {
        c.fps = fps.toDouble();
    }
    c.season = positive(integerLookup(entry, {"season"}));
    c.episode = positive(integerLookup(entry, {"episode"}));
    return c;
}

// ---- Manifest ------------------------------------------------------------------------------

bool providesSubtitles(const QJsonArray& resources) {
    for (const QJsonValue& resource : resources) {
        if (resource.isString() && resource.toString() == u"subtitles") return true;
        if (resource.isObject()) {
            const QJsonValue name = resource.toObject().value(QLatin1String("name"));
            if (name.isString() && name.toString() == u"subtitles") return true;
        }
    }
    return false;
}

SubtitleAddonValidation readManifest(const QByteArray& body, const QString& baseURL) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return SubtitleAddonError::notAnAddon();
    const QJsonObject manifest = document.object();
    const QJsonValue id = manifest.value(QLatin1String("id"));
    const QJsonValue resources = manifest.value(QLatin1String("resources"));
    if (!id.isString() || !resources.isArray()) return SubtitleAddonError::notAnAddon();

    QString name;
    if (const QJsonValue value = manifest.value(QLatin1String("name")); value.isString())
        name = trimmedText(value.toString());
    if (name.isEmpty()) name = trimmedText(id.toString());
    // A blank id with no name still needs something the user recognises in the message.
    if (name.isEmpty()) name = QUrl(baseURL).host();

    if (!providesSubtitles(resources.toArray())) return SubtitleAddonError::notSubtitleAddon(name);
    const QJsonValue hints = manifest.value(QLatin1String("behaviorHints"));
    if (hints.isObject()) {
        const QJsonValue required = hints.toObject().value(QLatin1String("configurationRequired"));
        if (required.isBool() && required.toBool())
            return SubtitleAddonError::needsConfiguration(name);
    }
    return SubtitleAddonInfo{baseURL, id.toString(), name};
}

}  // namespace

// ---- Errors --------------------------------------------------------------------------------

QString SubtitleAddonError::message() const {
    switch (kind_) {
        case Kind::notSubtitleAddon:
            return tr("“%1” doesn't provide subtitles — it looks like a stream or catalog addon.")
                .arg(name_);
        case Kind::needsConfiguration:
            return tr("“%1” needs to be configured first. Open its configure page, choose your "
                      "languages, and paste the URL it gives you.")
                .arg(name_);
        case Kind::invalidURL:
            return tr("That isn't a web address. Paste the addon's manifest URL.");
        case Kind::unreachable:
            return tr("Couldn't reach the addon. Check the URL and your connection.");
        case Kind::notAnAddon: return tr("That address doesn't serve a Stremio addon manifest.");
    }
    return {};
}

// ---- Client --------------------------------------------------------------------------------

HttpOptions SubtitleAddonClient::sessionOptions() {
    HttpOptions options;
    options.requestTimeoutMs = 12'000;
    options.resourceTimeoutMs = 30'000;
    return options;
}

SubtitleAddonClient::SubtitleAddonClient(std::shared_ptr<HttpSession> session)
    : session_(session ? std::move(session) : std::make_shared<HttpSession>(sessionOptions())) {}

std::optional<QString> SubtitleAddonClient::normalizedAddonBaseURL(const QString& text) {
    QString address = trimmedText(text);
    static const QString stremio = QStringLiteral("stremio://");
    if (address.startsWith(stremio, Qt::CaseInsensitive))
        address = QStringLiteral("https://") + address.mid(stremio.size());
    return normalizeBaseURL(address);
}

QCoro::Task<SubtitleAddonValidation> SubtitleAddonClient::validate(QString text,
                                                                   CancelToken token) const {
    const auto base = normalizedAddonBaseURL(text);
    if (!base) co_return SubtitleAddonError::invalidURL();
    const QUrl manifestURL(*base + QStringLiteral("/manifest.json"));
    if (!isWebURL(manifestURL)) co_return SubtitleAddonError::invalidURL();
    if (!mayContact(manifestURL)) co_return SubtitleAddonError::unreachable();

    const std::shared_ptr<HttpSession> session = session_;
    const HttpResult result = co_await session->get(manifestURL, token);
    if (!result.ok()) co_return SubtitleAddonError::unreachable();
    if (!result.response->isSuccess()) co_return SubtitleAddonError::notAnAddon();
    const QByteArray body = result.response->body;
    const QString baseURL = *base;
    auto read = [body, baseURL] { return readManifest(body, baseURL); };
    SubtitleAddonValidation validation = co_await readAnswer(body.size(), std::move(read));
    co_return validation;
}

QString SubtitleAddonClient::contentType(std::optional<int> season, std::optional<int> episode) {
    return (season || episode) ? QStringLiteral("series") : QStringLiteral("movie");
}

QString SubtitleAddonClient::videoID(const QString& imdbID, std::optional<int> season,
                                     std::optional<int> episode) {
    if (!season || !episode) return imdbID;
    return imdbID + u':' + QString::number(*season) + u':' + QString::number(*episode);
}

QString SubtitleAddonClient::encodeComponent(const QString& value) {
    static const QString kept = QStringLiteral("-_.!~*'()");
    static const char hex[] = "0123456789ABCDEF";
    QString encoded;
    encoded.reserve(value.size());
    icutext::forEachCodePoint(value, [&](char32_t c) {
        const QString character = QString::fromUcs4(&c, 1);
        if (icutext::isLetterOrNumber(c) || (c < 0x80 && kept.contains(character))) {
            encoded += character;
        } else {
            for (const char byte : character.toUtf8()) {
                encoded += QChar(u'%');
                encoded += QChar(hex[uchar(byte) >> 4]);
                encoded += QChar(hex[uchar(byte) & 0xF]);
            }
        }
        return true;
    });
    return encoded;
}

std::optional<QUrl> SubtitleAddonClient::subtitlesURL(const QString& baseURL,
                                                      const QString& contentType,
                                                      const QString& videoID,
                                                      const std::optional<QString>& fingerprint,
                                                      std::optional<qint64> fileSize) {
    QString text =
        baseURL + QStringLiteral("/subtitles/") + contentType + u'/' + encodeComponent(videoID);
    if (fingerprint) {
        text += QStringLiteral("/videoHash=") + encodeComponent(*fingerprint);
        if (fileSize)
            text += QStringLiteral("&videoSize=") + encodeComponent(QString::number(*fileSize));
    }
    text += QStringLiteral(".json");
    const QUrl url(text);
    if (!isWebURL(url)) return std::nullopt;
    return url;
}

QList<SubtitleCandidate> SubtitleAddonClient::parseCandidates(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return {};
    const QJsonValue list = document.object().value(QLatin1String("subtitles"));
    if (!list.isArray()) return {};
    const QJsonArray entries = list.toArray();
    for (const QJsonValue& entry : entries)
        if (!entry.isObject()) return {};

    QList<SubtitleCandidate> candidates;
    QSet<QString> seen;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        auto candidate = readCandidate(entries.at(index).toObject(), int(index));
        if (!candidate || seen.contains(candidate->id)) continue;
        seen.insert(candidate->id);
        candidates.append(std::move(*candidate));
    }
    return candidates;
}

QCoro::Task<QList<SubtitleCandidate>> SubtitleAddonClient::candidates(QUrl url,
                                                                      CancelToken token) const {
    if (!isWebURL(url) || !mayContact(url)) co_return {};
    const std::shared_ptr<HttpSession> session = session_;
    const HttpResult result = co_await session->get(url, token);
    const auto body = result.successBody();
    if (!body || token.isCancelled()) co_return {};
    const QByteArray bytes = *body;
    auto read = [bytes] { return parseCandidates(bytes); };
    QList<SubtitleCandidate> list = co_await readAnswer(bytes.size(), std::move(read));
    co_return list;
}

QCoro::Task<SubtitleDownload> SubtitleAddonClient::download(SubtitleCandidate candidate,
                                                            CancelToken token) const {
    SubtitleDownload outcome;
    if (!mayContact(candidate.url)) {
        outcome.failure = SubtitleDownload::Failure::transport;
        outcome.transportError = HttpError::network;
        co_return outcome;
    }
    const std::shared_ptr<HttpSession> session = session_;
    const HttpResult result = co_await session->get(candidate.url, token);
    if (!result.ok()) {
        outcome.failure = SubtitleDownload::Failure::transport;
        outcome.transportError = result.error;
        co_return outcome;
    }
    outcome.status = result.response->status;
    if (!result.response->isSuccess()) {
        outcome.failure = SubtitleDownload::Failure::badServerResponse;
        co_return outcome;
    }
    outcome.bytes = result.response->body;
    co_return outcome;
}

}  // namespace rillow
