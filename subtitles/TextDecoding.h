#pragma once
// Turning subtitle bytes of unknown encoding into text: byte-order marks, UTF-16 sniffing,
// strict UTF-8, then a scored choice among legacy encodings (ICU converters, ICU's charset
// detector, CLD2 as the language recogniser). Also the script and language guesses and the
// small text fixes of the transcoder. Pure functions; any thread; never block.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace rillow::SubtitleTranscoder {

enum class ScriptClass : quint8 {
    none,
    latin,
    greek,
    cyrillic,
    hebrew,
    arabic,
    thai,
    cjk,
    hangul,
    other
};

// Decodes; never fails (at worst UTF-8 with replacement characters).
QString decodeText(QByteArrayView bytes, const std::optional<QString>& language,
                   const std::optional<QString>& encodingHint);
// The converter name for an addon's encoding label ("CP1251", "utf8", ...), if ICU knows it.
std::optional<QString> encodingFromHint(const std::optional<QString>& hint);
// Legacy encodings worth trying for a language, best first.
QStringList legacyEncodings(const std::optional<QString>& language);
// The encodings tried when no language is known.
QStringList defaultEncodings();
// How plausible a decoding is; higher is better.
double textQuality(const QString& text, const std::optional<QString>& language);
ScriptClass scriptClass(char32_t c);
ScriptClass scriptFamily(const std::optional<QString>& language);
// "ko", "ja", "zh" by the share of their scripts, "ro" by its letters; else nothing.
std::optional<QString> detectScriptLanguage(const QString& text);

struct Recognized {
    std::optional<QString> language;  // CLD2's code as it gives it
    double probability = 0;           // 0 to 1
};
// CLD2 over the text. CLD2 has no probabilities: this is the share of the text in its top
// language when CLD2 calls its answer reliable, else 0.
Recognized recognizerTopLanguage(const QString& text);
// The recogniser's language of `languageSample(text)` when it is surer than 0.8, normalised.
std::optional<QString> recognizeLanguage(const QString& text);
// The dialogue lines of a subtitle (no timings, cue numbers, tags or speaker labels), at most
// a little over 2000 characters.
QString languageSample(const QString& text);
// Cedilla forms of s and t (legacy Romanian) to the comma-below letters.
QString fixRomanianLetters(const QString& text);

}  // namespace rillow::SubtitleTranscoder
