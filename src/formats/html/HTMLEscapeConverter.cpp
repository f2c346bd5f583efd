#include "formats/html/HTMLEscapeConverter.h"

#include "platform/QVLog.h"
#include "platform/Utf8Writer.h"

#include <algorithm>
#include <utility>

namespace {

const QString kLogMinCountMismatch = QStringLiteral("Escape min characters count don't match!");
const QString kLogCountMismatch = QStringLiteral("Escape characters count don't match!");

// HTML 4.01 names of U+00A1..U+00FF, in code order (U+00A0 has no row).
const char* const kLatin1Entities[] = {
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",
    "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34",
    "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave",
    "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve",
    "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",
    "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",
    "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave", "uacute",
    "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

// U+0080 and U+0082..U+009F stand for the Windows-1252 characters of the same byte value. The keys are
// the C1 code points themselves; an empty name deletes the character when escaping.
struct C1Row
{
    char16_t code;
    const char* entity;
};
const C1Row kC1Rows[] = {
    {0x80, "&euro;"},   {0x82, "&sbquo;"},  {0x83, "&fnof;"},  {0x84, "&ldquor;"}, {0x85, "&hellip;"},
    {0x86, "&dagger;"}, {0x87, "&Dagger;"}, {0x88, ""},        {0x89, "&permil;"}, {0x8A, "&Scaron;"},
    {0x8B, "&lsaquo;"}, {0x8C, "&OElig;"},  {0x8D, ""},        {0x8E, ""},         {0x8F, ""},
    {0x90, ""},         {0x91, "&lsquo;"},  {0x92, "&rsquo;"}, {0x93, "&ldquo;"},  {0x94, "&rdquo;"},
    {0x95, "&bull;"},   {0x96, "&ndash;"},  {0x97, "&mdash;"}, {0x98, "&tilde;"},  {0x99, "&trade;"},
    {0x9A, "&scaron;"}, {0x9B, "&rsaquo;"}, {0x9C, "&oelig;"}, {0x9D, ""},         {0x9E, ""},
    {0x9F, "&Yuml;"},
};

// QString::replace with the same result (non-overlapping, left to right, replaced text not searched
// again), in linear time: Qt 6.4's own moves the text's tail for every batch of hits, which turns
// quadratic on long texts full of special characters.
QString replaceAll(const QString& text, const QString& before, const QString& after)
{
    qsizetype found = text.indexOf(before);
    if (found < 0 || before.isEmpty())
        return text;
    QString result;
    result.reserve(text.size());
    qsizetype from = 0;
    while (found >= 0) {
        result.append(QStringView(text).mid(from, found - from));
        result.append(after);
        from = found + before.size();
        found = text.indexOf(before, from);
    }
    result.append(QStringView(text).mid(from));
    return result;
}

// Windows-1252 bytes 0x80-0x9F; 0 where the code page has no character.
const char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool isBasicCharacter(char16_t unit)
{
    return unit == u'&' || unit == u'"' || unit == u'<' || unit == u'>';
}

} // namespace

HTMLEscapeConverter::HTMLEscapeConverter()
{
    m_minHtmlValues = {QStringLiteral("&amp;"), QStringLiteral("&quot;"), QStringLiteral("&lt;"),
                       QStringLiteral("&gt;")};
    m_minCharValues = {QStringLiteral("&"), QStringLiteral("\""), QStringLiteral("<"), QStringLiteral(">")};

    char16_t code = 0xA1;
    for (const char* name : kLatin1Entities) {
        m_htmlValues.append(QLatin1Char('&') + QLatin1String(name) + QLatin1Char(';'));
        m_charValues.append(QString(QChar(code++)));
    }
    for (const C1Row& row : kC1Rows) {
        m_htmlValues.append(QLatin1String(row.entity));
        m_charValues.append(QString(QChar(row.code)));
    }

    if (m_minHtmlValues.size() != m_minCharValues.size())
        QVLog(kLogMinCountMismatch);
    if (m_htmlValues.size() != m_charValues.size())
        QVLog(kLogCountMismatch);

    const qsizetype rows = std::min(m_htmlValues.size(), m_charValues.size());
    for (qsizetype i = 0; i < rows; ++i) {
        const QChar ch = m_charValues.at(i).at(0);
        const QString& entity = m_htmlValues.at(i);
        m_charToEntity.insert(ch, entity);
        if (!entity.isEmpty()) {
            // "&rsquo;" is the quotation mark a browser shows, not the C1 control that keys its row.
            m_entityToChar.insert(entity, windows1252Meaning(ch));
            m_longestEntity = std::max(m_longestEntity, entity.size());
        }
    }
}

HTMLEscapeConverter& HTMLEscapeConverter::sharedInstance()
{
    static HTMLEscapeConverter instance;
    return instance;
}

bool HTMLEscapeConverter::containsHighASCIIChar(const QString& text) const
{
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x80 || isBasicCharacter(ch.unicode()))
            return true;
    }
    return false;
}

