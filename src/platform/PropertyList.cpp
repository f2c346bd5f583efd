#include "platform/PropertyList.h"

#include "platform/AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace quorvit::plist {

namespace {
// Property-list dates count seconds from 2001-01-01 00:00 UTC.
constexpr qint64 kMacEpochOffsetSeconds = 978307200;

struct NodeDeleter
{
    void operator()(plist_t node) const { plist_free(node); }
};
using NodePtr = std::unique_ptr<void, NodeDeleter>;

bool isBinary(const QByteArray& data)
{
    return data.startsWith("bplist00");
}

bool refuse(QString* error, const char* reason)
{
    if (error)
        *error = QString::fromLatin1(reason);
    return false;
}

bool startsWithAt(const QByteArray& data, qsizetype at, QByteArrayView prefix)
{
    return QByteArrayView(data).sliced(at).startsWith(prefix);
}

bool isXmlNameEnd(char ch)
{
    return ch == '>' || ch == '/' || ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// Rejects what the XML parser should never see: entity declarations and runaway nesting.
bool checkXmlText(const QByteArray& data, QString* error)
{
    const qsizetype doctype = data.indexOf("<!DOCTYPE");
    if (doctype >= 0) {
        const qsizetype plistStart = data.indexOf("<plist", doctype);
        const QByteArray declaration = data.mid(doctype, plistStart < 0 ? -1 : plistStart - doctype);
        if (declaration.contains("<!ENTITY") || declaration.contains('['))
            return refuse(error, "property list declares entities");
    }
    int depth = 0;
    qsizetype at = 0;
    while ((at = data.indexOf('<', at)) >= 0) {
        // Comments and character data may hold text that looks like tags; a closing tag in them must not
        // lower the count.
        if (startsWithAt(data, at, "<!--")) {
            const qsizetype close = data.indexOf("-->", at + 4);
            if (close < 0)
                break;
            at = close + 3;
            continue;
        }
        if (startsWithAt(data, at, "<![CDATA[")) {
            const qsizetype close = data.indexOf("]]>", at + 9);
            if (close < 0)
                break;
            at = close + 3;
            continue;
        }
        const qsizetype close = data.indexOf('>', at);
        if (close < 0)
            break;
        qsizetype nameStart = at + 1;
        const bool closing = nameStart < close && data.at(nameStart) == '/';
        if (closing)
            ++nameStart;
        qsizetype nameEnd = nameStart;
        while (nameEnd < close && !isXmlNameEnd(data.at(nameEnd)))
            ++nameEnd;
        const QByteArray name = data.mid(nameStart, nameEnd - nameStart);
        const bool selfClosing = data.at(close - 1) == '/';
        if ((name == "array" || name == "dict") && !selfClosing) {
            if (closing)
                depth = std::max(0, depth - 1);
            else if (++depth > kMaxNestingDepth)
                return refuse(error, "property list nests too deeply");
        }
        at = close + 1;
    }
    return true;
}

quint64 readBigEndian(const uchar* bytes, unsigned width)
{
    quint64 value = 0;
    for (unsigned i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// libplist 2.2 parses binary lists recursively and copies every reference it follows: a long chain of
// nested arrays overflows the stack, and containers referenced many times grow a small file into an
// enormous tree. Walk the object graph without recursion first and refuse nesting deeper than
// kMaxNestingDepth, cycles, and trees with more nodes than the file has bytes (each node but the top
// one needs a reference of at least one byte, unless containers are shared).
bool checkBinaryStructure(const QByteArray& data, QString* error)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const quint64 size = quint64(data.size());
    if (size < 8 + 32)
        return refuse(error, "binary property list is truncated");
    const quint64 end = size - 32;
    const uchar* trailer = bytes + end;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const quint64 objectCount = readBigEndian(trailer + 8, 8);
    const quint64 topObject = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 ||
        topObject >= objectCount || tableOffset < 8 || tableOffset > end ||
        objectCount > (end - tableOffset) / offsetSize)
        return refuse(error, "binary property list has a damaged trailer");

    struct Container
    {
        bool isContainer = false;
        quint64 refsStart = 0;
        quint64 refCount = 0;
    };
    // Reads an object's marker; answers nothing when the object lies outside the bytes, or when it is a
    // string holding a NUL character: libplist 2.2 stops the program on those (a failed assertion).
    auto containerAt = [&](quint64 object) -> std::optional<Container> {
        const quint64 offset = readBigEndian(bytes + tableOffset + object * offsetSize, offsetSize);
        if (offset < 8 || offset >= end)
            return std::nullopt;
        const unsigned type = bytes[offset] >> 4;
        const bool isText = type == 0x5 || type == 0x6;
        if (type != 0xA && type != 0xC && type != 0xD && !isText)
            return Container{};
        quint64 count = bytes[offset] & 0x0F;
        quint64 pos = offset + 1;
        if (count == 0x0F) {
            if (pos >= end || (bytes[pos] >> 4) != 0x1 || (bytes[pos] & 0x0F) > 3)
                return std::nullopt;
            const unsigned width = 1u << (bytes[pos] & 0x0F);
            if (end - pos - 1 < width)
                return std::nullopt;
            count = readBigEndian(bytes + pos + 1, width);
            pos += 1 + width;
        }
        if (isText) {
            const quint64 unit = type == 0x6 ? 2 : 1;
            if (count > (end - pos) / unit)
                return std::nullopt;
            for (quint64 i = 0; i < count; ++i) {
                const uchar* character = bytes + pos + i * unit;
                if (character[0] == 0 && (unit == 1 || character[1] == 0))
                    return std::nullopt;
            }
            return Container{};
        }
        const quint64 perEntry = type == 0xD ? 2 : 1;
        if (count > (end - pos) / refSize / perEntry)
            return std::nullopt;
        return Container{true, pos, count * perEntry};
    };

    enum : uchar { Unseen, Open, Done };
    std::vector<uchar> state(objectCount, Unseen);
    std::vector<quint16> height(objectCount, 0); // container levels at and below a finished object
    std::vector<quint64> nodes(objectCount, 1);  // nodes of the finished object's expanded tree
    struct Frame
    {
        quint64 object;
        Container container;
        quint64 next;
        int height;
        quint64 nodes;
    };
    std::vector<Frame> path;

    const auto top = containerAt(topObject);
    if (!top)
        return refuse(error, "binary property list has a damaged object or a NUL character");
    if (!top->isContainer)
        return true;
    state[topObject] = Open;
    path.push_back(Frame{topObject, *top, 0, 1, 1});
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next == frame.container.refCount) {
            const Frame done = frame;
            path.pop_back();
            state[done.object] = Done;
            height[done.object] = quint16(done.height);
            nodes[done.object] = done.nodes;
            if (!path.empty()) {
                path.back().height = std::max(path.back().height, done.height + 1);
                path.back().nodes += done.nodes;
                if (path.back().nodes > size)
                    return refuse(error, "binary property list expands beyond its size");
            }
            continue;
        }
        const quint64 child =
            readBigEndian(bytes + frame.container.refsStart + frame.next * refSize, refSize);
        ++frame.next;
        if (child >= objectCount)
            return refuse(error, "binary property list has a damaged reference");
        if (state[child] == Open)
            return refuse(error, "binary property list refers to itself");
        if (state[child] == Done) {
            if (path.size() + height[child] > size_t(kMaxNestingDepth))
                return refuse(error, "property list nests too deeply");
            frame.height = std::max(frame.height, height[child] + 1);
            frame.nodes += nodes[child];
            if (frame.nodes > size)
                return refuse(error, "binary property list expands beyond its size");
            continue;
        }
        const auto container = containerAt(child);
        if (!container)
            return refuse(error, "binary property list has a damaged object or a NUL character");
        if (!container->isContainer) {
            state[child] = Done;
            frame.nodes += 1;
            if (frame.nodes > size)
                return refuse(error, "binary property list expands beyond its size");
            continue;
        }
        if (path.size() + 1 > size_t(kMaxNestingDepth))
            return refuse(error, "property list nests too deeply");
        state[child] = Open;
        path.push_back(Frame{child, *container, 0, 1, 1});
    }
    return true;
}

