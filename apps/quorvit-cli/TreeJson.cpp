#include "TreeJson.h"

#include "model/QVBookmark.h"

#include <QDateTime>

#include <cstdio>

namespace TreeJson {

namespace {
QByteArray format(const char* pattern, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return QByteArray(buffer);
}

QByteArray unicodeEscape(char16_t unit)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(unit));
    return QByteArray(buffer);
}

void appendIndent(QByteArray& out, int depth, bool indented)
{
    if (indented) {
        out += '\n';
        out += QByteArray(depth * 2, ' ');
    }
}

QByteArray dateToJson(const QDateTime& date)
{
    if (!date.isValid())
        return "null";
    return format("%.16g", double(date.toMSecsSinceEpoch()) / 1000.0);
}

QByteArray nullableString(const QString& text)
{
    return text.isNull() ? QByteArray("null") : stringToJson(text);
}

void appendItem(QByteArray& out, const QVItem& item, int depth, bool indented);

void appendFields(QByteArray& out, const QList<std::pair<const char*, QByteArray>>& fields, int depth,
                  bool indented)
{
    out += '{';
    bool first = true;
    for (const auto& [key, value] : fields) {
        if (!first)
            out += ',';
        first = false;
        appendIndent(out, depth + 1, indented);
        out += '"';
        out += key;
        out += indented ? "\": " : "\":";
        out += value;
    }
    appendIndent(out, depth, indented);
    out += '}';
}

QByteArray metadataToJson(const QVItem& item)
{
    return valueToJson(item.metaData());
}

void appendItem(QByteArray& out, const QVItem& item, int depth, bool indented)
{
    if (item.isFolder()) {
        const auto& folder = static_cast<const QVFolder&>(item);
        QByteArray children = "[";
        // Iterative over siblings, recursive over depth; readers bound nesting depth.
        bool first = true;
        for (const QVItemPtr& child : folder.folderContents()) {
            if (!first)
                children += ',';
            first = false;
            appendIndent(children, depth + 2, indented);
            appendItem(children, *child, depth + 2, indented);
        }
        if (!first)
            appendIndent(children, depth + 1, indented);
        children += ']';
        appendFields(out,
                     {{"kind", "\"folder\""},
                      {"name", stringToJson(folder.name())},
                      {"type", QByteArray::number(folder.type())},
                      {"source", stringToJson(folder.source())},
                      {"metadata", metadataToJson(folder)},
                      {"children", children}},
                     depth, indented);
    } else if (item.isDivider()) {
        appendFields(out, {{"kind", "\"divider\""}, {"source", stringToJson(item.source())}}, depth,
                     indented);
    } else {
        const auto& bookmark = static_cast<const QVBookmark&>(item);
        appendFields(out,
                     {{"kind", "\"bookmark\""},
                      {"name", stringToJson(bookmark.name())},
                      {"address", stringToJson(bookmark.urlAddress())},
                      {"source", stringToJson(bookmark.source())},
                      {"comments", nullableString(bookmark.comments())},
                      {"keyword", nullableString(bookmark.mozillaKeywords())},
                      {"addDate", dateToJson(bookmark.addDate())},
                      {"lastVisit", dateToJson(bookmark.lastVisitDate())},
                      {"lastUpdate", dateToJson(bookmark.lastUpdateDate())},
                      {"schedule", QByteArray::number(bookmark.scheduleUpdateFrequency())},
                      {"wordCount", QByteArray::number(bookmark.wordCount())},
                      {"brokenStatus", QByteArray::number(bookmark.brokenStatus())},
                      {"metadata", metadataToJson(bookmark)}},
                     depth, indented);
    }
}
} // namespace

QByteArray stringToJson(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        const char16_t unit = ch.unicode();
        switch (unit) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (unit < 0x20 || unit == 0x7F) {
            out += unicodeEscape(unit);
        } else if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += QString(text.constData() + i, 2).toUtf8();
            ++i;
        } else if (ch.isSurrogate()) {
            // A lone surrogate has no UTF-8 form; the escape keeps it visible and the JSON valid.
            out += unicodeEscape(unit);
        } else {
            out += QString(ch).toUtf8();
        }
    }
    out += '"';
    return out;
}

QByteArray valueToJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QByteArray out = "{";
        bool first = true;
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!first)
                out += ',';
            first = false;
            out += stringToJson(it.key()) + ':' + valueToJson(it.value());
        }
        return out + '}';
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = value.toList();
        QByteArray out = "[";
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (i > 0)
                out += ',';
            out += valueToJson(list.at(i));
        }
        return out + ']';
    }
    case QMetaType::QString:
        return stringToJson(value.toString());
    case QMetaType::Bool:
        return value.toBool() ? "true" : "false";
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QByteArray::number(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return qIsFinite(value.toDouble()) ? format("%.17g", value.toDouble()) : QByteArray("null");
    case QMetaType::QDateTime:
        return dateToJson(value.toDateTime());
    case QMetaType::QByteArray:
        return stringToJson(QString::fromLatin1(value.toByteArray().toBase64()));
    default:
        return value.isValid() ? stringToJson(value.toString()) : QByteArray("null");
    }
}

QByteArray toJson(const QVItem& item, bool indented)
{
    QByteArray out;
    appendItem(out, item, 0, indented);
    return out;
}

} // namespace TreeJson
