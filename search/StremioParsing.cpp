#include "search/StremioParsing.h"

#include "search/TextRules.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <memory>

namespace rillow {

namespace {

std::optional<QJsonObject> parseObject(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    return document.object();
}

std::optional<QString> stringValue(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

icu::UnicodeString toUnicode(const QString& text) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.utf16()),
                              static_cast<int32_t>(text.size()));
}

QString fromUnicode(const icu::UnicodeString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

// A compiled pattern. Answers may be read on worker threads; ICU does not promise that one
// pattern may serve several threads at once, so each thread compiles its own (once).
class Pattern {
public:
    explicit Pattern(const char* utf8) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        pattern_.reset(
            icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(utf8), parseError, status));
        if (U_FAILURE(status)) pattern_.reset();
    }

    // The groups of the first match in `text`; nothing without a match or a group.
    std::optional<std::vector<QString>> firstMatch(const icu::UnicodeString& text,
                                                   int groups) const {
        if (!pattern_) return std::nullopt;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(text, status));
        if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
        std::vector<QString> out;
        for (int g = 1; g <= groups; ++g) {
            if (matcher->start(g, status) < 0 || U_FAILURE(status)) return std::nullopt;
            out.push_back(fromUnicode(matcher->group(g, status)));
            if (U_FAILURE(status)) return std::nullopt;
        }
        return out;
    }

private:
    std::unique_ptr<icu::RegexPattern> pattern_;
};

const Pattern& sizePattern(int index) {
    static thread_local const Pattern patterns[] = {
        Pattern("\xF0\x9F\x92\xBE\\s*([0-9.,]+)\\s*([KMGT])i?B"),  // U+1F4BE floppy disk
        Pattern("(?i)size\\s*:?\\s*([0-9.,]+)\\s*([KMGT])i?B"),
    };
    return patterns[index];
}

const Pattern& seederPattern(int index) {
    static thread_local const Pattern patterns[] = {
        Pattern("\xF0\x9F\x91\xA4\\s*([0-9,]+)"),  // U+1F464 bust in silhouette
        Pattern("(?i)seed(?:er)?s?\\s*:?\\s*([0-9,]+)"),
    };
    return patterns[index];
}

// Digits with at most one "." and at least one digit.
std::optional<double> parseDecimal(const QString& text) {
    int digits = 0;
    int points = 0;
    for (const QChar c : text) {
        if (c == u'.')
            ++points;
        else if (c >= u'0' && c <= u'9')
            ++digits;
        else
            return std::nullopt;
    }
    if (digits == 0 || points > 1) return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> unitBytes(const QString& unit) {
    const QString upper = unit.toUpper();
    if (upper == QLatin1String("K")) return 1024.0;
    if (upper == QLatin1String("M")) return 1024.0 * 1024;
    if (upper == QLatin1String("G")) return 1024.0 * 1024 * 1024;
    if (upper == QLatin1String("T")) return 1024.0 * 1024 * 1024 * 1024;
    return std::nullopt;
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The first non-empty line of `text`, trimmed. Lines end at a line feed that does not follow a
// carriage return; empty lines are passed over, but a blank first line gives the empty text.
QString firstLine(const QString& text) {
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !(text[end] == u'\n' && (end == 0 || text[end - 1] != u'\r')))
            ++end;
        if (end > start) return trimmed(text.mid(start, end - start));
        start = end + 1;
    }
    return {};
}

}  // namespace

std::optional<QString> normalizeIMDbID(const QString& text) {
    QString piece = text;
    for (const QString& part : text.split(QLatin1Char(':'))) {
        if (!part.isEmpty()) {
            piece = part;
            break;
        }
    }
    if (piece.size() < 9 || !piece.startsWith(QLatin1String("tt"), Qt::CaseInsensitive))
        return std::nullopt;
    for (qsizetype i = 2; i < piece.size(); ++i)
        if (piece[i] < u'0' || piece[i] > u'9') return std::nullopt;
    return piece;
}

std::optional<QString> normalizeBaseURL(const QString& text) {
    QString base = trimmed(text);
    if (base.isEmpty()) return std::nullopt;
    const qsizetype manifest =
        base.indexOf(QLatin1String("/manifest.json"), 0, Qt::CaseInsensitive);
    if (manifest >= 0) base.truncate(manifest);
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    if (!base.startsWith(QLatin1String("http://")) && !base.startsWith(QLatin1String("https://")))
        return std::nullopt;
    return base;
}

