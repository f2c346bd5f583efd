#include "platform/PropertyList.h"

#include "platform/AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <memory>

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

// Rejects what the XML parser should never see: entity declarations and runaway nesting.
bool checkXmlText(const QByteArray& data, QString* error)
{
    const qsizetype doctype = data.indexOf("<!DOCTYPE");
    if (doctype >= 0) {
        const qsizetype plistStart = data.indexOf("<plist", doctype);
        const QByteArray declaration = data.mid(doctype, plistStart < 0 ? -1 : plistStart - doctype);
        if (declaration.contains("<!ENTITY") || declaration.contains('[')) {
            if (error)
                *error = QStringLiteral("property list declares entities");
            return false;
        }
    }
    int depth = 0;
    const char* p = data.constData();
    const char* end = p + data.size();
    while (p < end) {
        const char* open = static_cast<const char*>(std::memchr(p, '<', end - p));
        if (!open)
            break;
        const char* close = static_cast<const char*>(std::memchr(open, '>', end - open));
        if (!close)
            break;
        const QByteArray tag(open + 1, close - open - 1);
        if (tag == "array" || tag == "dict") {
            if (++depth > kMaxNestingDepth) {
                if (error)
                    *error = QStringLiteral("property list nests too deeply");
                return false;
            }
        } else if (tag == "/array" || tag == "/dict") {
            --depth;
        }
        p = close + 1;
    }
    return true;
}

std::optional<QVariant> toVariant(plist_t node, int depth, QString* error)
{
    if (depth > kMaxNestingDepth) {
        if (error)
            *error = QStringLiteral("property list nests too deeply");
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
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
        int32_t seconds = 0;
        int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        const qint64 msecs = (qint64(seconds) + kMacEpochOffsetSeconds) * 1000 + micros / 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc()));
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
                plist_dict_set_item(dict, it.key().toUtf8().constData(), item);
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
        return plist_new_string(value.toString().toUtf8().constData());
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
        const qint64 msecs = value.toDateTime().toMSecsSinceEpoch() - kMacEpochOffsetSeconds * 1000;
        qint64 seconds = msecs / 1000;
        qint64 millis = msecs % 1000;
        if (millis < 0) {
            millis += 1000;
            --seconds;
        }
        return plist_new_date(int32_t(seconds), int32_t(millis * 1000));
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
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    } else {
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
