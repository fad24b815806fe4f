#pragma once
// Base of every JSON state store: load once, delayed atomic writes.
//
// Main thread only. A subclass loads its content in its constructor through `loadDocument()`
// (a missing or undecodable file gives nothing: the store starts empty), calls `scheduleFlush()`
// after each change, and implements `encode()`. The first change of a burst schedules one write
// `kFlushDelayMs` later; `flushNow()` cancels a pending write and writes at once. Write errors
// are ignored: the next change tries again.

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QTimer>
#include <optional>

namespace rillow {

class JsonStore {
public:
    static constexpr int kFlushDelayMs = 3000;

    explicit JsonStore(QString path);
    virtual ~JsonStore();
    JsonStore(const JsonStore&) = delete;
    JsonStore& operator=(const JsonStore&) = delete;

    const QString& url() const { return path_; }
    bool hasPendingFlush() const { return pendingFlush_.isActive(); }

    void scheduleFlush();
    void flushNow();

protected:
    // The file parsed as JSON, or nothing when it is missing or undecodable.
    std::optional<QJsonDocument> loadDocument() const;
    virtual QByteArray encode() const = 0;

private:
    QString path_;
    QTimer pendingFlush_;
};

}  // namespace rillow
