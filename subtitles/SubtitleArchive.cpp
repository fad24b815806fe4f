#include "subtitles/SubtitleArchive.h"

#include <zlib.h>
#include <QList>
#include <algorithm>

namespace rillow::SubtitleTranscoder {
namespace {

// Bounds-checked little-endian reads: nothing when the field is not wholly inside the data.
std::optional<quint32> le16(QByteArrayView d, qint64 at) {
    if (at < 0 || at + 2 > d.size()) return std::nullopt;
    return quint32(quint8(d[at])) | quint32(quint8(d[at + 1])) << 8;
}
std::optional<quint32> le32(QByteArrayView d, qint64 at) {
    if (at < 0 || at + 4 > d.size()) return std::nullopt;
    return quint32(quint8(d[at])) | quint32(quint8(d[at + 1])) << 8 |
           quint32(quint8(d[at + 2])) << 16 | quint32(quint8(d[at + 3])) << 24;
}
bool startsWith(QByteArrayView d, qint64 at, const char (&sig)[5]) {
    if (at < 0 || at + 4 > d.size()) return false;
    return d.sliced(at, 4) == QByteArrayView(sig, 4);
}

bool isGzip(QByteArrayView d) {
    return d.size() >= 19 && quint8(d[0]) == 0x1F && quint8(d[1]) == 0x8B;
}

QString lastPathComponent(const QString& path) {
    QString p = path;
    while (p.endsWith(u'/')) p.chop(1);
    return p.mid(p.lastIndexOf(u'/') + 1);
}

// One central-directory header, as far as the checks below need it.
struct CentralHeader {
    quint32 flags = 0;
    quint32 method = 0;
    qint64 compressedSize = 0;
    QByteArray rawName;
    qint64 local = 0;
};

}  // namespace

std::optional<int> extensionRank(const QString& name) {
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= slash) return std::nullopt;
    static const char* const order[] = {"srt", "ass", "ssa", "vtt", "sub", "smi", "txt"};
    const QString ext = name.mid(dot + 1).toLower();
    for (int i = 0; i < 7; ++i)
        if (ext == QLatin1String(order[i])) return i;
    return std::nullopt;
}

Outcome<QByteArray> inflateRaw(QByteArrayView data, qsizetype cap) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return Failure::corruptArchive;
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};

    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    QByteArray out;
    constexpr qsizetype kChunk = 256 * 1024;
    for (;;) {
        const qsizetype produced = out.size();
        if (produced > cap) return Failure::tooLarge;
        // Room for one byte beyond the cap, so that exceeding it is seen.
        const qsizetype room = std::min(kChunk, cap + 1 - produced);
        out.resize(produced + room);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        z.avail_out = uInt(room);
        const int ret = inflate(&z, Z_NO_FLUSH);
        out.resize(produced + (room - qsizetype(z.avail_out)));
        if (ret == Z_STREAM_END) break;
        if (ret == Z_OK) continue;
        if (ret == Z_BUF_ERROR && z.avail_out == 0) continue;
        return Failure::corruptArchive;  // data error, or input ended before the stream did
    }
    if (out.size() > cap) return Failure::tooLarge;
    return out;
}

Outcome<QByteArray> gunzip(QByteArrayView d) {
    if (d.size() < 18 || quint8(d[0]) != 0x1F || quint8(d[1]) != 0x8B)
        return Failure::corruptArchive;
    if (quint8(d[2]) != 8) return Failure::corruptArchive;
    const quint8 flags = quint8(d[3]);
    qint64 pos = 10;
    if (flags & 0x04) {
        const auto extra = le16(d, 10);
        if (!extra) return Failure::corruptArchive;
        pos = 12 + qint64(*extra);
    }
    for (const quint8 flag : {quint8(0x08), quint8(0x10)}) {
        if (!(flags & flag)) continue;
        if (pos >= d.size()) return Failure::corruptArchive;
        const qsizetype zero = d.indexOf('\0', pos);
        if (zero < 0) return Failure::corruptArchive;
        pos = zero + 1;
    }
    if (flags & 0x02) pos += 2;
    const qint64 streamEnd = d.size() - 8;
    if (pos >= streamEnd) return Failure::corruptArchive;
    return inflateRaw(d.sliced(pos, streamEnd - pos));
}