QString HTMLEscapeConverter::convertToHTMLCharacters(const QString& text, bool extended, bool unicode) const
{
    if (!containsHighASCIIChar(text))
        return text;
    return convertHighASCIIFromString(text, extended, unicode);
}

QString HTMLEscapeConverter::convertHighASCIIFromString(const QString& text, bool extended,
                                                        bool unicode) const
{
    QString result = text;
    // Ampersand first, so the entities inserted after it are not escaped again.
    for (qsizetype i = 0; i < m_minCharValues.size() && i < m_minHtmlValues.size(); ++i)
        result = replaceAll(result, m_minCharValues.at(i), m_minHtmlValues.at(i));
    // Text that was already escaped once keeps its "&amp;" rather than doubling it.
    result = replaceAll(result, QStringLiteral("&amp;amp;"), QStringLiteral("&amp;"));

    if (extended) {
        // The table's characters are all above ASCII and its entities all ASCII, so one pass over the
        // text gives the same result as one replace pass per row.
        QString escaped;
        escaped.reserve(result.size());
        for (const QChar ch : std::as_const(result)) {
            const auto found = m_charToEntity.constFind(ch);
            if (found == m_charToEntity.constEnd())
                escaped.append(ch);
            else
                escaped.append(found.value());
        }
        result = escaped;
    }
    if (unicode)
        result = convertUnicodeFromString(result);
    return result;
}

QString HTMLEscapeConverter::convertUnicodeFromString(const QString& text) const
{
    // Sized once: a reference is up to eight times its character, and growing step by step leaves a
    // trail of ever larger freed blocks behind on long texts.
    qsizetype size = 0;
    for (const QChar ch : text)
        size += ch.unicode() < 0x80 ? 1 : 3 + (ch.unicode() >= 10000 ? 5 : ch.unicode() >= 1000 ? 4 : 3);
    QString result;
    result.reserve(size);
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            result.append(ch);
        } else {
            result.append(QLatin1String("&#"));
            result.append(QString::number(ch.unicode()));
            result.append(QLatin1Char(';'));
        }
    }
    return result;
}

QString HTMLEscapeConverter::convertToASCIICharacters(const QString& text) const
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    return convertHTMLFromString(text);
}

QString HTMLEscapeConverter::convertHTMLFromString(const QString& text) const
{
    QString result = text;
    // One pass per basic entity, "&amp;" first: "&amp;lt;" therefore ends as "<".
    for (qsizetype i = 0; i < m_minHtmlValues.size() && i < m_minCharValues.size(); ++i)
        result = replaceAll(result, m_minHtmlValues.at(i), m_minCharValues.at(i));

    // Named entities never overlap (no "&" or ";" inside a name), and what they decode to cannot form a
    // new one, so a single left-to-right pass equals one replace pass per table row.
    if (result.contains(QLatin1Char('&'))) {
        QString decoded;
        decoded.reserve(result.size());
        const qsizetype size = result.size();
        qsizetype i = 0;
        while (i < size) {
            const QChar ch = result.at(i);
            if (ch == u'&') {
                const qsizetype limit = std::min(size, i + m_longestEntity);
                qsizetype semicolon = i + 1;
                while (semicolon < limit && result.at(semicolon) != u';' && result.at(semicolon) != u'&')
                    ++semicolon;
                if (semicolon < limit && result.at(semicolon) == u';') {
                    const auto found = m_entityToChar.constFind(result.mid(i, semicolon - i + 1));
                    if (found != m_entityToChar.constEnd()) {
                        decoded.append(found.value());
                        i = semicolon + 1;
                        continue;
                    }
                }
            }
            decoded.append(ch);
            ++i;
        }
        result = decoded;
    }
    return convertToUnicodeCharacters(result);
}

