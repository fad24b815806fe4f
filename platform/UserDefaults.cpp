#include "platform/UserDefaults.h"

#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <memory>

namespace rillow {

namespace {

// Data values are stored as {"data": base64} so they stay apart from texts.
const QString kDataKey = QStringLiteral("data");

QString standardPath() {
    const auto folder = configurationFolder();
    if (!folder) return {};
    return joinPath(joinPath(*folder, QStringLiteral("Rillow")), QStringLiteral("defaults.json"));
}

std::mutex standardMutex;
std::unique_ptr<UserDefaults>& standardInstance() {
    static std::unique_ptr<UserDefaults> instance;
    return instance;
}

}  // namespace

UserDefaults& UserDefaults::standard() {
    std::lock_guard lock(standardMutex);
    auto& instance = standardInstance();
    if (!instance) instance = std::make_unique<UserDefaults>(standardPath());
    return *instance;
}

void UserDefaults::reloadStandard() {
    std::lock_guard lock(standardMutex);
    auto& instance = standardInstance();
    if (!instance) {
        instance = std::make_unique<UserDefaults>(standardPath());
        return;
    }
    // Keep the object (callers may hold references); swap in the new location and content.
    std::lock_guard inner(instance->mutex_);
    instance->path_ = standardPath();
    instance->values_ = {};
    instance->load();
}

UserDefaults::UserDefaults(QString path) : path_(std::move(path)) {
    std::lock_guard lock(mutex_);
    load();
}

void UserDefaults::load() {
    if (path_.isEmpty()) return;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (document.isObject()) values_ = document.object();
}

void UserDefaults::store(const QString& key, const QJsonValue& value) {
    std::lock_guard lock(mutex_);
    if (value.isUndefined())
        values_.remove(key);
    else
        values_.insert(key, value);
    if (path_.isEmpty()) return;
    makeFolders(QFileInfo(path_).absolutePath());
    const QByteArray bytes = QJsonDocument(values_).toJson(QJsonDocument::Compact);
    if (writeFileAtomically(path_, bytes) != AtomicWriteError::none)
        log(QStringLiteral("could not write the settings file %1").arg(path_));
}

bool UserDefaults::contains(const QString& key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

std::optional<QString> UserDefaults::string(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QJsonValue value = values_.value(key);
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

std::optional<double> UserDefaults::number(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QJsonValue value = values_.value(key);
    if (!value.isDouble()) return std::nullopt;
    return value.toDouble();
}

std::optional<qint64> UserDefaults::integer(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QJsonValue value = values_.value(key);
    if (!value.isDouble()) return std::nullopt;
    return static_cast<qint64>(value.toDouble());
}

std::optional<bool> UserDefaults::boolean(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QJsonValue value = values_.value(key);
    if (!value.isBool()) return std::nullopt;
    return value.toBool();
}

std::optional<QStringList> UserDefaults::stringList(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QJsonValue value = values_.value(key);
    if (!value.isArray()) return std::nullopt;
    QStringList list;
    for (const QJsonValue& element : value.toArray()) {
        if (!element.isString()) return std::nullopt;
        list.append(element.toString());
    }
    return list;
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QJsonValue value = values_.value(key);
    if (!value.isObject() || !value.toObject().value(kDataKey).isString()) return std::nullopt;
    return QByteArray::fromBase64(value.toObject().value(kDataKey).toString().toLatin1());
}

void UserDefaults::setString(const QString& key, const QString& value) {
    store(key, value);
}
void UserDefaults::setNumber(const QString& key, double value) {
    store(key, value);
}
void UserDefaults::setInteger(const QString& key, qint64 value) {
    store(key, value);
}
void UserDefaults::setBoolean(const QString& key, bool value) {
    store(key, value);
}
void UserDefaults::setStringList(const QString& key, const QStringList& value) {
    store(key, QJsonArray::fromStringList(value));
}
void UserDefaults::setData(const QString& key, const QByteArray& value) {
    store(key, QJsonObject{{kDataKey, QString::fromLatin1(value.toBase64())}});
}
void UserDefaults::remove(const QString& key) {
    store(key, QJsonValue(QJsonValue::Undefined));
}

}  // namespace rillow