Outcome<Unpacked> unzip(QByteArrayView d) {
    const qint64 n = d.size();
    if (n < 22) return Failure::corruptArchive;
    qint64 eocd = -1;
    for (qint64 at = n - 22, stop = std::max<qint64>(0, n - 65557); at >= stop; --at) {
        if (startsWith(d, at, "PK\x05\x06")) {
            eocd = at;
            break;
        }
    }
    if (eocd < 0) return Failure::corruptArchive;
    const auto count = le16(d, eocd + 10);
    const auto cdOffset = le32(d, eocd + 16);
    if (!count || !cdOffset) return Failure::corruptArchive;

    QList<CentralHeader> headers;
    qint64 pos = *cdOffset;
    for (quint32 i = 0; i < *count; ++i) {
        if (pos < 0 || pos + 46 > n || !startsWith(d, pos, "PK\x01\x02"))
            return Failure::corruptArchive;
        const quint32 nameLength = *le16(d, pos + 28);
        if (pos + 46 + nameLength > n) return Failure::corruptArchive;
        CentralHeader h;
        h.flags = *le16(d, pos + 8);
        h.method = *le16(d, pos + 10);
        h.compressedSize = *le32(d, pos + 20);
        h.local = *le32(d, pos + 42);
        h.rawName = d.sliced(pos + 46, nameLength).toByteArray();
        headers.append(h);
        pos += 46 + qint64(nameLength) + *le16(d, pos + 30) + *le16(d, pos + 32);
    }
    const qint64 cdEnd = pos;

    std::optional<qsizetype> chosen;
    std::optional<Entry> best;
    for (qsizetype i = 0; i < headers.size(); ++i) {
        const CentralHeader& h = headers[i];
        const QString name = QString::fromUtf8(h.rawName);
        if (h.flags & 0x1) continue;  // encrypted
        if (name.endsWith(u'/') || name.startsWith(u"__MACOSX")) continue;
        if (h.method != 0 && h.method != 8) continue;
        const auto rank = extensionRank(name);
        if (!rank) continue;
        Entry e{name, int(h.method), h.compressedSize, h.local, *rank};
        if (!best || e.rank < best->rank || (e.rank == best->rank && e.size > best->size)) {
            best = e;
            chosen = i;
        }
    }
    if (!best) return Failure::archiveWithoutSubtitle;

    const CentralHeader& central = headers[*chosen];
    const qint64 local = best->local;
    if (local + 30 > n || !startsWith(d, local, "PK\x03\x04")) return Failure::corruptArchive;
    const quint32 localFlags = *le16(d, local + 6);
    const quint32 localMethod = *le16(d, local + 8);
    const quint32 localCompressed = *le32(d, local + 18);
    const quint32 localNameLength = *le16(d, local + 26);
    const quint32 localExtraLength = *le16(d, local + 28);
    const qint64 dataStart = local + 30 + localNameLength + localExtraLength;
    const qint64 dataEnd = dataStart + best->size;
    if (dataEnd > n) return Failure::corruptArchive;
    // The local header must describe the same member as its central entry (sizes may be
    // deferred to a data descriptor, flag bit 3).
    if (localMethod != central.method || (localFlags & 0x1) != 0 ||
        d.sliced(local + 30, localNameLength) != QByteArrayView(central.rawName) ||
        (!(localFlags & 0x8) && localCompressed != central.compressedSize))
        return Failure::corruptArchive;
    // Members must not overlap one another or the central directory.
    for (qsizetype i = 0; i < headers.size(); ++i) {
        if (i == *chosen) continue;
        const CentralHeader& h = headers[i];
        const qint64 otherStart = h.local;
        const qint64 otherEnd = h.local + 30 + h.rawName.size() + h.compressedSize;
        if (otherStart < dataEnd && local < otherEnd) return Failure::corruptArchive;
    }
    if (qint64(*cdOffset) < dataEnd && local < cdEnd) return Failure::corruptArchive;

    const QByteArrayView raw = d.sliced(dataStart, best->size);
    Unpacked out;
    out.memberName = lastPathComponent(best->name);
    if (best->method == 8) {
        auto inflated = inflateRaw(raw);
        if (auto* f = std::get_if<Failure>(&inflated)) return *f;
        out.payload = std::get<QByteArray>(std::move(inflated));
    } else {
        out.payload = raw.toByteArray();
    }
    return out;
}

Outcome<Unpacked> unpack(QByteArrayView d) {
    if (isGzip(d)) {
        auto inflated = gunzip(d);
        if (auto* f = std::get_if<Failure>(&inflated)) return *f;
        return Unpacked{std::get<QByteArray>(std::move(inflated)), std::nullopt};
    }
    if (d.size() > 22 && startsWith(d, 0, "PK\x03\x04")) {
        auto member = unzip(d);
        if (auto* f = std::get_if<Failure>(&member)) return *f;
        Unpacked out = std::get<Unpacked>(std::move(member));
        if (isGzip(out.payload)) {
            auto inner = gunzip(out.payload);
            if (auto* f = std::get_if<Failure>(&inner))
                return *f == Failure::tooLarge ? Failure::tooLarge : Failure::corruptArchive;
            out.payload = std::get<QByteArray>(std::move(inner));
        }
        return out;
    }
    return Unpacked{d.toByteArray(), std::nullopt};
}

}  // namespace rillow::SubtitleTranscoder