QChar HTMLEscapeConverter::windows1252Meaning(QChar ch)
{
    const char16_t unit = ch.unicode();
    if (unit < 0x80 || unit > 0x9F || kWindows1252High[unit - 0x80] == 0)
        return ch;
    return QChar(kWindows1252High[unit - 0x80]);
}

QString HTMLEscapeConverter::decodeAttributeValue(const QString& value) const
{
    // Without a reference the value is handed back shared, not copied.
    return value.contains(QLatin1Char('&')) ? decodeAttributeValue(QStringView(value)) : value;
}

QString HTMLEscapeConverter::decodeAttributeValue(QStringView value) const
{
    if (!value.contains(QLatin1Char('&')))
        return value.toString();
    QString out;
    out.reserve(value.size());
    const qsizetype size = value.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar ch = value.at(i);
        if (ch != u'&') {
            // The run up to the next reference is copied whole.
            const qsizetype next = value.indexOf(u'&', i);
            const qsizetype stop = next < 0 ? size : next;
            out.append(value.mid(i, stop - i));
            i = stop;
            continue;
        }
        // A reference is short; a missing ";" within reach leaves the ampersand as text.
        const qsizetype limit = std::min(size, i + 12);
        qsizetype semicolon = i + 1;
        while (semicolon < limit && value.at(semicolon) != u';' && value.at(semicolon) != u'&')
            ++semicolon;
        if (semicolon >= limit || value.at(semicolon) != u';') {
            out.append(ch);
            ++i;
            continue;
        }
        const QStringView body = value.mid(i + 1, semicolon - i - 1);
        bool decoded = false;
        if (body.size() > 1 && body.front() == u'#') {
            const bool hex = body.at(1) == u'x' || body.at(1) == u'X';
            const QStringView digits = body.mid(hex ? 2 : 1);
            bool ok = !digits.isEmpty();
            char32_t code = 0;
            for (const QChar digit : digits) {
                char16_t d = digit.unicode();
                if (hex && d >= u'A' && d <= u'F')
                    d = char16_t(d - u'A' + u'a');
                int v = -1;
                if (d >= '0' && d <= '9')
                    v = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    v = d - 'a' + 10;
                if (v < 0) {
                    ok = false;
                    break;
                }
                code = std::min<char32_t>(code * (hex ? 16 : 10) + char32_t(v), 0x110000);
            }
            if (ok) {
                // As browsers do: C1 codes mean their Windows-1252 characters; what is no character
                // becomes the replacement character.
                if (code >= 0x80 && code <= 0x9F)
                    code = windows1252Meaning(QChar(char16_t(code))).unicode();
                if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                    code = 0xFFFD;
                out.append(QString::fromUcs4(&code, 1));
                decoded = true;
            }
        } else {
            const QString entity = value.mid(i, semicolon - i + 1).toString();
            const qsizetype basic = m_minHtmlValues.indexOf(entity);
            if (basic >= 0 && basic < m_minCharValues.size()) {
                out.append(m_minCharValues.at(basic));
                decoded = true;
            } else if (entity == QLatin1String("&apos;")) {
                out.append(QLatin1Char('\''));
                decoded = true;
            } else if (entity == QLatin1String("&nbsp;")) {
                out.append(QChar(0xA0));
                decoded = true;
            } else if (const auto found = m_entityToChar.constFind(entity);
                       found != m_entityToChar.constEnd()) {
                out.append(found.value());
                decoded = true;
            }
        }
        if (decoded) {
            i = semicolon + 1;
        } else {
            out.append(ch);
            ++i;
        }
    }
    return out;
}

