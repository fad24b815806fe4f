#pragma once
// Unpacking of downloaded subtitles: gzip members and ZIP archives, read by our own header
// readers (every offset and length is checked against the data before use) and inflated as raw
// DEFLATE through zlib with the output capped. Pure functions; any thread; never block.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <variant>

namespace rillow::SubtitleTranscoder {

enum class Failure {
    empty,                   // no bytes, nothing after unpacking, or only white space
    tooLarge,                // more than `kMaxInputBytes` in, or inflates past `kMaxInflatedBytes`
    notSubtitle,             // an HTML page
    archiveWithoutSubtitle,  // a ZIP archive without a usable subtitle member
    corruptArchive,          // a gzip or ZIP container that cannot be read or inflated
};

template <class T>
using Outcome = std::variant<T, Failure>;

// 24 MiB, the largest download accepted.
inline constexpr qsizetype kMaxInputBytes = 25'165'824;
// A small archive can inflate to gigabytes; no subtitle needs more than this.
inline constexpr qsizetype kMaxInflatedBytes = 25'165'824;

// One usable member of a ZIP archive.
struct Entry {
    QString name;      // path as stored, decoded as UTF-8 with invalid bytes replaced
    int method = 0;    // 0 stored, 8 deflate
    qint64 size = 0;   // compressed size from the central directory
    qint64 local = 0;  // offset of the member's local header
    int rank = 0;      // rank of its extension, lower is better
};

struct Unpacked {
    QByteArray payload;
    std::optional<QString> memberName;  // last path component of the ZIP member taken
};

// Raw DEFLATE (RFC 1951), at most `cap` bytes out (more is `tooLarge`); a broken or truncated
// stream is `corruptArchive`.
Outcome<QByteArray> inflateRaw(QByteArrayView data, qsizetype cap = kMaxInflatedBytes);
// One gzip member (RFC 1952); the trailer is not checked.
Outcome<QByteArray> gunzip(QByteArrayView data);
// The best subtitle member of a ZIP archive and its last path component.
Outcome<Unpacked> unzip(QByteArrayView data);
// gzip, ZIP (and gzip inside ZIP), or the data unchanged.
Outcome<Unpacked> unpack(QByteArrayView data);

// Rank of a member's extension ("srt" 0 ... "txt" 6), or nothing when it is no subtitle.
std::optional<int> extensionRank(const QString& name);

}  // namespace rillow::SubtitleTranscoder
