#pragma once
// One vocabulary for subtitle languages: free-form labels from addons ("English", "pt_BR",
// "pob", "Chinese (Traditional)") become BCP 47 codes, display names, primary subtags and
// subtitle fonts. Locale data comes from ICU.
//
// Pure functions; any thread; never block. The tables are built once, on first use.

#include <QString>
#include <QStringList>
#include <optional>

namespace rillow {

// The BCP 47 code of a label, or nothing when it names no known language.
std::optional<QString> normalizedLanguage(const std::optional<QString>& label);
// The lower-case primary subtag of the normalised code ("pt-BR" gives "pt").
std::optional<QString> primaryLanguage(const std::optional<QString>& label);
bool isTraditionalChinese(const std::optional<QString>& label);

// The language's name in the user's locale (ICU's default locale, taken from the
// environment), first letter upper-cased; "Unknown Language" when it names none.
QString languageDisplayName(const std::optional<QString>& label);
// The same in a given locale (a BCP 47 tag such as "de").
QString languageDisplayName(const std::optional<QString>& label, const QString& localeTag);

// The font family for subtitles in that language, or nothing for the player's default.
std::optional<QString> subtitleFont(const std::optional<QString>& label);

// The stored subtitle language followed by the system's, reduced to primary subtags, those
// without one dropped, later duplicates removed.
QStringList preferredLanguages(const std::optional<QString>& stored, const QStringList& system);
// The user's preferred languages as the desktop gives them (LANGUAGE, LC_ALL, LANG...).
QStringList systemPreferredLanguages();

}  // namespace rillow