namespace {
// The reference an attribute value needs in place of the code unit, or none.
QLatin1String attributeReference(char16_t unit)
{
    switch (unit) {
    case u'&':
        return QLatin1String("&amp;");
    case u'"':
        return QLatin1String("&quot;");
    case u'<':
        return QLatin1String("&lt;");
    case u'>':
        return QLatin1String("&gt;");
    case u'\n':
        return QLatin1String("&#10;");
    case u'\r':
        return QLatin1String("&#13;");
    case u'\t':
        return QLatin1String("&#9;");
    default:
        return QLatin1String();
    }
}
} // namespace

QString HTMLEscapeConverter::escapeAttributeValue(const QString& value)
{
    QString out;
    // Runs of plain characters are copied whole; a value with nothing to escape is handed back as it is.
    qsizetype plain = 0;
    const QChar* data = value.constData();
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (data[i].unicode() > u'>')
            continue; // above every character that needs escaping
        const QLatin1String escaped = attributeReference(data[i].unicode());
        if (escaped.isEmpty())
            continue;
        if (out.isNull())
            out.reserve(value.size() + 16);
        out.append(QStringView(value).mid(plain, i - plain));
        out.append(escaped);
        plain = i + 1;
    }
    if (out.isNull())
        return value;
    out.append(QStringView(value).mid(plain));
    return out;
}

void HTMLEscapeConverter::escapeAttributeValue(QStringView value, quorvit::Utf8Writer& out)
{
    static const quorvit::Utf8Writer::AsciiEscapes escapes(&attributeReference);
    out.appendEscaped(value, escapes);
}

QString HTMLEscapeConverter::convertToUnicodeCharacters(const QString& text) const
{
    const qsizetype first = text.indexOf(QLatin1String("&#"));
    if (first < 0)
        return text;

    // Decoded in place: the text is buffer[0, written) followed by buffer[read, size). A reference always
    // shrinks, so the written part never overtakes the unread part, and every character is looked at a
    // bounded number of times, which keeps hostile input (millions of references) linear.
    QString result = text;
    QChar* buffer = result.data();
    const qsizetype size = result.size();
    qsizetype written = first;
    qsizetype read = first;

    // Decodes the reference whose digits start at `digits`; false when no ";" follows.
    auto decodeReference = [&](qsizetype digits, QChar& decoded, qsizetype& semicolon) {
        semicolon = digits;
        while (semicolon < size && buffer[semicolon] != u';')
            ++semicolon;
        if (semicolon == size)
            return false;
        // Leading decimal digits only; the value wraps to 16 bits, so long digit runs cannot overflow.
        quint16 value = 0;
        for (qsizetype k = digits; k < semicolon; ++k) {
            const char16_t unit = buffer[k].unicode();
            if (unit < u'0' || unit > u'9')
                break;
            value = quint16(value * 10 + (unit - u'0'));
        }
        decoded = QChar(value);
        return true;
    };

    bool justDecoded = false;
    for (;;) {
        QChar decoded;
        qsizetype semicolon = 0;
        // A decoded "&" or "#" may form a new reference with its neighbours, so scanning resumes one
        // character before it.
        if (justDecoded && written >= 2 && buffer[written - 2] == u'&' && buffer[written - 1] == u'#') {
            if (!decodeReference(read, decoded, semicolon))
                break;
            written -= 2;
        } else if (justDecoded && buffer[written - 1] == u'&' && read < size && buffer[read] == u'#') {
            if (!decodeReference(read + 1, decoded, semicolon))
                break;
            written -= 1;
        } else {
            qsizetype next = read;
            while (next + 1 < size && !(buffer[next] == u'&' && buffer[next + 1] == u'#'))
                ++next;
            if (next + 1 >= size)
                break;
            if (written != read)
                std::copy(buffer + read, buffer + next, buffer + written);
            written += next - read;
            read = next;
            if (!decodeReference(read + 2, decoded, semicolon))
                break;
        }
        buffer[written++] = decoded;
        read = semicolon + 1;
        justDecoded = true;
    }
    if (written != read)
        std::copy(buffer + read, buffer + size, buffer + written);
    written += size - read;
    result.truncate(written);
    return result;
}
