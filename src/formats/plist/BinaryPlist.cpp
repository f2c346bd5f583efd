#include "formats/plist/BinaryPlist.h"

#include "platform/PropertyList.h"

#include <QVariantList>
#include <QVariantMap>

namespace {
constexpr quint64 kHeaderSize = 8; // "bplist00"
constexpr quint64 kTrailerSize = 32;

quint64 readBigEndian(const uchar* bytes, unsigned width)
{
    quint64 value = 0;
    for (unsigned i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

/// UTF-16 units whose handling is left to the general reader: surrogates, the byte-order mark and the
/// non-characters.
bool isUnusualUnit(quint16 unit)
{
    return (unit >= 0xD800 && unit <= 0xDFFF) || unit == 0xFEFF || (unit >= 0xFDD0 && unit <= 0xFDEF) ||
           unit >= 0xFFFE;
}
} // namespace

std::optional<BinaryPlist> BinaryPlist::open(QByteArray bytes)
{
    BinaryPlist plist;
    plist.m_bytes = std::move(bytes);
    if (!plist.validate())
        return std::nullopt;
    return plist;
}

quint64 BinaryPlist::offset(Object object) const
{
    return readBigEndian(m_data + m_tableOffset + object * m_offsetSize, m_offsetSize);
}

uchar BinaryPlist::marker(Object object) const
{
    return m_data[offset(object)];
}

BinaryPlist::Object BinaryPlist::reference(quint64 at) const
{
    return readBigEndian(m_data + at, m_refSize);
}

BinaryPlist::Extent BinaryPlist::extent(Object object) const
{
    // Only called on validated objects: the count's encoding is known to be sound.
    const quint64 at = offset(object);
    const uchar info = m_data[at] & 0x0F;
    if (info != 0x0F)
        return Extent{info, at + 1};
    const unsigned width = 1u << (m_data[at + 1] & 0x0F);
    return Extent{readBigEndian(m_data + at + 2, width), at + 2 + width};
}

bool BinaryPlist::validate()
{
    const quint64 size = quint64(m_bytes.size());
    if (size < kHeaderSize + kTrailerSize || size > 0x7fffffff || !m_bytes.startsWith("bplist00"))
        return false;
    m_data = reinterpret_cast<const uchar*>(m_bytes.constData());
    const uchar* trailer = m_data + size - kTrailerSize;
    m_offsetSize = trailer[6];
    m_refSize = trailer[7];
    m_objectCount = readBigEndian(trailer + 8, 8);
    m_top = readBigEndian(trailer + 16, 8);
    m_tableOffset = readBigEndian(trailer + 24, 8);
    const quint64 end = size - kTrailerSize;
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || m_objectCount == 0 ||
        m_top >= m_objectCount || m_tableOffset < kHeaderSize || m_tableOffset > end ||
        m_objectCount > (end - m_tableOffset) / m_offsetSize)
        return false;

    enum : uchar { Unseen, Seen };
    std::vector<uchar> state(m_objectCount, Unseen);
    struct Pending
    {
        Object object;
        int depth; // containers around it
        bool isKey;
    };
    std::vector<Pending> pending{{m_top, 0, false}};
    bool first = true;
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        const quint64 at = offset(next.object);
        // Objects lie between the header and the offset table.
        if (at < kHeaderSize || at >= m_tableOffset)
            return false;
        const uchar byte = m_data[at];
        const unsigned type = byte >> 4;
        const bool container = type == 0xA || type == 0xD;
        if (first && type != 0xD)
            return false;
        first = false;
        if (next.isKey && type != 0x5 && type != 0x6)
            return false;
        if (state[next.object] == Seen) {
            // Shared text and numbers are common; a container reached twice is left to the general reader.
            if (container)
                return false;
            continue;
        }
        state[next.object] = Seen;

        quint64 count = byte & 0x0F;
        quint64 payload = at + 1;
        quint64 unit = 0;
        switch (type) {
        case 0x0:
            if (byte != 0x08 && byte != 0x09)
                return false;
            continue;
        case 0x1:
            if (count > 3 || at + 1 + (1u << count) > m_tableOffset)
                return false;
            continue;
        case 0x2:
        case 0x3: {
            const quint64 width = type == 0x2 && count == 2 ? 4 : 8;
            if ((count != 3 && !(type == 0x2 && count == 2)) || at + 1 + width > m_tableOffset)
                return false;
            const auto decoded = decodeAlone(next.object);
            if (!decoded)
                return false;
            m_decoded.insert(next.object, *decoded);
            continue;
        }
        case 0x4:
        case 0x5:
            unit = 1;
            break;
        case 0x6:
            unit = 2;
            break;
        case 0xA:
            unit = m_refSize;
            break;
        case 0xD:
            unit = 2 * quint64(m_refSize);
            break;
        default:
            return false;
        }
        if (count == 0x0F) {
            if (payload >= m_tableOffset || (m_data[payload] >> 4) != 0x1 || (m_data[payload] & 0x0F) > 3)
                return false;
            const unsigned width = 1u << (m_data[payload] & 0x0F);
            if (m_tableOffset - payload - 1 < width)
                return false;
            count = readBigEndian(m_data + payload + 1, width);
            payload += 1 + width;
        }
        if (count > (m_tableOffset - payload) / unit)
            return false;

        if (type == 0x4) {
            const auto decoded = decodeAlone(next.object);
            if (!decoded)
                return false;
            m_decoded.insert(next.object, *decoded);
        } else if (type == 0x5 || type == 0x6) {
            // The general reader refuses an empty string in two-byte form.
            if (type == 0x6 && count == 0)
                return false;
            bool plain = true;
            for (quint64 i = 0; i < count; ++i) {
                const quint16 character =
                    type == 0x5 ? m_data[payload + i] : quint16(readBigEndian(m_data + payload + 2 * i, 2));
                if (character == 0)
                    return false;
                if (character >= 0x80 && (next.isKey || type == 0x5 || isUnusualUnit(character)))
                    plain = false;
            }
            if (!plain) {
                // Keys are matched as ASCII; anything else is the general reader's.
                if (next.isKey)
                    return false;
                const auto decoded = decodeAlone(next.object);
                if (!decoded)
                    return false;
                m_decoded.insert(next.object, *decoded);
            }
        } else {
            if (next.depth + 1 >= quorvit::plist::kMaxNestingDepth - 1)
                return false;
            const quint64 refs = type == 0xD ? 2 * count : count;
            for (quint64 i = 0; i < refs; ++i) {
                const Object child = reference(payload + i * m_refSize);
                if (child >= m_objectCount)
                    return false;
                pending.push_back(Pending{child, next.depth + 1, type == 0xD && i < count});
            }
        }
    }
    return true;
}

