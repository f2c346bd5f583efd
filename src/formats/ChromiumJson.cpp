#include "formats/ChromiumJson.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace ChromiumJson {

namespace {
void indent(QByteArray& out, int depth)
{
    out.append(depth * 3, ' ');
}

void appendNumber(QByteArray& out, const QJsonValue& value)
{
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong || variant.typeId() == QMetaType::Int) {
        out += QByteArray::number(variant.toLongLong());
        return;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number)) {
        out += "null";
        return;
    }
    QByteArray text = QByteArray::number(number, 'g', QLocale::FloatingPointShortest);
    // A double stays a double when read again.
    if (!text.contains('.') && !text.contains('e') && !text.contains('E'))
        text += ".0";
    out += text;
}

void appendValue(QByteArray& out, const QJsonValue& value, int depth)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        out += "null";
        return;
    case QJsonValue::Bool:
        out += value.toBool() ? "true" : "false";
        return;
    case QJsonValue::Double:
        appendNumber(out, value);
        return;
    case QJsonValue::String:
        appendString(out, value.toString());
        return;
    case QJsonValue::Array: {
        out += "[ ";
        bool first = true;
        for (const QJsonValue element : value.toArray()) {
            if (!first)
                out += ", ";
            appendValue(out, element, depth);
            first = false;
        }
        out += " ]";
        return;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        QList<std::pair<QByteArray, QString>> keys;
        keys.reserve(object.size());
        for (auto it = object.begin(); it != object.end(); ++it)
            keys.append({it.key().toUtf8(), it.key()});
        std::sort(keys.begin(), keys.end());
        out += "{\n";
        bool first = true;
        for (const auto& [bytes, key] : keys) {
            if (!first)
                out += ",\n";
            indent(out, depth + 1);
            appendString(out, key);
            out += ": ";
            appendValue(out, object.value(key), depth + 1);
            first = false;
        }
        out += '\n';
        indent(out, depth);
        out += '}';
        return;
    }
    }
}
} // namespace

std::optional<QJsonObject> loadObject(const QString& path, QString* reason)
{
    auto failed = [reason](const QString& text) {
        if (reason)
            *reason = text;
        return std::nullopt;
    };
    const QFileInfo info(path);
    if (!info.isFile())
        return failed(QStringLiteral("not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(file.errorString());
    // Checked before reading, so a huge file costs no memory.
    if (file.size() > kMaxFileSize)
        return failed(QStringLiteral("file is too large (%1 bytes)").arg(file.size()));
    const QByteArray bytes = file.readAll();
    if (bytes.size() > kMaxFileSize)
        return failed(QStringLiteral("file is too large"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return failed(
            QStringLiteral("not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return failed(QStringLiteral("JSON is not an object"));
    return document.object();
}

QByteArray write(const QJsonValue& value)
{
    QByteArray out;
    appendValue(out, value, 0);
    out += '\n';
    return out;
}

void appendString(QByteArray& out, const QString& text)
{
    out += '"';
    const QStringView view(text);
    qsizetype plainStart = 0;
    auto flush = [&](qsizetype end) {
        if (end > plainStart)
            out += view.mid(plainStart, end - plainStart).toUtf8();
    };
    for (qsizetype i = 0; i < view.size(); ++i) {
        const char16_t c = view.at(i).unicode();
        const char* escape = nullptr;
        char buffer[8];
        switch (c) {
        case u'\b':
            escape = "\\b";
            break;
        case u'\f':
            escape = "\\f";
            break;
        case u'\n':
            escape = "\\n";
            break;
        case u'\r':
            escape = "\\r";
            break;
        case u'\t':
            escape = "\\t";
            break;
        case u'\\':
            escape = "\\\\";
            break;
        case u'"':
            escape = "\\\"";
            break;
        // Kept out of the file so it can never close a script element it is pasted into.
        case u'<':
            escape = "\\u003C";
            break;
        case 0x2028:
            escape = "\\u2028";
            break;
        case 0x2029:
            escape = "\\u2029";
            break;
        default:
            if (c < 0x20) {
                std::snprintf(buffer, sizeof buffer, "\\u%04X", unsigned(c));
                escape = buffer;
            }
            break;
        }
        if (escape) {
            flush(i);
            out += escape;
            plainStart = i + 1;
        }
    }
    // toUtf8 turns an unpaired surrogate into U+FFFD, as the browser does.
    flush(view.size());
    out += '"';
}

} // namespace ChromiumJson
