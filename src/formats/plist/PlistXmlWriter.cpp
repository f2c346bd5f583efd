#include "formats/plist/PlistXmlWriter.h"

#include "platform/PropertyList.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {
constexpr char kProlog[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                           "<plist version=\"1.0\">\n";
constexpr char kEpilog[] = "</plist>\n";
// Property-list dates count seconds from 2001-01-01 00:00 UTC.
constexpr qint64 kMacEpochOffsetSeconds = 978307200;

/// What toXml drops: types a property list has no form for, and dates that are not dates.
bool isWritable(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QByteArray:
        return true;
    case QMetaType::QDateTime:
        return value.toDateTime().isValid();
    default:
        return false;
    }
}

/// The UTF-8 form toXml stores for a text: without NUL characters.
QByteArray utf8WithoutNul(const QString& text)
{
    return text.contains(QChar(0)) ? QString(text).remove(QChar(0)).toUtf8() : text.toUtf8();
}
} // namespace

PlistXmlWriter::PlistXmlWriter(qsizetype expectedSize)
{
    m_out.reserve(std::max<qsizetype>(expectedSize, 256));
    m_out.append(kProlog);
}

QByteArray PlistXmlWriter::document(const QVariant& value)
{
    PlistXmlWriter writer;
    if (!writer.value(value))
        writer.beginArray(), writer.endArray();
    return writer.finish();
}

QByteArray PlistXmlWriter::finish()
{
    m_out.append(kEpilog);
    return std::move(m_out);
}

void PlistXmlWriter::indent()
{
    m_out.append(qsizetype(m_open.size()), '\t');
}

void PlistXmlWriter::open(const char* tag)
{
    const qsizetype start = m_out.size();
    indent();
    m_out.append('<').append(tag).append(">\n");
    m_open.push_back(Open{start, m_out.size()});
}

void PlistXmlWriter::close(const char* tag, const char* empty)
{
    const Open opened = m_open.back();
    m_open.pop_back();
    if (m_out.size() == opened.contentStart) {
        // Nothing went in: the container is written as one empty tag.
        m_out.truncate(opened.start);
        indent();
        m_out.append(empty).append('\n');
        return;
    }
    indent();
    m_out.append("</").append(tag).append(">\n");
}

void PlistXmlWriter::beginDict()
{
    open("dict");
}

void PlistXmlWriter::endDict()
{
    close("dict", "<dict/>");
}

void PlistXmlWriter::beginArray()
{
    open("array");
}

void PlistXmlWriter::endArray()
{
    close("array", "<array/>");
}

void PlistXmlWriter::escaped(const char* text, qsizetype length)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '&':
            entity = "&amp;";
            break;
        default:
            continue;
        }
        m_out.append(text + start, i - start).append(entity);
        start = i + 1;
    }
    m_out.append(text + start, length - start);
}

void PlistXmlWriter::escapedLine(const char* tag, const char* text, qsizetype length)
{
    indent();
    m_out.append('<').append(tag).append('>');
    escaped(text, length);
    m_out.append("</").append(tag).append(">\n");
}

void PlistXmlWriter::key(QLatin1StringView text)
{
    escapedLine("key", text.data(), text.size());
}

void PlistXmlWriter::key(const QString& text)
{
    const QByteArray utf8 = utf8WithoutNul(text);
    escapedLine("key", utf8.constData(), utf8.size());
}

void PlistXmlWriter::string(QLatin1StringView text)
{
    escapedLine("string", text.data(), text.size());
}

void PlistXmlWriter::string(const QString& text)
{
    indent();
    m_out.append("<string>");
    // Plain ASCII, by far the most common, goes straight in; anything else through UTF-8 as toXml does.
    const QChar* chars = text.constData();
    const qsizetype size = text.size();
    qsizetype ascii = 0;
    while (ascii < size && chars[ascii].unicode() < 0x80 && chars[ascii].unicode() != 0)
        ++ascii;
    if (ascii == size) {
        const qsizetype at = m_out.size();
        m_out.resize(at + size);
        char* out = m_out.data() + at;
        for (qsizetype i = 0; i < size; ++i)
            out[i] = char(chars[i].unicode());
        // Escapes are rare: rewrite the stretch only when it holds one.
        if (std::find_if(out, out + size, [](char c) { return c == '<' || c == '>' || c == '&'; }) !=
            out + size) {
            const QByteArray plain(out, size);
            m_out.truncate(at);
            escaped(plain.constData(), plain.size());
        }
    } else {
        const QByteArray utf8 = utf8WithoutNul(text);
        escaped(utf8.constData(), utf8.size());
    }
    m_out.append("</string>\n");
}

void PlistXmlWriter::scalarLine(const char* tag, QByteArrayView text)
{
    indent();
    m_out.append('<').append(tag).append('>').append(text).append("</").append(tag).append(">\n");
}