std::optional<QVariant> BinaryPlist::decodeAlone(Object object) const
{
    // The object alone, as a list of its own: header, the object, a one-entry offset table, the trailer.
    const quint64 at = offset(object);
    quint64 length = 0;
    const unsigned type = m_data[at] >> 4;
    if (type == 0x2 || type == 0x3) {
        length = 1 + (type == 0x2 && (m_data[at] & 0x0F) == 2 ? 4 : 8);
    } else {
        const Extent text = extent(object);
        length = text.payload - at + text.count * (type == 0x6 ? 2 : 1);
    }
    QByteArray alone("bplist00");
    alone.append(reinterpret_cast<const char*>(m_data + at), qsizetype(length));
    alone.append(char(8)); // the offset table: the object starts at byte 8
    QByteArray trailer(int(kTrailerSize), '\0');
    trailer[6] = 1;  // offset size
    trailer[7] = 1;  // reference size
    trailer[15] = 1; // one object
    const quint64 table = kHeaderSize + length;
    for (int i = 0; i < 8; ++i)
        trailer[24 + i] = char(table >> (56 - 8 * i));
    // An offset of one byte cannot point past 255: the object stands right after the header anyway.
    alone.append(trailer);
    return quorvit::plist::fromData(alone);
}

bool BinaryPlist::isString(Object object) const
{
    const unsigned type = marker(object) >> 4;
    return type == 0x5 || type == 0x6;
}

bool BinaryPlist::keyEquals(Object key, QStringView text) const
{
    // Keys were checked to be ASCII, so units compare as characters.
    const Extent name = extent(key);
    if (name.count != quint64(text.size()))
        return false;
    const bool wide = marker(key) >> 4 == 0x6;
    for (quint64 i = 0; i < name.count; ++i) {
        const quint16 unit =
            wide ? quint16(readBigEndian(m_data + name.payload + 2 * i, 2)) : m_data[name.payload + i];
        if (unit != text[qsizetype(i)].unicode())
            return false;
    }
    return true;
}

std::optional<BinaryPlist::Object> BinaryPlist::value(Object dict, QStringView key) const
{
    if (!isDict(dict))
        return std::nullopt;
    const Extent entries = extent(dict);
    std::optional<Object> found;
    for (quint64 i = 0; i < entries.count; ++i) {
        if (keyEquals(reference(entries.payload + i * m_refSize), key))
            found = reference(entries.payload + (entries.count + i) * m_refSize);
    }
    return found;
}

QString BinaryPlist::string(Object object) const
{
    const unsigned type = marker(object) >> 4;
    if (type != 0x5 && type != 0x6)
        return QString();
    if (const auto decoded = m_decoded.constFind(object); decoded != m_decoded.constEnd())
        return decoded->toString();
    const Extent text = extent(object);
    if (text.count == 0)
        return QString::fromUtf8("");
    if (type == 0x5)
        return QString::fromLatin1(reinterpret_cast<const char*>(m_data + text.payload),
                                   qsizetype(text.count));
    QString out(qsizetype(text.count), Qt::Uninitialized);
    QChar* chars = out.data();
    for (quint64 i = 0; i < text.count; ++i)
        chars[i] = QChar(ushort(readBigEndian(m_data + text.payload + 2 * i, 2)));
    return out;
}

QVariant BinaryPlist::variant(Object object) const
{
    const uchar byte = marker(object);
    switch (byte >> 4) {
    case 0x0:
        return QVariant(byte == 0x09);
    case 0x1: {
        const unsigned width = 1u << (byte & 0x0F);
        return QVariant(qlonglong(readBigEndian(m_data + offset(object) + 1, width)));
    }
    case 0x5:
    case 0x6:
        return QVariant(string(object));
    case 0xA: {
        const Extent elements = extent(object);
        QVariantList list;
        list.reserve(qsizetype(elements.count));
        for (quint64 i = 0; i < elements.count; ++i)
            list.append(variant(reference(elements.payload + i * m_refSize)));
        return QVariant(list);
    }
    case 0xD: {
        const Extent entries = extent(object);
        QVariantMap map;
        for (quint64 i = 0; i < entries.count; ++i) {
            const Object key = reference(entries.payload + i * m_refSize);
            const Object value = reference(entries.payload + (entries.count + i) * m_refSize);
            map.insert(string(key), variant(value));
        }
        return QVariant(map);
    }
    default:
        return m_decoded.value(object);
    }
}
