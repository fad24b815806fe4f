#include "subtitles/Languages.h"

#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <string>

namespace rillow {
namespace {

struct LanguageTables {
    QSet<QString> unknownMarkers;
    QHash<QString, QString> aliases;
    QHash<QString, QString> names;  // English name, lower-cased -> code
};

QString fromIcu(const icu::UnicodeString& s) {
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

const LanguageTables& tables() {
    static const LanguageTables t = [] {
        LanguageTables out;
        for (const char* m : {"und", "unk", "mis", "mul", "zxx", "xx", "none", "unknown", "n/a"})
            out.unknownMarkers.insert(QString::fromLatin1(m));
        const std::pair<const char*, const char*> aliases[] = {
            {"pob", "pt-BR"},   {"pb", "pt-BR"},    {"pom", "pt-MZ"},   {"zht", "zh-Hant"},
            {"cht", "zh-Hant"}, {"zhs", "zh-Hans"}, {"chs", "zh-Hans"}, {"zhe", "zh"},
            {"ze", "zh"},       {"spn", "es-ES"},   {"spl", "es-419"},  {"ea", "es-419"},
            {"mol", "ro"},      {"mo", "ro"},       {"mne", "cnr"}};
        for (const auto& [label, code] : aliases)
            out.aliases.insert(QString::fromLatin1(label), QString::fromLatin1(code));

        const icu::Locale english("en");
        for (const char* const* code = uloc_getISOLanguages(); *code; ++code) {
            if (std::char_traits<char>::length(*code) != 2) continue;
            icu::UnicodeString display;
            icu::Locale(*code).getDisplayLanguage(english, display);
            const QString name = fromIcu(display).toLower();
            // ICU echoes the code when it has no English name.
            if (name.isEmpty() || name == QLatin1String(*code)) continue;
            if (!out.names.contains(name)) out.names.insert(name, QString::fromLatin1(*code));
        }
        out.names.insert(QStringLiteral("portuguese (brazil)"), QStringLiteral("pt-BR"));
        out.names.insert(QStringLiteral("brazilian portuguese"), QStringLiteral("pt-BR"));
        out.names.insert(QStringLiteral("chinese (traditional)"), QStringLiteral("zh-Hant"));
        out.names.insert(QStringLiteral("chinese (simplified)"), QStringLiteral("zh-Hans"));
        out.names.insert(QStringLiteral("persian"), QStringLiteral("fa"));
        out.names.insert(QStringLiteral("farsi"), QStringLiteral("fa"));
        return out;
    }();
    return t;
}

// BCP 47 canonical form through ICU: three-letter codes to two letters where one exists,
// deprecated codes replaced, region upper-case, script title-case. Empty when ill-formed.
QString canonicalTag(const QString& text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(text.toStdString(), status);
    if (U_FAILURE(status) || locale.isBogus()) return {};
    locale.canonicalize(status);
    if (U_FAILURE(status)) return {};
    const std::string tag = locale.toLanguageTag<std::string>(status);
    if (U_FAILURE(status)) return {};
    return QString::fromStdString(tag);
}

QString unknownLanguageText() {
    return QCoreApplication::translate("rillow::Subtitles", "Unknown Language");
}

}  // namespace

std::optional<QString> normalizedLanguage(const std::optional<QString>& label) {
    if (!label) return std::nullopt;
    QString text = label->trimmed();
    if (text.isEmpty()) return std::nullopt;
    text.replace(u'_', u'-');
    const QString key = text.toLower();
    const LanguageTables& t = tables();
    if (t.unknownMarkers.contains(key)) return std::nullopt;
    if (auto it = t.aliases.constFind(key); it != t.aliases.constEnd()) return *it;
    if (text.size() >= 4 && !text.contains(u'-')) {
        if (auto it = t.names.constFind(key); it != t.names.constEnd()) return *it;
    }
    const QString canonical = canonicalTag(text);
    // "und" is what ICU makes of a tag without a language.
    if (canonical.isEmpty() || canonical == u"und") return std::nullopt;
    if (auto it = t.aliases.constFind(canonical.toLower()); it != t.aliases.constEnd()) return *it;
    return canonical;
}

std::optional<QString> primaryLanguage(const std::optional<QString>& label) {
    const auto code = normalizedLanguage(label);
    if (!code) return std::nullopt;
    const QStringList parts = code->split(u'-', Qt::SkipEmptyParts);
    if (parts.isEmpty()) return std::nullopt;
    return parts.first().toLower();
}

bool isTraditionalChinese(const std::optional<QString>& label) {
    const auto code = normalizedLanguage(label);
    if (!code) return false;
    const QString c = code->toLower();
    return c.contains(u"hant") || c.endsWith(u"-tw") || c.endsWith(u"-hk") || c.endsWith(u"-mo");
}

QString languageDisplayName(const std::optional<QString>& label, const QString& localeTag) {
    const auto code = normalizedLanguage(label);
    if (!code) return unknownLanguageText();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale language = icu::Locale::forLanguageTag(code->toStdString(), status);
    QString name;
    if (U_SUCCESS(status)) {
        UErrorCode displayStatus = U_ZERO_ERROR;
        const icu::Locale display =
            localeTag.isEmpty()
                ? icu::Locale::getDefault()
                : icu::Locale::forLanguageTag(localeTag.toStdString(), displayStatus);
        icu::UnicodeString out;
        language.getDisplayName(U_SUCCESS(displayStatus) ? display : icu::Locale::getDefault(),
                                out);
        name = fromIcu(out);
    }
    if (name.isEmpty()) name = *code;
    // Upper-case the first character only (a code point, which may be a surrogate pair).
    const qsizetype first = name[0].isHighSurrogate() && name.size() > 1 ? 2 : 1;
    return name.left(first).toUpper() + name.mid(first);
}

QString languageDisplayName(const std::optional<QString>& label) {
    return languageDisplayName(label, QString());
}

std::optional<QString> subtitleFont(const std::optional<QString>& label) {
    const auto primary = primaryLanguage(label);
    if (!primary) return std::nullopt;
    if (*primary == u"zh")
        return isTraditionalChinese(label) ? QStringLiteral("Noto Sans CJK TC")
                                           : QStringLiteral("Noto Sans CJK SC");
    if (*primary == u"ja") return QStringLiteral("Noto Sans CJK JP");
    return std::nullopt;
}

QStringList preferredLanguages(const std::optional<QString>& stored, const QStringList& system) {
    QStringList all;
    if (stored) all.append(*stored);
    all.append(system);
    QStringList out;
    for (const QString& label : std::as_const(all)) {
        const auto primary = primaryLanguage(label);
        if (primary && !out.contains(*primary)) out.append(*primary);
    }
    return out;
}

QStringList systemPreferredLanguages() {
    return QLocale::system().uiLanguages();
}

}  // namespace rillow
