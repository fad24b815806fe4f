#include "search/FeedParser.h"

#include "search/TextRules.h"

#include <QXmlStreamReader>

namespace rillow {

namespace {

// Attribute names are matched exactly as written; with namespace processing off the qualified
// name is the name as it appears in the document.
std::optional<QString> attribute(const QXmlStreamAttributes& attributes, QLatin1String name) {
    for (const QXmlStreamAttribute& a : attributes)
        if (a.qualifiedName() == name) return a.value().toString();
    return std::nullopt;
}

}  // namespace

QList<FeedItem> FeedParser::parse(const QByteArray& data) {
    items_.clear();
    current_.reset();
    text_.clear();

    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                startElement(reader.qualifiedName().toString().toLower(), reader.attributes());
                break;
            case QXmlStreamReader::EndElement:
                endElement(reader.qualifiedName().toString().toLower());
                break;
            case QXmlStreamReader::Characters: text_.append(reader.text()); break;
            case QXmlStreamReader::DTD: return items_;
            case QXmlStreamReader::Invalid:
                return items_;  // malformed: keep what was finished before the fault
            default: break;
        }
    }
    return items_;
}

void FeedParser::startElement(const QString& name, const QXmlStreamAttributes& attributes) {
    text_.clear();
    if (name == QLatin1String("item") || name == QLatin1String("entry")) {
        current_ = FeedItem{};
        return;
    }
    if (!current_) return;
    if (name == QLatin1String("enclosure")) {
        if (auto url = attribute(attributes, QLatin1String("url"))) current_->enclosureURL = *url;
        return;
    }
    if (name == QLatin1String("torznab:attr") || name == QLatin1String("newznab:attr")) {
        const auto attrName = attribute(attributes, QLatin1String("name"));
        const auto value = attribute(attributes, QLatin1String("value"));
        if (!attrName || !value) return;
        const QString key = attrName->toLower();
        if (key == QLatin1String("seeders"))
            current_->seeders = parseDecimalInteger(*value);
        else if (key == QLatin1String("size"))
            current_->sizeBytes = parseDecimalInteger(*value);
        else if (key == QLatin1String("magneturl"))
            current_->magnet = *value;
    }
}

void FeedParser::endElement(const QString& name) {
    const QString value = trimmed(text_);
    text_.clear();
    if (!current_) return;
    if (name == QLatin1String("item") || name == QLatin1String("entry")) {
        items_.append(std::move(*current_));
        current_.reset();
    } else if (name == QLatin1String("title")) {
        current_->title = value;
    } else if (name == QLatin1String("link")) {
        if (!value.isEmpty()) current_->link = value;
    } else if (name == QLatin1String("guid") || name == QLatin1String("id")) {
        current_->guid = value;
    } else if (name == QLatin1String("size") || name == QLatin1String("contentlength")) {
        if (!current_->sizeBytes) current_->sizeBytes = parseDecimalInteger(value);
    }
}

}  // namespace rillow
