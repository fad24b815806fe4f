#include "subtitles/SubtitleStore.h"

#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"
#include "subtitles/Languages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace rillow {
namespace {

constexpr int kMaxNameCounter = 100'000;

QString defaultRoot() {
    if (auto support = applicationSupportFolder(); support && !support->isEmpty())
        return joinPath(joinPath(*support, QStringLiteral("Rillow")), QStringLiteral("Subtitles"));
    return joinPath(temporaryFolder(), QStringLiteral("Subtitles"));
}

std::optional<QString> folderName(const QString& scope) {
    const QString lower = scope.toLower();
    if (lower.isEmpty() || lower.size() > 80) return std::nullopt;
    for (QChar c : lower) {
        const char16_t u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-')) return std::nullopt;
    }
    return lower;
}

QString asciiTag(const QString& text) {
    QString out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-')
            out += c;
    }
    return out;
}

QString standardized(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Never follows a symbolic link out of the cache: a link is removed, not its target.
void removeFolder(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink())
        QFile::remove(path);
    else if (info.isDir())
        QDir(path).removeRecursively();
}

std::optional<StoredSubtitle> decodeEntry(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue index = o.value(QLatin1String("fileIndex"));
    const QJsonValue id = o.value(QLatin1String("candidateID"));
    const QJsonValue title = o.value(QLatin1String("title"));
    const QJsonValue file = o.value(QLatin1String("fileName"));
    const QJsonValue language = o.value(QLatin1String("language"));
    if (!index.isDouble() || !id.isString() || !title.isString() || !file.isString())
        return std::nullopt;
    const double n = index.toDouble();
    if (n != double(qint64(n)) || n < INT_MIN || n > INT_MAX) return std::nullopt;
    if (!language.isUndefined() && !language.isNull() && !language.isString()) return std::nullopt;
    StoredSubtitle s;
    s.fileIndex = int(n);
    s.candidateID = id.toString();
    if (language.isString()) s.language = language.toString();
    s.title = title.toString();
    s.fileName = file.toString();
    return s;
}

QByteArray encodeIndex(const QList<StoredSubtitle>& list) {
    QJsonArray array;
    for (const StoredSubtitle& s : list) {
        QJsonObject o;
        o.insert(QLatin1String("fileIndex"), s.fileIndex);
        o.insert(QLatin1String("candidateID"), s.candidateID);
        if (s.language) o.insert(QLatin1String("language"), *s.language);
        o.insert(QLatin1String("title"), s.title);
        o.insert(QLatin1String("fileName"), s.fileName);
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

}  // namespace

SubtitleStore::SubtitleStore(std::optional<QString> root) : root_(root ? *root : defaultRoot()) {
    makeFolders(root_);
}

std::optional<QString> SubtitleStore::directory(const QString& scope) const {
    const auto name = folderName(scope);
    if (!name) return std::nullopt;
    return joinPath(root_, *name);
}

int SubtitleStore::generation(const QString& scope) const {
    return generations_.value(scope.toLower(), 0);
}

QList<StoredSubtitle> SubtitleStore::readIndex(const QString& folder) const {
    QFile file(joinPath(folder, QStringLiteral("index.json")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) return {};
    QList<StoredSubtitle> out;
    for (const QJsonValue& v : doc.array()) {
        auto s = decodeEntry(v);
        if (!s) return {};  // one bad entry makes the whole index undecodable
        out.append(*s);
    }
    return out;
}

QList<StoredSubtitle> SubtitleStore::entries(const QString& scope, int fileIndex) const {
    const auto folder = directory(scope);
    if (!folder) return {};
    QList<StoredSubtitle> out;
    for (const StoredSubtitle& s : readIndex(*folder))
        if (s.fileIndex == fileIndex) out.append(s);
    return out;
}

std::optional<StoredSubtitle> SubtitleStore::entry(const QString& path,
                                                   const QString& scope) const {
    const auto folder = directory(scope);
    if (!folder) return std::nullopt;
    const QString wanted = standardized(path);
    for (const StoredSubtitle& s : readIndex(*folder))
        if (standardized(joinPath(*folder, s.fileName)) == wanted) return s;
    return std::nullopt;
}

std::optional<QString> SubtitleStore::save(const SubtitleText& subtitle, const QString& candidateID,
                                           const std::optional<QString>& language,
                                           const QString& title, const QString& scope,
                                           int fileIndex, int generation) {
    if (generation != this->generation(scope)) return std::nullopt;
    const auto folder = directory(scope);
    if (!folder) return std::nullopt;
    for (const StoredSubtitle& s : entries(scope, fileIndex)) {
        const QString existing = joinPath(*folder, s.fileName);
        if (s.candidateID == candidateID && QFileInfo::exists(existing)) return existing;
    }
    if (!makeFolders(*folder)) return std::nullopt;

    QString tag = asciiTag(normalizedLanguage(language).value_or(QStringLiteral("und")));
    if (tag.isEmpty()) tag = QStringLiteral("und");
    QString extension = asciiTag(subtitle.format).remove(u'-').toLower();
    if (extension.isEmpty()) extension = QStringLiteral("srt");
    const QString stem = QString::number(fileIndex) + u'.' + tag;
    QString fileName;
    for (int counter = 1; counter <= kMaxNameCounter; ++counter) {
        const QString candidate = counter == 1
                                      ? stem + u'.' + extension
                                      : stem + u'.' + QString::number(counter) + u'.' + extension;
        if (!QFileInfo::exists(joinPath(*folder, candidate))) {
            fileName = candidate;
            break;
        }
    }
    if (fileName.isEmpty()) return std::nullopt;
    const QString path = joinPath(*folder, fileName);
    if (writeFileAtomically(path, subtitle.text.toUtf8()) != AtomicWriteError::none)
        return std::nullopt;

    QList<StoredSubtitle> all = readIndex(*folder);
    all.removeIf([&](const StoredSubtitle& s) {
        return s.fileIndex == fileIndex && s.candidateID == candidateID;
    });
    all.append(StoredSubtitle{fileIndex, candidateID, language, title, fileName});
    writeFileAtomically(joinPath(*folder, QStringLiteral("index.json")), encodeIndex(all));
    return path;
}

void SubtitleStore::touch(const QString& scope) {
    const auto folder = directory(scope);
    if (!folder || !QFileInfo(*folder).isDir()) return;
    ::utimensat(AT_FDCWD, QFile::encodeName(*folder).constData(), nullptr, 0);
}

void SubtitleStore::invalidate(const QString& scope) {
    const QString key = scope.toLower();
    generations_[key] = generations_.value(key, 0) + 1;
    if (const auto folder = directory(scope)) removeFolder(*folder);
}

void SubtitleStore::prune(const QSet<QString>& keep) {
    QSet<QString> kept;
    for (const QString& k : keep) kept.insert(k.toLower());
    const QDir root(root_);
    if (!root.exists()) return;
    const QFileInfoList list =
        root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-kLocalScopeLifetimeSeconds);
    for (const QFileInfo& info : list) {
        if (!info.isDir() || info.isSymLink()) continue;
        const QString name = info.fileName();
        if (name.startsWith(u"local-")) {
            const QDateTime modified = info.lastModified();
            if (modified.isValid() && modified < cutoff) removeFolder(info.absoluteFilePath());
        } else if (!kept.contains(name.toLower())) {
            removeFolder(info.absoluteFilePath());
        }
    }
}

}  // namespace rillow
