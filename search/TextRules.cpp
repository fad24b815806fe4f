#include "search/TextRules.h"

#include "search/SearchResult.h"

#include <algorithm>
#include <limits>

namespace rillow {

namespace {

bool isAsciiAlnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isValidUtf16(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate()) return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

QString percentEncode(const QString& text, const char* keep) {
    if (!isValidUtf16(text)) return text;
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (const char byte : utf8) {
        const auto c = static_cast<unsigned char>(byte);
        if (isAsciiAlnum(c) || (c != 0 && std::strchr(keep, c) != nullptr)) {
            out.append(QChar(c));
        } else {
            out.append(QChar('%'));
            out.append(QChar(hex[c >> 4]));
            out.append(QChar(hex[c & 0xF]));
        }
    }
    return out;
}

}  // namespace

QString encodeQuery(const QString& query) {
    return percentEncode(query, "-._~!$'()*,;:@");
}

QString encodeQueryComponent(const QString& text) {
    return percentEncode(text, "-._~!$&'()*+,;=:@/?");
}

std::optional<qint64> parseDecimalInteger(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i >= text.size()) return std::nullopt;
    // Accumulate toward the negative side so that the minimum value reads too.
    qint64 value = 0;
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c - u'0';
        if (value < (min + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == min) return std::nullopt;
        value = -value;
    }
    return value;
}

QString trimmed(const QString& text) {
    return text.trimmed();
}

std::optional<QUrl> parseURL(const QString& text) {
    if (text.isEmpty()) return std::nullopt;
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return std::nullopt;
    return url;
}

void sortBySeeders(QList<SearchResult>& results) {
    std::stable_sort(results.begin(), results.end(),
                     [](const SearchResult& a, const SearchResult& b) {
                         return a.seeders.value_or(-1) > b.seeders.value_or(-1);
                     });
}

}  // namespace rillow
