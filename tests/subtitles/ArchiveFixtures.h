#pragma once
// Test-time archives: raw DEFLATE, gzip members with any header flags, and ZIP archives whose
// every field can be bent, all made with zlib. Any thread.
#include <QByteArray>
#include <QList>
#include <optional>

namespace rillow::test {

QByteArray deflateRaw(const QByteArray& data);

struct GzipOptions {
    std::optional<QByteArray> name;     // FNAME
    std::optional<QByteArray> extra;    // FEXTRA
    std::optional<QByteArray> comment;  // FCOMMENT
    bool headerCrc = false;             // FHCRC
    quint8 method = 8;
};
QByteArray gzip(const QByteArray& data, const GzipOptions& options = {});

struct ZipMember {
    QByteArray name;
    QByteArray data;
    int method = 8;                       // 0 stored, 8 deflate
    bool encrypted = false;               // only the flag; the data stays plain
    std::optional<QByteArray> localName;  // a local header that disagrees with the central one
    std::optional<quint32> localOffset;   // a central entry pointing elsewhere
};
QByteArray zip(const QList<ZipMember>& members);

// Offsets of the central directory and of its end record in an archive made by `zip`.
qsizetype centralDirectoryOffset(const QByteArray& archive);

}  // namespace rillow::test
