#include "platform/JsonStore.h"

#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

namespace rillow {

JsonStore::JsonStore(QString path) : path_(std::move(path)) {
    pendingFlush_.setSingleShot(true);
    pendingFlush_.setTimerType(Qt::PreciseTimer);
    pendingFlush_.setInterval(kFlushDelayMs);
    QObject::connect(&pendingFlush_, &QTimer::timeout, [this] { flushNow(); });
}

JsonStore::~JsonStore() = default;

void JsonStore::scheduleFlush() {
    // The first change of a burst starts the clock; later ones ride along.
    if (!pendingFlush_.isActive()) pendingFlush_.start();
}

void JsonStore::flushNow() {
    pendingFlush_.stop();
    makeFolders(QFileInfo(path_).absolutePath());
    writeFileAtomically(path_, encode());  // errors ignored: the next change tries again
}

std::optional<QJsonDocument> JsonStore::loadDocument() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    return document;
}

}  // namespace rillow
