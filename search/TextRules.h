#pragma once
// Small text rules shared by the feed, catalog and addon clients. Pure functions, any thread.

#include <QString>
#include <QUrl>
#include <optional>

namespace rillow {

// Percent-encodes a search query for a URL's query or path: ASCII letters and digits and
// - . _ ~ ! $ ' ( ) * , ; : @ stay, everything else becomes its UTF-8 bytes as %XX (upper-case
// hexadecimal). Text that is not valid UTF-16 is returned unchanged.
QString encodeQuery(const QString& query);

// Percent-encodes with the full query character set (RFC 3986 unreserved, sub-delims, ":", "@",
// "/", "?"), so "&" and "=" stay. Text that is not valid UTF-16 is returned unchanged.
QString encodeQueryComponent(const QString& text);

// An optional "+" or "-" then one or more ASCII digits and nothing else; overflow gives nothing.
std::optional<qint64> parseDecimalInteger(QStringView text);

// Trims white space and line breaks from both ends.
QString trimmed(const QString& text);

// An absolute URL (it has a scheme) that parses strictly, else nothing.
std::optional<QUrl> parseURL(const QString& text);

}  // namespace rillow
