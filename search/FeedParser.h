#pragma once
// Reads the items of one RSS or Atom document, with Torznab and Newznab attribute elements.
//
// Pure and synchronous; any thread. A parser holds the state of one document only: make a new
// one for each document.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class QXmlStreamAttributes;

namespace rillow {

struct FeedItem {
    QString title;
    QString link;
    QString guid;
    QString enclosureURL;
    QString magnet;
    std::optional<qint64> sizeBytes;
    std::optional<qint64> seeders;

    bool operator==(const FeedItem&) const = default;
};

class FeedParser {
public:
    // The items finished before the end of the document, before a malformed spot, or before a
    // document type declaration: a DTD can define entities that expand quadratically, so the
    // reader never goes past one.
    QList<FeedItem> parse(const QByteArray& data);

private:
    void startElement(const QString& name, const QXmlStreamAttributes& attributes);
    void endElement(const QString& name);

    QList<FeedItem> items_;
    std::optional<FeedItem> current_;
    QString text_;
};

}  // namespace rillow
