#include "search/SearchSource.h"

#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace rillow {

namespace {

std::optional<SearchSource::Kind> kindFromText(const QString& text) {
    if (text == QLatin1String("feed")) return SearchSource::Kind::feed;
    if (text == QLatin1String("stremio")) return SearchSource::Kind::stremio;
    return std::nullopt;
}

// A missing or null URL key is the empty string (lists written before the key existed);
// any other non-string value is a decoding error.
std::optional<QString> optionalText(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) return QString();
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

std::optional<SearchSource> decodeSource(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue enabled = object.value(QLatin1String("isEnabled"));
    const QJsonValue kind = object.value(QLatin1String("kind"));
    if (!id.isString() || !name.isString() || !enabled.isBool() || !kind.isString())
        return std::nullopt;
    // Exactly the 8-4-4-4-12 form; QUuid alone would also take braces.
    const QString idText = id.toString();
    if (idText.size() != 36) return std::nullopt;
    const QUuid uuid = QUuid::fromString(idText);
    if (uuid.isNull() && idText != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    const auto parsedKind = kindFromText(kind.toString());
    if (!parsedKind) return std::nullopt;
    const auto urlTemplate = optionalText(object, QStringLiteral("urlTemplate"));
    const auto baseURL = optionalText(object, QStringLiteral("baseURL"));
    if (!urlTemplate || !baseURL) return std::nullopt;
    SearchSource source;
    source.id = uuid;
    source.name = name.toString();
    source.isEnabled = enabled.toBool();
    source.kind = *parsedKind;
    source.urlTemplate = *urlTemplate;
    source.baseURL = *baseURL;
    return source;
}

}  // namespace

SearchSource SearchSource::make(Kind kind, QString name, QString url, bool isEnabled) {
    SearchSource source;
    source.id = QUuid::createUuid();
    source.name = std::move(name);
    source.isEnabled = isEnabled;
    source.kind = kind;
    (kind == Kind::feed ? source.urlTemplate : source.baseURL) = std::move(url);
    return source;
}

QString SearchSource::idText() const {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString kindText(SearchSource::Kind kind) {
    return kind == SearchSource::Kind::feed ? QStringLiteral("feed") : QStringLiteral("stremio");
}

QByteArray encodeSearchSources(const QList<SearchSource>& sources) {
    QJsonArray array;
    for (const SearchSource& source : sources) {
        array.append(QJsonObject{
            {QStringLiteral("id"), source.idText()},
            {QStringLiteral("name"), source.name},
            {QStringLiteral("isEnabled"), source.isEnabled},
            {QStringLiteral("kind"), kindText(source.kind)},
            {QStringLiteral("urlTemplate"), source.urlTemplate},
            {QStringLiteral("baseURL"), source.baseURL},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<SearchSource>> decodeSearchSources(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
    QList<SearchSource> sources;
    for (const QJsonValue& value : document.array()) {
        auto source = decodeSource(value);
        if (!source) return std::nullopt;  // one bad element discards the whole list
        sources.append(std::move(*source));
    }
    return sources;
}

SearchSourcesStore::SearchSourcesStore(QObject* parent) : QObject(parent) {
    if (const auto data = UserDefaults::standard().data(QString::fromLatin1(defaultsKey))) {
        if (auto decoded = decodeSearchSources(*data)) sources_ = std::move(*decoded);
    }
}

void SearchSourcesStore::setSources(QList<SearchSource> sources) {
    const bool changed = sources != sources_;
    sources_ = std::move(sources);
    store();
    if (changed) Q_EMIT sourcesChanged();
}

void SearchSourcesStore::add(SearchSource source) {
    QList<SearchSource> next = sources_;
    next.append(std::move(source));
    setSources(std::move(next));
}

void SearchSourcesStore::remove(const QSet<QUuid>& ids) {
    QList<SearchSource> next;
    for (const SearchSource& source : sources_)
        if (!ids.contains(source.id)) next.append(source);
    setSources(std::move(next));
}

QList<SearchSource> SearchSourcesStore::enabledSources() const {
    QList<SearchSource> enabled;
    for (const SearchSource& source : sources_)
        if (source.isEnabled) enabled.append(source);
    return enabled;
}

void SearchSourcesStore::store() const {
    UserDefaults::standard().setData(QString::fromLatin1(defaultsKey),
                                     encodeSearchSources(sources_));
}

}  // namespace rillow
