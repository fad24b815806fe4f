#include "subtitles/TextDecoding.h"

#include "subtitles/IcuText.h"
#include "subtitles/Languages.h"

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <QHash>
#include <QSet>
#include <memory>
#include <vector>

namespace rillow::SubtitleTranscoder {
namespace {

std::optional<QString> decode(QByteArrayView bytes, const QString& encoding) {
    return icutext::decodeStrict(bytes, encoding.toLatin1().constData());
}

// ICU's canonical converter name, for comparing two labels of one encoding.
QByteArray canonicalConverter(const QString& name) {
    UErrorCode status = U_ZERO_ERROR;
    const char* alias = ucnv_getAlias(name.toLatin1().constData(), 0, &status);
    if (U_FAILURE(status) || !alias) return name.toLatin1().toLower();
    return QByteArray(alias);
}

// ICU's charset detector; it may decline. With a known language the match in one of the
// suggested encodings or in that language wins over the detector's first choice.
struct Detected {
    QByteArray converter;  // ICU's canonical converter name
    QString text;
};

std::optional<Detected> detectWithPlatform(QByteArrayView bytes, const QStringList& suggested,
                                           const std::optional<QString>& primary) {
    UErrorCode status = U_ZERO_ERROR;
    UCharsetDetector* det = ucsdet_open(&status);
    if (U_FAILURE(status) || !det) return std::nullopt;
    std::unique_ptr<UCharsetDetector, void (*)(UCharsetDetector*)> guard(det, ucsdet_close);
    ucsdet_setText(det, bytes.data(), int32_t(bytes.size()), &status);
    int32_t count = 0;
    const UCharsetMatch** all = ucsdet_detectAll(det, &count, &status);
    if (U_FAILURE(status) || !all || count <= 0) return std::nullopt;

    const UCharsetMatch* chosen = all[0];
    if (primary) {
        QList<QByteArray> wanted;
        for (const QString& s : suggested) wanted.append(canonicalConverter(s));
        for (int32_t i = 0; i < count; ++i) {
            UErrorCode s = U_ZERO_ERROR;
            const char* name = ucsdet_getName(all[i], &s);
            const char* lang = ucsdet_getLanguage(all[i], &s);
            if (U_FAILURE(s) || !name) continue;
            if (wanted.contains(canonicalConverter(QString::fromLatin1(name))) ||
                (lang && QString::fromLatin1(lang) == *primary)) {
                chosen = all[i];
                break;
            }
        }
    }
    const char* name = ucsdet_getName(chosen, &status);
    if (U_FAILURE(status) || !name) return std::nullopt;
    auto text = icutext::decodeStrict(bytes, name);
    if (!text) return std::nullopt;
    return Detected{canonicalConverter(QString::fromLatin1(name)), std::move(*text)};
}

bool isAlphabetic(char32_t c) {
    return u_isUAlphabetic(UChar32(c));
}

bool isKana(char32_t c) {
    return c >= 0x3040 && c <= 0x30FF;
}

constexpr qsizetype kSampleLimit = 2000;

}  // namespace

QStringList defaultEncodings() {
    return {QStringLiteral("windows-1252"), QStringLiteral("windows-1250"),
            QStringLiteral("windows-1251"), QStringLiteral("KOI8-R"),
            QStringLiteral("windows-1253"), QStringLiteral("windows-1254"),
            QStringLiteral("windows-1255"), QStringLiteral("windows-1256"),
            QStringLiteral("windows-1257"), QStringLiteral("GB18030"),
            QStringLiteral("Big5-HKSCS"),   QStringLiteral("Shift_JIS"),
            QStringLiteral("windows-949")};
}

QStringList legacyEncodings(const std::optional<QString>& language) {
    const auto primary = primaryLanguage(language);
    if (!primary) return defaultEncodings();
    static const QHash<QString, QStringList> table = [] {
        QHash<QString, QStringList> t;
        auto add = [&](std::initializer_list<const char*> langs, QStringList encodings) {
            for (const char* l : langs) t.insert(QString::fromLatin1(l), encodings);
        };
        add({"ro", "cs", "sk", "pl", "hu", "hr", "sl", "bs", "sq", "cnr"},
            {"windows-1250", "ISO-8859-2", "ISO-8859-16"});
        add({"ru", "uk", "be", "bg", "mk", "sr"},
            {"windows-1251", "KOI8-R", "KOI8-U", "ISO-8859-5", "windows-1250"});
        add({"el"}, {"windows-1253", "ISO-8859-7"});
        add({"tr", "az"}, {"windows-1254", "ISO-8859-9"});
        add({"he", "yi"}, {"windows-1255", "ISO-8859-8"});
        add({"ar", "fa", "ur", "ps", "ku"}, {"windows-1256", "ISO-8859-6"});
        add({"lt", "lv", "et"}, {"windows-1257", "ISO-8859-13", "ISO-8859-4"});
        add({"vi"}, {"windows-1258"});
        add({"th"}, {"windows-874", "ISO-8859-11"});
        add({"ja"}, {"Shift_JIS", "EUC-JP", "ISO-2022-JP"});
        // ICU's "cp949" is IBM's code page; Unified Hangul Code is "windows-949".
        add({"ko"}, {"windows-949", "EUC-KR"});
        return t;
    }();
    if (*primary == u"zh") {
        if (isTraditionalChinese(language))
            return {QStringLiteral("Big5-HKSCS"), QStringLiteral("GB18030")};
        return {QStringLiteral("GB18030"), QStringLiteral("Big5-HKSCS")};
    }
    return table.value(*primary, {QStringLiteral("windows-1252"), QStringLiteral("ISO-8859-15")});
}

std::optional<QString> encodingFromHint(const std::optional<QString>& hint) {
    if (!hint) return std::nullopt;
    QString name = hint->trimmed().toLower();
    if (name.isEmpty()) return std::nullopt;
    if (name.startsWith(u"cp")) {
        bool ok = false;
        const int n = name.mid(2).toInt(&ok, 10);
        if (ok && n > 873)
            name = n < 1250 ? QStringLiteral("cp") + QString::number(n)
                            : QStringLiteral("windows-") + QString::number(n);
    }
    if (name == u"ascii") name = QStringLiteral("us-ascii");
    if (name == u"cp949" || name == u"uhc" || name == u"ks_c_5601-1987")
        return QStringLiteral("windows-949");
    const QByteArray latin = name.toLatin1();
    UErrorCode status = U_ZERO_ERROR;
    // IANA and MIME names first; then any other label ICU knows (such as "cp936").
    for (const char* standard : {"IANA", "MIME"}) {
        status = U_ZERO_ERROR;
        if (ucnv_getStandardName(latin.constData(), standard, &status) && U_SUCCESS(status))
            return name;
    }
    status = U_ZERO_ERROR;
    if (ucnv_getAlias(latin.constData(), 0, &status) && U_SUCCESS(status)) return name;
    return std::nullopt;
}

ScriptClass scriptClass(char32_t c) {
    if ((c >= 0x00C0 && c <= 0x024F) || (c >= 0x1E00 && c <= 0x1EFF)) return ScriptClass::latin;
    if ((c >= 0x0370 && c <= 0x03FF) || (c >= 0x1F00 && c <= 0x1FFF)) return ScriptClass::greek;
    if (c >= 0x0400 && c <= 0x052F) return ScriptClass::cyrillic;
    if (c >= 0x0590 && c <= 0x05FF) return ScriptClass::hebrew;
    if ((c >= 0x0600 && c <= 0x06FF) || (c >= 0x0750 && c <= 0x077F) ||
        (c >= 0xFB50 && c <= 0xFEFF))
        return ScriptClass::arabic;
    if (c >= 0x0E00 && c <= 0x0E7F) return ScriptClass::thai;
    if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) ||
        (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF))
        return ScriptClass::cjk;
    if ((c >= 0xAC00 && c <= 0xD7AF) || (c >= 0x1100 && c <= 0x11FF) ||
        (c >= 0x3130 && c <= 0x318F))
        return ScriptClass::hangul;
    return ScriptClass::other;
}

