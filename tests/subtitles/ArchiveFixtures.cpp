#include "tests/subtitles/ArchiveFixtures.h"

#include <zlib.h>

namespace rillow::test {
namespace {
void put16(QByteArray& b, quint32 v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void put32(QByteArray& b, quint32 v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
}  // namespace

QByteArray deflateRaw(const QByteArray& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray gzip(const QByteArray& data, const GzipOptions& o) {
    QByteArray b;
    b.append('\x1f');
    b.append('\x8b');
    b.append(char(o.method));
    quint8 flags = 0;
    if (o.headerCrc) flags |= 0x02;
    if (o.extra) flags |= 0x04;
    if (o.name) flags |= 0x08;
    if (o.comment) flags |= 0x10;
    b.append(char(flags));
    put32(b, 0);     // time
    b.append('\0');  // extra flags
    b.append('\3');  // OS: Unix
    if (o.extra) {
        put16(b, quint32(o.extra->size()));
        b.append(*o.extra);
    }
    if (o.name) b.append(*o.name).append('\0');
    if (o.comment) b.append(*o.comment).append('\0');
    if (o.headerCrc)
        put16(b, quint32(crc32(0, reinterpret_cast<const Bytef*>(b.constData()), uInt(b.size())) &
                         0xFFFF));
    b.append(deflateRaw(data));
    put32(b,
          quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()))));
    put32(b, quint32(data.size()));
    return b;
}

QByteArray zip(const QList<ZipMember>& members) {
    QByteArray body, central;
    for (const ZipMember& m : members) {
        const QByteArray stored = m.method == 8 ? deflateRaw(m.data) : m.data;
        const quint32 crc = quint32(
            crc32(0, reinterpret_cast<const Bytef*>(m.data.constData()), uInt(m.data.size())));
        const quint32 flags = m.encrypted ? 1 : 0;
        const quint32 local = quint32(body.size());
        const QByteArray localName = m.localName.value_or(m.name);
        body.append("PK\x03\x04", 4);
        put16(body, 20);
        put16(body, flags);
        put16(body, quint32(m.method));
        put32(body, 0);  // time, date
        put32(body, crc);
        put32(body, quint32(stored.size()));
        put32(body, quint32(m.data.size()));
        put16(body, quint32(localName.size()));
        put16(body, 0);
        body.append(localName);
        body.append(stored);

        central.append("PK\x01\x02", 4);
        put16(central, 20);
        put16(central, 20);
        put16(central, flags);
        put16(central, quint32(m.method));
        put32(central, 0);
        put32(central, crc);
        put32(central, quint32(stored.size()));
        put32(central, quint32(m.data.size()));
        put16(central, quint32(m.name.size()));
        put16(central, 0);  // extra
        put16(central, 0);  // comment
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, 0);  // external attributes
        put32(central, m.localOffset.value_or(local));
        central.append(m.name);
    }
    QByteArray out = body + central;
    out.append("PK\x05\x06", 4);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(members.size()));
    put16(out, quint32(members.size()));
    put32(out, quint32(central.size()));
    put32(out, quint32(body.size()));
    put16(out, 0);
    return out;
}

qsizetype centralDirectoryOffset(const QByteArray& archive) {
    return archive.indexOf(QByteArray("PK\x01\x02", 4));
}

}  // namespace rillow::test
