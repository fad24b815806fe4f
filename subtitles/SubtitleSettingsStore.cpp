#include "subtitles/SubtitleSettingsStore.h"

#include "platform/UserDefaults.h"

namespace rillow {

namespace {

UserDefaults& defaults() {
    return UserDefaults::standard();
}

}  // namespace

SubtitleSettingsStore::SubtitleSettingsStore(QObject* parent) : QObject(parent) {
    addonBaseURL_ = defaults().string(baseURLKey);
    addonName_ = defaults().string(nameKey);
    autoSelect_ = defaults().boolean(autoSelectKey).value_or(true);
}

void SubtitleSettingsStore::setAddon(const QString& baseURL, const QString& name) {
    defaults().setString(baseURLKey, baseURL);
    defaults().setString(nameKey, name);
    assignAddon(baseURL, name);
}

void SubtitleSettingsStore::clearAddon() {
    defaults().remove(baseURLKey);
    defaults().remove(nameKey);
    assignAddon(std::nullopt, std::nullopt);
}

void SubtitleSettingsStore::assignAddon(std::optional<QString> baseURL,
                                        std::optional<QString> name) {
    // Both fields are in place before anyone hears of either change.
    const bool urlChanged = addonBaseURL_ != baseURL;
    const bool nameChanged = addonName_ != name;
    addonBaseURL_ = std::move(baseURL);
    addonName_ = std::move(name);
    if (urlChanged) Q_EMIT addonBaseURLChanged();
    if (nameChanged) Q_EMIT addonNameChanged();
    if ((urlChanged || nameChanged) && onChange) onChange();
}

void SubtitleSettingsStore::setAutoSelect(bool value) {
    defaults().setBoolean(autoSelectKey, value);
    if (autoSelect_ == value) return;
    autoSelect_ = value;
    Q_EMIT autoSelectChanged();
    if (onChange) onChange();
}

}  // namespace rillow