ScriptClass scriptFamily(const std::optional<QString>& language) {
    const auto primary = primaryLanguage(language);
    if (!primary) return ScriptClass::none;
    static const QHash<QString, ScriptClass> table = [] {
        QHash<QString, ScriptClass> t;
        for (const char* l : {"ru", "uk", "be", "bg", "mk", "sr", "kk", "ky", "mn", "tg"})
            t.insert(QString::fromLatin1(l), ScriptClass::cyrillic);
        t.insert(QStringLiteral("el"), ScriptClass::greek);
        for (const char* l : {"he", "yi"}) t.insert(QString::fromLatin1(l), ScriptClass::hebrew);
        for (const char* l : {"ar", "fa", "ur", "ps", "ku"})
            t.insert(QString::fromLatin1(l), ScriptClass::arabic);
        t.insert(QStringLiteral("th"), ScriptClass::thai);
        for (const char* l : {"zh", "ja"}) t.insert(QString::fromLatin1(l), ScriptClass::cjk);
        t.insert(QStringLiteral("ko"), ScriptClass::hangul);
        return t;
    }();
    return table.value(*primary, ScriptClass::latin);
}

namespace {

// Per-character facts the quality score needs, precomputed for the Basic Multilingual Plane
// (the score walks every character of every candidate decoding, so it must be cheap).
struct CharFacts {
    ScriptClass cls;  // script class of an alphabetic character, else none
    bool upper, lower;
};

CharFacts computeFacts(char32_t u) {
    const bool alphabetic = isAlphabetic(u);
    return {alphabetic ? scriptClass(u) : ScriptClass::none, bool(u_isUUppercase(UChar32(u))),
            bool(u_isULowercase(UChar32(u)))};
}

// One byte per character: the class in the low four bits, then upper and lower.
CharFacts bmpFacts(char32_t u) {
    static const std::vector<quint8> table = [] {
        std::vector<quint8> t(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) {
            const CharFacts f = computeFacts(c);
            t[c] = quint8(quint8(f.cls) | (f.upper ? 0x10 : 0) | (f.lower ? 0x20 : 0));
        }
        return t;
    }();
    const quint8 packed = table[u];
    return {ScriptClass(packed & 0x0F), (packed & 0x10) != 0, (packed & 0x20) != 0};
}

}  // namespace