// libplist 2.2 answers a date as 32-bit whole seconds and an unsigned fraction, which overflows outside
// 1933-2069 and loses the sign of the fraction before 2001. Its binary form holds the exact double.
std::optional<double> dateSeconds(plist_t node)
{
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    std::optional<double> seconds;
    // "bplist00", then the date object: marker 0x33 and a big-endian double.
    if (bin && length >= 17 && uchar(bin[8]) == 0x33) {
        const quint64 bits = readBigEndian(reinterpret_cast<const uchar*>(bin) + 9, 8);
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        seconds = value;
    }
    plist_to_bin_free(bin);
    return seconds;
}

// A date node from any number of seconds: libplist's plist_new_date takes 32-bit seconds, so a date
// before 1933 or after 2069 would wrap. A one-object binary list carries the full double.
plist_t newDateNode(double secondsSince2001)
{
    uchar bin[8 + 9 + 1 + 32] = {};
    std::memcpy(bin, "bplist00", 8);
    bin[8] = 0x33;
    quint64 bits = 0;
    std::memcpy(&bits, &secondsSince2001, sizeof bits);
    for (int i = 0; i < 8; ++i)
        bin[9 + i] = uchar(bits >> (56 - 8 * i));
    bin[17] = 8;       // offset table: the object starts at byte 8
    bin[18 + 6] = 1;   // offset size
    bin[18 + 7] = 1;   // reference size
    bin[18 + 15] = 1;  // one object
    bin[18 + 31] = 17; // the offset table starts at byte 17
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bin), sizeof bin, &node);
    return node;
}

