#include "engine/FileInfo.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <memory>

namespace rillow {

namespace {

const QSet<QString>& playableExtensions() {
    static const QSet<QString> set = {
        // video
        QStringLiteral("mp4"), QStringLiteral("mkv"), QStringLiteral("avi"), QStringLiteral("mov"),
        QStringLiteral("m4v"), QStringLiteral("webm"), QStringLiteral("flv"), QStringLiteral("wmv"),
        QStringLiteral("mpg"), QStringLiteral("mpeg"), QStringLiteral("ts"), QStringLiteral("m2ts"),
        QStringLiteral("vob"), QStringLiteral("ogv"), QStringLiteral("3gp"),
        // audio
        QStringLiteral("mp3"), QStringLiteral("flac"), QStringLiteral("m4a"), QStringLiteral("aac"),
        QStringLiteral("wav"), QStringLiteral("ogg"), QStringLiteral("oga"), QStringLiteral("opus"),
        QStringLiteral("wma"), QStringLiteral("aiff"), QStringLiteral("alac")};
    return set;
}

// Collators are not safe to share between threads; each thread builds its own once.
icu::Collator* naturalCollator() {
    thread_local std::unique_ptr<icu::Collator> collator = [] {
        // Without a locale (LANG=C) ICU falls back to en_US_POSIX, whose collation is plain code
        // point order; the root collation is what a user without a locale expects.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::strcmp(locale.getVariant(), "POSIX") == 0) locale = icu::Locale::getRoot();
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !c) {
            status = U_ZERO_ERROR;
            c.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (c) {
            status = U_ZERO_ERROR;
            c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
            c->setStrength(icu::Collator::SECONDARY);  // case-insensitive, accents count
        }
        return c;
    }();
    return collator.get();
}

icu::UnicodeString toIcu(const QString& text) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.utf16()),
                              static_cast<int32_t>(text.size()));
}

}  // namespace

QString lowerCaseExtension(const QString& path) {
    const QString last = path.section(QLatin1Char('/'), -1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return {};
    return last.mid(dot + 1).toLower();
}

bool isPlayableExtension(const QString& extension) {
    return playableExtensions().contains(extension);
}

int naturalCompare(const QString& a, const QString& b) {
    icu::Collator* collator = naturalCollator();
    if (!collator) return QString::compare(a, b, Qt::CaseInsensitive);
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compare(toIcu(a), toIcu(b), status);
    if (U_FAILURE(status)) return QString::compare(a, b, Qt::CaseInsensitive);
    return static_cast<int>(result);
}

void sortByPathNaturally(QList<FileInfo>& files) {
    std::stable_sort(files.begin(), files.end(), [](const FileInfo& x, const FileInfo& y) {
        return naturalCompare(x.path, y.path) < 0;
    });
}

}  // namespace rillow
