// SPDX-License-Identifier: GPL-3.0-or-later
// Books that no writer of ours makes, written byte by byte: stored members
// with any name, the same name twice, symbolic links. Shared by the tests of
// the readers (unzip32, the search window, kivbook).
#pragma once

#include <QByteArray>
#include <QList>
#include <QtEndian>

namespace handmade {

struct Entry {
    QByteArray name;
    QByteArray data; // for a link: its target
    bool link = false;
};

// CRC-32 as ZIP has it, bit by bit (zlib.h cannot be included beside
// zip32.h, which has a field named like one of its functions).
inline quint32 Crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline QByteArray StoredZip(const QList<Entry>& entries)
{
    auto u16 = [](QByteArray& out, quint16 v) {
        const quint16 little = qToLittleEndian(v);
        out.append(reinterpret_cast<const char*>(&little), 2);
    };
    auto u32 = [](QByteArray& out, quint32 v) {
        const quint32 little = qToLittleEndian(v);
        out.append(reinterpret_cast<const char*>(&little), 4);
    };
    QByteArray local, central;
    for (const Entry& e : entries) {
        const quint32 crc = Crc32(e.data);
        const auto offset = quint32(local.size());
        // Shared by both headers: version needed, flags, method (stored),
        // time, date (2001-03-15), CRC, both sizes, name length, extra length.
        QByteArray common;
        u16(common, 10);
        u16(common, 0);
        u16(common, 0);
        u16(common, 0);
        u16(common, ((2001 - 1980) << 9) | (3 << 5) | 15);
        u32(common, crc);
        u32(common, quint32(e.data.size()));
        u32(common, quint32(e.data.size()));
        u16(common, quint16(e.name.size()));
        u16(common, 0);
        local += QByteArray("PK\x03\x04", 4) + common + e.name + e.data;
        central += QByteArray("PK\x01\x02", 4);
        u16(central, (3 << 8) | 20); // made on Unix: the mode is in the attributes
        central += common;
        u16(central, 0); // comment length
        u16(central, 0); // disk
        u16(central, 0); // internal attributes
        u32(central, quint32(e.link ? 0120777 : 0100644) << 16);
        u32(central, offset);
        central += e.name;
    }
    QByteArray end("PK\x05\x06", 4);
    u16(end, 0);
    u16(end, 0);
    u16(end, quint16(entries.size()));
    u16(end, quint16(entries.size()));
    u32(end, quint32(central.size()));
    u32(end, quint32(local.size()));
    u16(end, 0);
    return local + central + end;
}

// A book of odd members among readable days (each of them `day`):
// 20010101.DAY and 20010104.DAY; "200101" ESC "[2J.DAY", a day whose name
// holds a control character; and the odd ones: a name with a folder part, a
// name of 600 bytes, a symbolic link, and an earlier 20010104.DAY (which is
// no day file; the later copy of a name is the one read).
inline QByteArray OddBook(const QByteArray& day)
{
    return StoredZip({ { "20010101.DAY", day }, { "../../20010102.DAY", day }, { QByteArray(596, 'A') + ".DAY", day },
        { "20010103.DAY", "/etc/passwd", true }, { "20010104.DAY", "no day file" }, { "20010104.DAY", day },
        { "200101\x1b[2J.DAY", day } });
}

} // namespace handmade
