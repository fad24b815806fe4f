// Language labels to codes, primary subtags, display names, fonts and preferred languages.
#include "subtitles/Languages.h"
#include "tests/subtitles/Printers.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

using namespace rillow;

namespace {
std::optional<QString> s(const char* text) {
    return QString::fromUtf8(text);
}

class Languages : public ::testing::Test {
protected:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        saved_ = icu::Locale::getDefault();
        icu::Locale::setDefault(icu::Locale("en_US"), status);
    }
    void TearDown() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(saved_, status);
    }
    icu::Locale saved_;
};
}  // namespace

TEST_F(Languages, Normalization) {
    const std::pair<const char*, const char*> cases[] = {
        {"pt_BR", "pt-BR"},
        {"PT_br", "pt-BR"},
        {"pob", "pt-BR"},
        {"POB", "pt-BR"},
        {"pb", "pt-BR"},
        {"pom", "pt-MZ"},
        {"zht", "zh-Hant"},
        {"chs", "zh-Hans"},
        {"ze", "zh"},
        {"spl", "es-419"},
        {"ea", "es-419"},
        {"spn", "es-ES"},
        {"mol", "ro"},
        {"mne", "cnr"},
        {"English", "en"},
        {"  german\n", "de"},
        {"Chinese (Traditional)", "zh-Hant"},
        {"chinese (simplified)", "zh-Hans"},
        {"Brazilian Portuguese", "pt-BR"},
        {"Portuguese (Brazil)", "pt-BR"},
        {"Farsi", "fa"},
        {"Persian", "fa"},
        {"eng", "en"},  // three-letter codes to two letters
        {"fre", "fr"},
        {"ger", "de"},
        {"rum", "ro"},
        {"iw", "he"},  // deprecated code replaced
        {"en", "en"},
        {"zh-tw", "zh-TW"},
        {"zh_hant", "zh-Hant"},
        {"sr-latn-rs", "sr-Latn-RS"},
        {"xx", ""},
        {"n/a", ""},
        {"N/A", ""},
        {"und", ""},
        {"Unknown", ""},
        {"", ""},
        {"   ", ""},
        {"Français", ""},  // not an English name and not a tag
        {"12", ""},
    };
    for (const auto& [label, code] : cases) {
        SCOPED_TRACE(label);
        if (*code)
            EXPECT_EQ(normalizedLanguage(s(label)), s(code));
        else
            EXPECT_EQ(normalizedLanguage(s(label)), std::nullopt);
    }
    EXPECT_EQ(normalizedLanguage(std::nullopt), std::nullopt);
}

TEST_F(Languages, PrimaryAndTraditional) {
    EXPECT_EQ(primaryLanguage(s("pt-BR")), s("pt"));
    EXPECT_EQ(primaryLanguage(s("zh-Hant")), s("zh"));
    EXPECT_EQ(primaryLanguage(s("pob")), s("pt"));
    EXPECT_EQ(primaryLanguage(s("English")), s("en"));
    EXPECT_EQ(primaryLanguage(s("xx")), std::nullopt);
    for (const char* yes : {"zh-Hant", "zht", "zh-TW", "zh_HK", "zh-MO", "Chinese (Traditional)"})
        EXPECT_TRUE(isTraditionalChinese(s(yes))) << yes;
    for (const char* no : {"zh", "zh-Hans", "zh-CN", "ja", "", "mo"})
        EXPECT_FALSE(isTraditionalChinese(s(no))) << no;
}

TEST_F(Languages, DisplayNames) {
    EXPECT_EQ(languageDisplayName(s("en")), QStringLiteral("English"));
    EXPECT_EQ(languageDisplayName(s("pob")), QStringLiteral("Portuguese (Brazil)"));
    EXPECT_EQ(languageDisplayName(s("n/a")), QStringLiteral("Unknown Language"));
    EXPECT_EQ(languageDisplayName(std::nullopt), QStringLiteral("Unknown Language"));
    // In the user's locale, first letter upper-cased.
    EXPECT_EQ(languageDisplayName(s("en"), QStringLiteral("de")), QStringLiteral("Englisch"));
    EXPECT_EQ(languageDisplayName(s("de"), QStringLiteral("fr")), QStringLiteral("Allemand"));
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("es"), status);
    EXPECT_EQ(languageDisplayName(s("en")), QStringLiteral("Inglés"));
}

TEST_F(Languages, SubtitleFonts) {
    EXPECT_EQ(subtitleFont(s("zh-TW")), s("Noto Sans CJK TC"));
    EXPECT_EQ(subtitleFont(s("zht")), s("Noto Sans CJK TC"));
    EXPECT_EQ(subtitleFont(s("zh")), s("Noto Sans CJK SC"));
    EXPECT_EQ(subtitleFont(s("zh-Hans")), s("Noto Sans CJK SC"));
    EXPECT_EQ(subtitleFont(s("ja")), s("Noto Sans CJK JP"));
    EXPECT_EQ(subtitleFont(s("ko")), std::nullopt);
    EXPECT_EQ(subtitleFont(std::nullopt), std::nullopt);
}

TEST_F(Languages, PreferredLanguages) {
    EXPECT_EQ(preferredLanguages(
                  s("pob"), {QStringLiteral("en-US"), QStringLiteral("pt-PT"), QStringLiteral("xx"),
                             QStringLiteral("de_DE"), QStringLiteral("en")}),
              (QStringList{QStringLiteral("pt"), QStringLiteral("en"), QStringLiteral("de")}));
    EXPECT_EQ(preferredLanguages(std::nullopt, {QStringLiteral("fr-CA")}),
              QStringList{QStringLiteral("fr")});
    EXPECT_TRUE(preferredLanguages(std::nullopt, {}).isEmpty());
}
