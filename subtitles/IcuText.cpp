#include "subtitles/IcuText.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <QChar>
#include <QHash>
#include <memory>
#include <mutex>

namespace rillow::icutext {
namespace {

using PatternPtr = std::shared_ptr<const icu::RegexPattern>;

// Patterns come mostly from fixed literals; the cap only guards against callers that feed
// arbitrary patterns through `ReleaseNameParser::matches`.
constexpr qsizetype kMaxCachedPatterns = 512;

PatternPtr compiled(const QString& pattern, bool caseInsensitive) {
    static std::mutex lock;
    // Guarded by `lock`.
    static QHash<QString, PatternPtr> cache;
    const QString key = (caseInsensitive ? QStringLiteral("i:") : QStringLiteral("c:")) + pattern;
    {
        std::lock_guard guard(lock);
        auto it = cache.constFind(key);
        if (it != cache.constEnd()) return *it;
    }
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const icu::UnicodeString source(reinterpret_cast<const UChar*>(pattern.utf16()),
                                    int32_t(pattern.size()));
    std::unique_ptr<icu::RegexPattern> made(icu::RegexPattern::compile(
        source, caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
    PatternPtr result;
    if (U_SUCCESS(status) && made) result = PatternPtr(made.release());
    std::lock_guard guard(lock);
    if (cache.size() >= kMaxCachedPatterns) cache.clear();
    cache.insert(key, result);  // a null entry remembers a pattern that does not compile
    return result;
}

// Walks the matches of `pattern` in `text`; `f` returns false to stop.
template <class F>
void walk(const QString& pattern, const QString& text, bool caseInsensitive, F&& f) {
    PatternPtr p = compiled(pattern, caseInsensitive);
    if (!p) return;
    // Read-only alias: `text` outlives the matcher.
    const icu::UnicodeString input(false, reinterpret_cast<const UChar*>(text.utf16()),
                                   int32_t(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(p->matcher(input, status));
    if (U_FAILURE(status) || !m) return;
    while (m->find(status) && U_SUCCESS(status)) {
        RegexMatch match;
        match.start = m->start(status);
        match.length = m->end(status) - match.start;
        const int32_t count = m->groupCount();
        for (int32_t g = 1; g <= count; ++g) {
            const int32_t s = m->start(g, status);
            const int32_t e = m->end(g, status);
            if (U_FAILURE(status) || s < 0 || e < s || e > text.size()) {
                status = U_ZERO_ERROR;
                match.groups.append(QString());
            } else {
                match.groups.append(text.mid(s, e - s));
            }
        }
        if (!f(std::move(match))) return;
    }
}

}  // namespace

QList<RegexMatch> findAll(const QString& pattern, const QString& text, bool caseInsensitive) {
    QList<RegexMatch> out;
    walk(pattern, text, caseInsensitive, [&](RegexMatch&& m) {
        out.append(std::move(m));
        return true;
    });
    return out;
}

std::optional<RegexMatch> findFirst(const QString& pattern, const QString& text,
                                    bool caseInsensitive) {
    std::optional<RegexMatch> out;
    walk(pattern, text, caseInsensitive, [&](RegexMatch&& m) {
        out = std::move(m);
        return false;
    });
    return out;
}

bool contains(const QString& pattern, const QString& text, bool caseInsensitive) {
    return findFirst(pattern, text, caseInsensitive).has_value();
}

QString replaceAll(const QString& pattern, const QString& text, const QString& replacement) {
    QString out;
    qsizetype last = 0;
    walk(pattern, text, false, [&](RegexMatch&& m) {
        out += QStringView(text).mid(last, m.start - last);
        out += replacement;
        last = m.end();
        return true;
    });
    if (last == 0 && out.isEmpty()) return text;
    out += QStringView(text).mid(last);
    return out;
}

std::optional<QString> decodeStrict(QByteArrayView bytes, const char* encoding) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(encoding, &status);
    if (U_FAILURE(status) || !conv) return std::nullopt;
    std::unique_ptr<UConverter, void (*)(UConverter*)> guard(conv, ucnv_close);
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;

    // No supported encoding yields more than two UTF-16 units per byte.
    QString out(bytes.size() * 2 + 2, Qt::Uninitialized);
    UChar* target = reinterpret_cast<UChar*>(out.data());
    UChar* const targetStart = target;
    const char* source = bytes.data();
    ucnv_toUnicode(conv, &target, targetStart + out.size(), &source, bytes.data() + bytes.size(),
                   nullptr, true, &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.truncate(target - targetStart);

    const char* name = ucnv_getName(conv, &status);
    const bool windowsCodePage =
        U_SUCCESS(status) && name &&
        (qstrnicmp(encoding, "windows-", 8) == 0 || qstrnicmp(name, "windows-", 8) == 0);
    if (windowsCodePage) {
        for (QChar c : std::as_const(out))
            if (c.unicode() >= 0x80 && c.unicode() <= 0x9F) return std::nullopt;
    }
    return out;
}

bool isLetterOrNumber(char32_t c) {
    if (c < 0x80) return (c | 0x20) - 'a' < 26 || c - '0' < 10;
    const int8_t t = u_charType(UChar32(c));
    return (U_MASK(t) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

bool isLetter(char32_t c) {
    if (c < 0x80) return (c | 0x20) - 'a' < 26;
    return (U_MASK(u_charType(UChar32(c))) & U_GC_L_MASK) != 0;
}

QStringList words(const QString& text) {
    QStringList out;
    const QString lower = text.toLower();
    QString current;
    forEachCodePoint(lower, [&](char32_t c) {
        if (isLetterOrNumber(c)) {
            if (c >= 0x10000)
                current += QString::fromUcs4(&c, 1);
            else
                current += QChar(char16_t(c));
        } else if (!current.isEmpty()) {
            out.append(current);
            current.clear();
        }
        return true;
    });
    if (!current.isEmpty()) out.append(current);
    return out;
}

}  // namespace rillow::icutext
