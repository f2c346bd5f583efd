#include "formats/html/HTMLTag.h"

namespace {

bool isSpace(QChar ch)
{
    return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r' || ch == u'\f';
}

// Walks one tag; `tag` may be null when only its end is wanted.
qsizetype walk(QStringView text, qsizetype i, HTMLTag* tag)
{
    const qsizetype size = text.size();
    if (i >= size || text[i] != u'<')
        return -1;
    ++i;
    const qsizetype nameStart = i;
    while (i < size && !isSpace(text[i]) && text[i] != u'>' && text[i] != u'/')
        ++i;
    if (i == nameStart)
        return -1;
    if (tag)
        tag->name = text.mid(nameStart, i - nameStart).toString();
    for (;;) {
        while (i < size && (isSpace(text[i]) || text[i] == u'/'))
            ++i;
        if (i >= size)
            return -1;
        if (text[i] == u'>')
            return i + 1;
        const qsizetype attributeStart = i;
        while (i < size && !isSpace(text[i]) && text[i] != u'=' && text[i] != u'>')
            ++i;
        const QStringView name = text.mid(attributeStart, i - attributeStart);
        qsizetype look = i;
        while (look < size && isSpace(text[look]))
            ++look;
        QStringView value;
        const bool bare = look >= size || text[look] != u'=';
        if (!bare) {
            i = look + 1;
            while (i < size && isSpace(text[i]))
                ++i;
            if (i < size && (text[i] == u'"' || text[i] == u'\'')) {
                const qsizetype close = text.indexOf(text[i], i + 1);
                if (close < 0)
                    return -1;
                value = text.mid(i + 1, close - i - 1);
                i = close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < size && !isSpace(text[i]) && text[i] != u'>')
                    ++i;
                value = text.mid(valueStart, i - valueStart);
            }
        }
        if (tag && !name.isEmpty())
            tag->attributes.append(HTMLAttribute{name.toString(), value.toString(), bare});
    }
}

} // namespace

qsizetype HTMLTag::indexOf(QLatin1String attribute) const
{
    for (qsizetype i = 0; i < attributes.size(); ++i) {
        if (attributes.at(i).name.compare(attribute, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

std::optional<HTMLTag> HTMLTag::read(QStringView text, qsizetype position)
{
    HTMLTag tag;
    tag.end = walk(text, position, &tag);
    if (tag.end < 0)
        return std::nullopt;
    return tag;
}

qsizetype HTMLTag::endOf(QStringView text, qsizetype position)
{
    return walk(text, position, nullptr);
}