double textQuality(const QString& text, const std::optional<QString>& language) {
    const ScriptClass family = scriptFamily(language);
    double score = 0;
    ScriptClass previous = ScriptClass::none;
    bool previousLower = false;
    qint64 latin = 0, extended = 0, upper = 0, lower = 0;
    icutext::forEachCodePoint(text, [&](char32_t u) {
        ScriptClass cls = ScriptClass::none;
        bool isUpper = false, isLower = false;
        if (u == '\t' || u == '\n' || u == '\r' || (u >= 0x20 && u <= 0x7E)) {
            isUpper = u >= 'A' && u <= 'Z';
            isLower = u >= 'a' && u <= 'z';
            if (isUpper || isLower) {
                cls = ScriptClass::latin;
                ++latin;
            }
        } else {
            const CharFacts facts = u < 0x10000 ? bmpFacts(u) : computeFacts(u);
            isUpper = facts.upper;
            isLower = facts.lower;
            if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || (u >= 0xE000 && u <= 0xF8FF) ||
                u == 0xFFFD) {
                score -= 12;
            } else if ((u >= 0xA0 && u <= 0xBF) || u == 0xD7 || u == 0xF7) {
                score -= 2;
            } else if (facts.cls != ScriptClass::none) {
                cls = facts.cls;
                if (cls == ScriptClass::latin) {
                    ++extended;
                    ++latin;
                }
                if (family != ScriptClass::none) score += cls == family ? 2 : -1;
                if (isKana(u)) score += 0.5;
            }
        }
        if (cls != ScriptClass::none) {
            if (cls != previous && cls != ScriptClass::other && previous != ScriptClass::other &&
                previous != ScriptClass::none)
                score -= 3;
            if (isUpper && previous != ScriptClass::none && previousLower) score -= 1;
        }
        if (isUpper) ++upper;
        if (isLower) ++lower;
        previous = cls;
        previousLower = cls != ScriptClass::none && isLower;
        return true;
    });
    if (latin >= 21 && double(extended) / double(latin) > 0.6) score -= double(extended);
    if (upper + lower >= 21 && upper > 2 * lower) score -= double(upper - lower);
    return score;
}