void PlistXmlWriter::boolean(bool value)
{
    indent();
    m_out.append(value ? "<true/>\n" : "<false/>\n");
}

void PlistXmlWriter::integer(qlonglong value)
{
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lld", value);
    scalarLine("integer", QByteArrayView(text, length));
}

void PlistXmlWriter::real(double value)
{
    char text[64];
    int length = 0;
    if (std::isnan(value)) {
        length = std::snprintf(text, sizeof text, "nan");
    } else if (std::isinf(value)) {
        length = std::snprintf(text, sizeof text, "%cinfinity", value > 0.0 ? '+' : '-');
    } else if (value == 0.0) {
        length = std::snprintf(text, sizeof text, "0.0");
    } else {
        length = std::snprintf(text, sizeof text, "%.*g", 17, value);
        // A decimal comma from the locale becomes a point.
        for (int i = 0; i < length; ++i) {
            if (text[i] == ',') {
                text[i] = '.';
                break;
            }
            if (text[i] == '.')
                break;
        }
    }
    scalarLine("real", QByteArrayView(text, length));
}

void PlistXmlWriter::date(const QVariant& value)
{
    // Whole seconds, rounded down, so a time before 2001 is not moved later.
    const qint64 msecs = value.toDateTime().toMSecsSinceEpoch() - kMacEpochOffsetSeconds * 1000;
    const qint64 seconds = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
    const std::time_t unixSeconds = std::time_t(seconds + kMacEpochOffsetSeconds);
    std::tm parts{};
    if (gmtime_r(&unixSeconds, &parts) && parts.tm_year >= 1000 - 1900 && parts.tm_year <= 9999 - 1900) {
        char text[32];
        const int length =
            std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                          parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
        scalarLine("date", QByteArrayView(text, length));
        return;
    }
    // Years of other widths are rare enough to take from the library itself, whose form is the one kept.
    const QByteArray whole = quorvit::plist::toXml(value);
    const qsizetype start = whole.indexOf("<date");
    const qsizetype end = whole.indexOf('\n', start);
    indent();
    m_out.append(QByteArrayView(whole).sliced(start, end + 1 - start));
}

void PlistXmlWriter::data(const QByteArray& bytes)
{
    indent();
    m_out.append("<data>\n");
    const qsizetype lineIndent = std::min<qsizetype>(qsizetype(m_open.size()), 8);
    const qsizetype perLine = ((76 - (lineIndent << 3)) >> 2) * 3;
    for (qsizetype at = 0; at < bytes.size(); at += perLine) {
        m_out.append(lineIndent, '\t');
        m_out.append(
            QByteArrayView(bytes).sliced(at, std::min(perLine, bytes.size() - at)).toByteArray().toBase64());
        m_out.append('\n');
    }
    indent();
    m_out.append("</data>\n");
}

void PlistXmlWriter::map(const QVariantMap& map)
{
    beginDict();
    bool keysHoldNul = false;
    for (auto it = map.begin(); it != map.end() && !keysHoldNul; ++it)
        keysHoldNul = it.key().contains(QChar(0));
    if (!keysHoldNul) {
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (isWritable(it.value())) {
                key(it.key());
                value(it.value());
            }
        }
    } else {
        // Keys that differ only by NUL characters become one: the later value takes the earlier place.
        std::vector<std::pair<QByteArray, const QVariant*>> entries;
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!isWritable(it.value()))
                continue;
            const QByteArray name = utf8WithoutNul(it.key());
            auto same = std::find_if(entries.begin(), entries.end(),
                                     [&](const auto& entry) { return entry.first == name; });
            if (same != entries.end())
                same->second = &it.value();
            else
                entries.emplace_back(name, &it.value());
        }
        for (const auto& [name, entryValue] : entries) {
            indent();
            m_out.append("<key>");
            escaped(name.constData(), name.size());
            m_out.append("</key>\n");
            value(*entryValue);
        }
    }
    endDict();
}

bool PlistXmlWriter::value(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        map(value.toMap());
        return true;
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        beginArray();
        const QVariantList list = value.toList();
        for (const QVariant& element : list)
            this->value(element);
        endArray();
        return true;
    }
    case QMetaType::QString:
        string(value.toString());
        return true;
    case QMetaType::Bool:
        boolean(value.toBool());
        return true;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        integer(value.toLongLong());
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        real(value.toDouble());
        return true;
    case QMetaType::QDateTime:
        if (!value.toDateTime().isValid())
            return false;
        date(value);
        return true;
    case QMetaType::QByteArray:
        data(value.toByteArray());
        return true;
    default:
        return false;
    }
}

void PlistXmlWriter::entry(QLatin1StringView name, const QVariant& value)
{
    if (!isWritable(value))
        return;
    key(name);
    this->value(value);
}