// depth counts the arrays and dictionaries around the node.
std::optional<QVariant> toVariant(plist_t node, int depth, QString* error)
{
    const plist_type type = plist_get_node_type(node);
    if ((type == PLIST_DICT || type == PLIST_ARRAY) && depth >= kMaxNestingDepth) {
        refuse(error, "property list nests too deeply");
        return std::nullopt;
    }
    switch (type) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            auto converted = toVariant(value, depth + 1, error);
            if (!converted) {
                std::free(key);
                std::free(iter);
                return std::nullopt;
            }
            map.insert(QString::fromUtf8(key), *converted);
            std::free(key);
        }
        std::free(iter);
        return QVariant(map);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        list.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            auto converted = toVariant(plist_array_get_item(node, i), depth + 1, error);
            if (!converted)
                return std::nullopt;
            list.append(*converted);
        }
        return QVariant(list);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        QString value = QString::fromUtf8(text ? text : "");
        std::free(text);
        return QVariant(value);
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(qlonglong(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_DATE: {
        const std::optional<double> seconds = dateSeconds(node);
        // Beyond some hundred thousand years a date is damage, not a time (and would not convert).
        if (!seconds || !std::isfinite(*seconds) || std::fabs(*seconds) > 1e13)
            return QVariant(QDateTime());
        const qint64 msecs = std::llround(*seconds * 1000) + kMacEpochOffsetSeconds * 1000;
        // Qt::UTC keeps a date inside the QDateTime; a QTimeZone would allocate one per date.
        return QVariant(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray value(bytes, qsizetype(length));
        std::free(bytes);
        return QVariant(value);
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant(qlonglong(value));
    }
    default:
        if (error)
            *error = QStringLiteral("property list holds a value of unknown type");
        return std::nullopt;
    }
}

plist_t fromVariant(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (plist_t item = fromVariant(it.value()))
                plist_dict_set_item(dict, QString(it.key()).remove(QChar(0)).toUtf8().constData(), item);
        }
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        const QVariantList list = value.toList();
        for (const QVariant& element : list) {
            if (plist_t item = fromVariant(element))
                plist_array_append_item(array, item);
        }
        return array;
    }
    case QMetaType::QString:
        // A property list holds no NUL: dropped here, rather than cutting the text short at the first one.
        return plist_new_string(value.toString().remove(QChar(0)).toUtf8().constData());
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return nullptr;
        // The XML form holds whole seconds; round down, so a time before 2001 is not moved later.
        const qint64 msecs = date.toMSecsSinceEpoch() - kMacEpochOffsetSeconds * 1000;
        const qint64 seconds = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
        return newDateNode(double(seconds));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    default:
        return nullptr;
    }
}
} // namespace

std::optional<QVariant> fromData(const QByteArray& data, QString* error)
{
    if (data.isEmpty() || data.size() > 0x7fffffff) {
        if (error)
            *error = QStringLiteral("property list is empty or too large");
        return std::nullopt;
    }
    plist_t root = nullptr;
    if (isBinary(data)) {
        if (!checkBinaryStructure(data, error))
            return std::nullopt;
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    } else {
        // XML may not hold NUL, and libplist 2.2 stops the program on a string that does.
        if (data.contains('\0')) {
            refuse(error, "property list holds a NUL character");
            return std::nullopt;
        }
        if (!checkXmlText(data, error))
            return std::nullopt;
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    }
    if (!root) {
        if (error)
            *error = QStringLiteral("not a property list");
        return std::nullopt;
    }
    NodePtr owner(root);
    return toVariant(root, 0, error);
}

std::optional<QVariant> readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return fromData(file.readAll(), error);
}

QByteArray toXml(const QVariant& value)
{
    plist_t root = fromVariant(value);
    if (!root)
        root = plist_new_array();
    NodePtr owner(root);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    QByteArray bytes(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return bytes;
}

bool writeFile(const QString& path, const QVariant& value, QString* error)
{
    return writeFileAtomically(path, toXml(value), error);
}

} // namespace quorvit::plist
