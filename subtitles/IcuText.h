#pragma once
// Small bridges between Qt text and ICU used across the subtitle code: regular expressions in
// ICU syntax over QString (both are UTF-16, so match offsets are QString offsets), strict
// decoding through ICU converters, and code-point walking.
//
// Any thread; never blocks. Compiled patterns are cached process-wide behind one mutex and are
// immutable once compiled, so matchers can be made from them on any thread at once.

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace rillow::icutext {

struct RegexMatch {
    qsizetype start = 0;   // offset of the whole match in the searched text
    qsizetype length = 0;  // its length in UTF-16 units
    QStringList groups;    // one per capture group; "" for a group that took no part
    qsizetype end() const { return start + length; }
};

// Every non-overlapping match in order; empty when the pattern does not compile.
QList<RegexMatch> findAll(const QString& pattern, const QString& text,
                          bool caseInsensitive = false);
// The leftmost match, if any.
std::optional<RegexMatch> findFirst(const QString& pattern, const QString& text,
                                    bool caseInsensitive = false);
bool contains(const QString& pattern, const QString& text, bool caseInsensitive = false);
// Replaces every match by `replacement` taken literally.
QString replaceAll(const QString& pattern, const QString& text, const QString& replacement);

// Decodes `bytes` with the ICU converter `encoding`, failing on any byte or sequence that the
// encoding does not define (including a truncated sequence at the end). For the Windows code
// pages, ICU maps their undefined bytes to C1 controls; those count as undefined here too.
std::optional<QString> decodeStrict(QByteArrayView bytes, const char* encoding);

// Code points of `text` one by one (an unpaired surrogate yields itself).
template <class F>
void forEachCodePoint(QStringView text, F&& f) {
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = p[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[i + 1] - 0xDC00);
            ++i;
        }
        if (!f(c)) return;
    }
}

// Unicode letters and numbers (general categories L and N).
bool isLetterOrNumber(char32_t c);
bool isLetter(char32_t c);

// Lower-cases and splits at every character that is neither a letter nor a number, dropping
// empty pieces; order kept.
QStringList words(const QString& text);

}  // namespace rillow::icutext