std::optional<QString> detectScriptLanguage(const QString& text) {
    qint64 alphabetic = 0, hangul = 0, kana = 0, cjk = 0, seen = 0;
    icutext::forEachCodePoint(text, [&](char32_t c) {
        if (++seen > 20000) return false;
        if (!isAlphabetic(c)) return true;
        ++alphabetic;
        if (c >= 0xAC00 && c <= 0xD7AF)
            ++hangul;
        else if (isKana(c))
            ++kana;
        else if ((c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF))
            ++cjk;
        return true;
    });
    if (alphabetic > 0) {
        const double a = double(alphabetic);
        if (double(hangul) / a > 0.3) return QStringLiteral("ko");
        if (double(kana) / a > 0.05) return QStringLiteral("ja");
        if (double(cjk) / a > 0.3) return QStringLiteral("zh");
    }
    // Romanian letters, precomposed or decomposed (a/A + breve, t/T + cedilla or comma below).
    QChar before;
    for (QChar c : text) {
        switch (c.unicode()) {
            case 0x0103:
            case 0x0102:
            case 0x0163:
            case 0x0162:
            case 0x021B:
            case 0x021A: return QStringLiteral("ro");
            case 0x0306:
                if (before == u'a' || before == u'A') return QStringLiteral("ro");
                break;
            case 0x0326:
            case 0x0327:
                if (before == u't' || before == u'T') return QStringLiteral("ro");
                break;
            default: break;
        }
        before = c;
    }
    return std::nullopt;
}