QList<MediaMeta> parseMetas(const QByteArray& data, const QString& type, int limit) {
    QList<MediaMeta> metas;
    const auto root = parseObject(data);
    if (!root || !root->value(QLatin1String("metas")).isArray()) return metas;
    const QJsonArray elements = root->value(QLatin1String("metas")).toArray();
    // The answer is an array of objects or it is not a catalog answer at all.
    if (!std::all_of(elements.begin(), elements.end(),
                     [](const QJsonValue& element) { return element.isObject(); }))
        return metas;
    for (const QJsonValue& element : elements) {
        if (metas.size() >= limit) break;
        const QJsonObject object = element.toObject();
        const auto rawID = stringValue(object, QLatin1String("id"));
        if (!rawID) continue;
        const auto imdbID = normalizeIMDbID(*rawID);
        if (!imdbID) continue;
        MediaMeta meta;
        meta.type = type;
        meta.imdbID = *imdbID;
        const auto name = stringValue(object, QLatin1String("name"));
        meta.title = name ? trimmed(*name) : *imdbID;
        if (const auto poster = stringValue(object, QLatin1String("poster")))
            meta.poster = parseURL(*poster);
        meta.releaseInfo = stringValue(object, QLatin1String("releaseInfo"));
        if (!meta.releaseInfo) meta.releaseInfo = stringValue(object, QLatin1String("year"));
        metas.append(std::move(meta));
    }
    return metas;
}

QList<AddonStream> parseStreams(const QByteArray& data) {
    QList<AddonStream> streams;
    const auto root = parseObject(data);
    if (!root || !root->value(QLatin1String("streams")).isArray()) return streams;
    for (const QJsonValue& element : root->value(QLatin1String("streams")).toArray()) {
        if (!element.isObject()) continue;
        const QJsonObject object = element.toObject();
        const auto rawHash = stringValue(object, QLatin1String("infoHash"));
        if (!rawHash) continue;
        const QString hash = trimmed(*rawHash);
        if (hash.size() != 40 || !std::all_of(hash.begin(), hash.end(), isHexDigit)) continue;
        AddonStream stream;
        stream.infoHash = hash.toUpper();
        stream.name = stringValue(object, QLatin1String("name")).value_or(QString());
        stream.title = stringValue(object, QLatin1String("title")).value_or(QString());
        streams.append(std::move(stream));
    }
    return streams;
}

std::optional<qint64> parseSize(const QString& text) {
    const icu::UnicodeString unicode = toUnicode(text);
    for (int i = 0; i < 2; ++i) {
        const auto groups = sizePattern(i).firstMatch(unicode, 2);
        if (!groups) continue;
        QString number = (*groups)[0];
        number.remove(QLatin1Char(','));
        const auto value = parseDecimal(number);
        if (!value) continue;
        const auto unit = unitBytes((*groups)[1]);
        if (!unit) continue;
        const double product = std::trunc(*value * *unit);
        // 2^63 is the first value out of range; doubles represent it exactly.
        if (!(product < 9223372036854775808.0)) return std::nullopt;
        return static_cast<qint64>(product);
    }
    return std::nullopt;
}

std::optional<qint64> parseSeeders(const QString& text) {
    const icu::UnicodeString unicode = toUnicode(text);
    for (int i = 0; i < 2; ++i) {
        const auto groups = seederPattern(i).firstMatch(unicode, 1);
        if (!groups) continue;
        QString digits = (*groups)[0];
        digits.remove(QLatin1Char(','));
        if (digits.isEmpty()) continue;
        if (const auto value = parseDecimalInteger(digits)) return value;
    }
    return std::nullopt;
}

QString magnetLink(const QString& infoHash, const QString& name) {
    return QStringLiteral("magnet:?xt=urn:btih:") + infoHash + QStringLiteral("&dn=") +
           encodeQueryComponent(name);
}

std::optional<QUrl> streamURL(const QString& baseURL, const MediaMeta& meta) {
    const QString path = meta.type == QLatin1String("series")
                             ? QStringLiteral("series/") + meta.imdbID + QStringLiteral(":1:1")
                             : QStringLiteral("movie/") + meta.imdbID;
    return parseURL(baseURL + QStringLiteral("/stream/") + path + QStringLiteral(".json"));
}

SearchResult streamResult(const AddonStream& stream, const MediaMeta& meta,
                          const SearchSource& source) {
    QString display = firstLine(stream.title);
    if (display.isEmpty()) display = firstLine(stream.name);
    if (display.isEmpty()) display = meta.title;
    if (display.isEmpty()) display = QStringLiteral("Torrent");

    const QString description = stream.title + QLatin1Char('\n') + stream.name;
    SearchResult result;
    result.id = QStringLiteral("stremio:") + source.idText() + QLatin1Char(':') + stream.infoHash;
    result.title = display;
    result.sourceName = source.name;
    result.sizeBytes = parseSize(description);
    result.seeders = parseSeeders(description);
    result.link = Link::makeMagnet(magnetLink(stream.infoHash, display));
    result.posterURL = meta.poster;
    return result;
}

}  // namespace rillow
