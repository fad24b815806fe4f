#pragma once
// Per-user key-value settings: texts, numbers, booleans, lists of texts and data values.
//
// Any thread: every member takes `mutex_`. Setters write the whole file at once, atomically, on
// the calling thread (the file is small and settings change rarely); a write error is logged
// and ignored, and the next change tries again. The file is "<configuration folder>/Rillow/
// defaults.json"; without a configuration folder the values live in memory only.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

namespace rillow {

class UserDefaults {
public:
    // The process-wide store, located and loaded on first use.
    static UserDefaults& standard();

    // A store over an explicit file (tests, tools). An empty path keeps values in memory only.
    explicit UserDefaults(QString path);

    bool contains(const QString& key) const;
    // Each getter gives nothing when the key is absent or holds another type.
    std::optional<QString> string(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<QStringList> stringList(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;

    void setString(const QString& key, const QString& value);
    void setNumber(const QString& key, double value);
    void setInteger(const QString& key, qint64 value);
    void setBoolean(const QString& key, bool value);
    void setStringList(const QString& key, const QStringList& value);
    void setData(const QString& key, const QByteArray& value);
    void remove(const QString& key);

    QString path() const { return path_; }

    // Re-locates and reloads the standard store from the current environment (test homes).
    static void reloadStandard();

private:
    void load();
    void store(const QString& key, const QJsonValue& value);

    QString path_;
    // Guarded by mutex_.
    mutable std::mutex mutex_;
    QJsonObject values_;
};

}  // namespace rillow