Recognized recognizerTopLanguage(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (utf8.isEmpty()) return {};
    CLD2::CLDHints hints{nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    CLD2::Language top3[3];
    int percent3[3] = {};
    double normalized3[3] = {};
    int textBytes = 0, validPrefix = 0;
    bool reliable = false;
    const CLD2::Language top = CLD2::ExtDetectLanguageSummaryCheckUTF8(
        utf8.constData(), int(utf8.size()), true, &hints, 0, top3, percent3, normalized3, nullptr,
        &textBytes, &reliable, &validPrefix);
    if (top == CLD2::UNKNOWN_LANGUAGE || top == CLD2::TG_UNKNOWN_LANGUAGE) return {};
    const QString code = QString::fromLatin1(CLD2::LanguageCode(top));
    // Script placeholders ("xx-Latn") and joke languages are no answer.
    if (code.isEmpty() || code.startsWith(u"xx") || code.startsWith(u"zz") || code == u"un" ||
        code == u"tlh")
        return {};
    Recognized out;
    out.language = code;
    out.probability = reliable && top3[0] == top ? percent3[0] / 100.0 : 0.0;
    return out;
}

std::optional<QString> recognizeLanguage(const QString& text) {
    const Recognized r = recognizerTopLanguage(languageSample(text));
    if (!r.language || r.probability <= 0.8) return std::nullopt;
    return normalizedLanguage(r.language);
}

QString languageSample(const QString& text) {
    QString sample;
    auto consider = [&](QStringView line) {
        if (line.isEmpty() || line.contains(u"-->")) return;
        bool hasLetter = false;
        icutext::forEachCodePoint(line, [&](char32_t c) {
            hasLetter = icutext::isLetter(c);
            return !hasLetter;
        });
        if (!hasLetter) return;
        if (line.startsWith(u"Dialogue:")) {
            qsizetype at = 0;
            for (int commas = 0; commas < 9; ++commas) {
                const qsizetype comma = line.indexOf(u',', at);
                if (comma < 0) break;
                at = comma + 1;
            }
            line = line.mid(at);
        } else {
            if (line.startsWith(u'[')) return;
            const qsizetype colon = line.indexOf(u':');
            if (line.contains(u": ") && line[0].isLetter()) {
                bool label = true;
                for (QChar c : line.left(colon))
                    if (!(c.isLetter() || c == u' ')) {
                        label = false;
                        break;
                    }
                if (label) return;
            }
        }
        // One endless line must not make the sample (and the recogniser's work) unbounded.
        sample += line.left(kSampleLimit + 1 - sample.size());
        sample += u'\n';
    };
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= n && sample.size() <= kSampleLimit; ++i) {
        const char16_t c = i < n ? text[i].unicode() : u'\n';
        const bool breaks = c == u'\n' || c == 0x0B || c == 0x0C || c == u'\r' || c == 0x85 ||
                            c == 0x2028 || c == 0x2029;
        if (!breaks) continue;
        consider(QStringView(text).mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    return sample;
}

QString fixRomanianLetters(const QString& text) {
    QString s = text;
    s.replace(QChar(0x015F), QChar(0x0219));
    s.replace(QChar(0x0163), QChar(0x021B));
    s.replace(QChar(0x015E), QChar(0x0218));
    s.replace(QChar(0x0162), QChar(0x021A));
    s.replace(QString::fromUtf16(u"s\u0327"), QString(QChar(0x0219)));
    s.replace(QString::fromUtf16(u"t\u0327"), QString(QChar(0x021B)));
    s.replace(QString::fromUtf16(u"S\u0327"), QString(QChar(0x0218)));
    s.replace(QString::fromUtf16(u"T\u0327"), QString(QChar(0x021A)));
    return s;
}

QString decodeText(QByteArrayView bytes, const std::optional<QString>& language,
                   const std::optional<QString>& encodingHint) {
    auto at = [&](qsizetype i) { return i < bytes.size() ? quint8(bytes[i]) : -1; };
    struct Mark {
        std::initializer_list<int> bytes;
        const char* encoding;
    };
    static const Mark marks[] = {{{0xEF, 0xBB, 0xBF}, "UTF-8"},
                                 {{0xFF, 0xFE, 0x00, 0x00}, "UTF-32LE"},
                                 {{0x00, 0x00, 0xFE, 0xFF}, "UTF-32BE"},
                                 {{0xFF, 0xFE}, "UTF-16LE"},
                                 {{0xFE, 0xFF}, "UTF-16BE"}};
    for (const Mark& mark : marks) {
        qsizetype i = 0;
        bool match = true;
        for (int b : mark.bytes) match = match && at(i++) == b;
        if (!match) continue;
        if (auto text = icutext::decodeStrict(bytes.sliced(i), mark.encoding)) return *text;
        break;
    }

    const qsizetype n = std::min<qsizetype>(bytes.size(), 4096);
    if (n >= 16) {
        qsizetype even = 0, odd = 0;
        for (qsizetype i = 0; i < n; ++i)
            if (bytes[i] == '\0') ++(i % 2 == 0 ? even : odd);
        const qsizetype c = ((n / 2) * 3) / 10;
        const qsizetype d = n / 40;
        const char* sniffed = nullptr;
        if (odd > c && even < d)
            sniffed = "UTF-16LE";
        else if (even > c && odd < d)
            sniffed = "UTF-16BE";
        if (sniffed) {
            if (auto text = icutext::decodeStrict(bytes, sniffed)) return *text;
        }
    }

    if (auto text = icutext::decodeStrict(bytes, "UTF-8")) return *text;

    const bool languageKnown = normalizedLanguage(language).has_value();
    QStringList encodings;
    if (auto hinted = encodingFromHint(encodingHint)) encodings.append(*hinted);
    encodings.append(languageKnown ? legacyEncodings(language) : defaultEncodings());

    // Without a language, a decoding the recogniser reads as some language gains up to 20.
    auto recognition = [&](const QString& text) {
        if (languageKnown) return 0.0;
        return 20.0 * recognizerTopLanguage(languageSample(text)).probability;
    };

    // Each distinct encoding is decoded and scored once: a repeat (the detector's pick is
    // usually in the list too, and the hint may repeat a listed encoding) scores its first
    // appearance minus a position bonus, so it can never win.
    QSet<QByteArray> tried;
    std::optional<QString> best;
    double bestScore = 0;
    const auto primary = languageKnown ? primaryLanguage(language) : std::nullopt;
    if (auto detected = detectWithPlatform(bytes, encodings, primary)) {
        tried.insert(detected->converter);
        bestScore = textQuality(detected->text, language) + 1 + recognition(detected->text);
        best = std::move(detected->text);
    }
    const qsizetype k = encodings.size();
    for (qsizetype i = 0; i < k; ++i) {
        const QByteArray key = canonicalConverter(encodings[i]);
        if (tried.contains(key)) continue;
        tried.insert(key);
        auto text = decode(bytes, encodings[i]);
        if (!text) continue;
        const double score =
            double(k - i) * 0.01 + textQuality(*text, language) + recognition(*text);
        if (!best || score > bestScore) {
            best = std::move(text);
            bestScore = score;
        }
    }
    if (best) return *best;
    return QString::fromUtf8(bytes.data(), bytes.size());
}

}  // namespace rillow::SubtitleTranscoder
