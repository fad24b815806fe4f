#pragma once
// The user's subtitle addon and whether subtitles are chosen automatically, persisted in the
// user defaults under "subtitleAddonBaseURL", "subtitleAddonName" and "subtitleAutoSelect".
//
// Main thread only. An observable model: a property notifies only when its value changes, and
// `onChange` runs after every change that notified. The keys are read once, when the store is
// created; every setter writes its keys at once. Owned by the application model.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace rillow {

class SubtitleSettingsStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString addonBaseURL READ addonBaseURLText NOTIFY addonBaseURLChanged)
    Q_PROPERTY(QString addonName READ addonNameText NOTIFY addonNameChanged)
    Q_PROPERTY(bool hasAddon READ hasAddon NOTIFY addonBaseURLChanged)
    Q_PROPERTY(bool autoSelect READ autoSelect WRITE setAutoSelect NOTIFY autoSelectChanged)

public:
    static inline const QString baseURLKey = QStringLiteral("subtitleAddonBaseURL");
    static inline const QString nameKey = QStringLiteral("subtitleAddonName");
    static inline const QString autoSelectKey = QStringLiteral("subtitleAutoSelect");

    explicit SubtitleSettingsStore(QObject* parent = nullptr);

    std::function<void()> onChange;

    const std::optional<QString>& addonBaseURL() const { return addonBaseURL_; }
    const std::optional<QString>& addonName() const { return addonName_; }
    QString addonBaseURLText() const { return addonBaseURL_.value_or(QString()); }
    QString addonNameText() const { return addonName_.value_or(QString()); }
    bool hasAddon() const { return addonBaseURL_.has_value(); }
    // True unless the user turned it off (also when the key is missing or not a boolean).
    bool autoSelect() const { return autoSelect_; }

    // Sets both fields and writes both keys.
    void setAddon(const QString& baseURL, const QString& name);
    // Both fields absent, both keys removed.
    void clearAddon();
    void setAutoSelect(bool value);

Q_SIGNALS:
    void addonBaseURLChanged();
    void addonNameChanged();
    void autoSelectChanged();

private:
    void assignAddon(std::optional<QString> baseURL, std::optional<QString> name);

    std::optional<QString> addonBaseURL_;
    std::optional<QString> addonName_;
    bool autoSelect_ = true;
};

}  // namespace rillow
