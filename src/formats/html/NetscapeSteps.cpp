#include "formats/html/NetscapeSteps.h"

#include <QLatin1String>

#include <cstring>

namespace {

bool isTagSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f';
}

// QChar::isSpace for ASCII; what follows a "<DT>" may be skipped only when it is one of these.
bool isAsciiSpace(char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

char asciiUpper(char ch)
{
    return ch >= 'a' && ch <= 'z' ? char(ch - 32) : ch;
}

qsizetype indexOf(QByteArrayView text, char ch, qsizetype from)
{
    if (from >= text.size())
        return -1;
    const void* found = std::memchr(text.data() + from, ch, size_t(text.size() - from));
    return found ? static_cast<const char*>(found) - text.data() : -1;
}

bool startsWithIgnoringAsciiCase(QByteArrayView text, qsizetype at, QLatin1String marker, bool* exact)
{
    if (at + marker.size() > text.size())
        return false;
    bool same = true;
    for (qsizetype i = 0; i < marker.size(); ++i) {
        const char ch = text[at + i];
        if (asciiUpper(ch) != marker.data()[i])
            return false;
        same = same && ch == marker.data()[i];
    }
    if (exact)
        *exact = same;
    return true;
}

} // namespace

NetscapeSteps::Marker NetscapeSteps::markerAt(qsizetype at, qsizetype* length, bool* exact) const
{
    static const struct
    {
        QLatin1String text;
        Marker marker;
    } kMarkers[] = {{QLatin1String("<DT>"), Marker::Entry},
                    {QLatin1String("</DL>"), Marker::EndFolder},
                    {QLatin1String("<DD>"), Marker::Comment},
                    {QLatin1String("<HR>"), Marker::Divider}};
    for (const auto& known : kMarkers) {
        if (startsWithIgnoringAsciiCase(m_text, at, known.text, exact)) {
            *length = known.text.size();
            return known.marker;
        }
    }
    return Marker::None;
}

qsizetype NetscapeSteps::nextMarker(qsizetype from) const
{
    for (qsizetype at = indexOf(m_text, '<', from); at >= 0; at = indexOf(m_text, '<', at + 1)) {
        qsizetype length = 0;
        bool exact = false;
        if (markerAt(at, &length, &exact) != Marker::None)
            return at;
    }
    return m_text.size();
}

NetscapeSteps::Step NetscapeSteps::next()
{
    for (;;) {
        const qsizetype at = nextMarker(m_offset);
        if (at >= m_text.size()) {
            m_offset = m_text.size();
            return Step::End;
        }
        qsizetype length = 0;
        bool exact = false;
        const Marker marker = markerAt(at, &length, &exact);
        m_offset = at + length;
        if (marker == Marker::Entry)
            return readEntry(at) ? Step::Entry : Step::Unsupported;
        // Only the marker as configured acts; another spelling is passed over (but still ends a comment).
        if (!exact)
            continue;
        switch (marker) {
        case Marker::EndFolder:
            return Step::EndFolder;
        case Marker::Divider:
            return Step::Divider;
        case Marker::Comment: {
            qsizetype end = nextMarker(m_offset);
            while (end > m_offset && (m_text[end - 1] == ' ' || m_text[end - 1] == '\t' ||
                                      m_text[end - 1] == '\r' || m_text[end - 1] == '\n'))
                --end;
            m_comment = m_text.sliced(m_offset, end - m_offset);
            return Step::Comment;
        }
        default:
            return Step::Unsupported;
        }
    }
}

bool NetscapeSteps::readEntry(qsizetype start)
{
    const QByteArrayView text = m_text;
    const qsizetype size = text.size();
    qsizetype i = m_offset;
    while (i < size && isAsciiSpace(text[i]))
        ++i;
    if (i >= size || text[i] != '<') // also a space beyond ASCII, which the general parser would skip
        return false;
    ++i;
    const qsizetype nameStart = i;
    while (i < size && !isTagSpace(text[i]) && text[i] != '>' && text[i] != '/')
        ++i;
    const QByteArrayView tagName = text.sliced(nameStart, i - nameStart);
    if (tagName.size() == 1 && asciiUpper(tagName[0]) == 'A')
        m_entry.folder = false;
    else if (tagName.size() == 2 && asciiUpper(tagName[0]) == 'H' && tagName[1] == '3')
        m_entry.folder = true;
    else
        return false;

    // The tag's attributes, walked as HTMLTag walks them.
    m_entry.attributes.clear();
    for (;;) {
        while (i < size && (isTagSpace(text[i]) || text[i] == '/'))
            ++i;
        if (i >= size)
            return false;
        if (text[i] == '>')
            break;
        const qsizetype attributeStart = i;
        while (i < size && !isTagSpace(text[i]) && text[i] != '=' && text[i] != '>')
            ++i;
        const QByteArrayView name = text.sliced(attributeStart, i - attributeStart);
        qsizetype look = i;
        while (look < size && isTagSpace(text[look]))
            ++look;
        Attribute attribute{name, QByteArrayView(), look >= size || text[look] != '='};
        if (!attribute.bare) {
            i = look + 1;
            while (i < size && isTagSpace(text[i]))
                ++i;
            if (i < size && (text[i] == '"' || text[i] == '\'')) {
                const qsizetype close = indexOf(text, text[i], i + 1);
                if (close < 0)
                    return false;
                attribute.value = text.sliced(i + 1, close - i - 1);
                i = close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < size && !isTagSpace(text[i]) && text[i] != '>')
                    ++i;
                attribute.value = text.sliced(valueStart, i - valueStart);
            }
        }
        if (name.isEmpty())
            return false;
        m_entry.attributes.append(attribute);
    }
    const qsizetype tagEnd = i + 1;

    // The name runs to the ending marker; one holding any other markup is left to the general parser.
    const qsizetype close = indexOf(text, '<', tagEnd);
    if (close < 0 || (!startsWithIgnoringAsciiCase(text, close, QLatin1String("</A>"), nullptr) &&
                      !startsWithIgnoringAsciiCase(text, close, QLatin1String("</H3>"), nullptr)))
        return false;
    m_entry.text = text.sliced(start, close - start);
    m_entry.name = text.sliced(tagEnd, close - tagEnd);
    // The ending marker opens the region examined next, as in the general scanner.
    m_offset = close;
    return true;
}
