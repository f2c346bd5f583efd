#include "formats/html/TWHTMLScanner.h"

#include "formats/html/HTMLTag.h"
#include "platform/QVLog.h"
#include "platform/SystemLocale.h"
#include "platform/TextEncoding.h"

#include <QFile>
#include <QStringDecoder>

namespace {
bool isAsciiLetter(char16_t unit)
{
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
}

char16_t asciiLower(char16_t unit)
{
    return unit >= u'A' && unit <= u'Z' ? char16_t(unit + 32) : unit;
}

// Whether matching the marker ignoring case can be done on ASCII alone: every character is ASCII and
// none is a letter that a non-ASCII character folds to (the Kelvin sign to "k", the long s to "s").
bool isPlainAsciiMarker(QStringView marker)
{
    if (marker.isEmpty())
        return false;
    for (const QChar ch : marker) {
        const char16_t unit = asciiLower(ch.unicode());
        if (unit >= 0x80 || unit == u'k' || unit == u's')
            return false;
    }
    return true;
}

// QStringView::indexOf(marker, from, Qt::CaseInsensitive) for a plain ASCII marker whose first character
// is no letter (markers are tags: "<DT>", "</A>"), which can then be found by its exact first character.
qsizetype indexOfTag(QStringView text, QStringView marker, qsizetype from)
{
    const char16_t first = marker.front().unicode();
    const qsizetype size = text.size();
    const qsizetype length = marker.size();
    const QChar* data = text.data();
    for (qsizetype at = text.indexOf(QChar(first), from); at >= 0 && at + length <= size;
         at = text.indexOf(QChar(first), at + 1)) {
        qsizetype i = 1;
        while (i < length && asciiLower(data[at + i].unicode()) == asciiLower(marker[i].unicode()))
            ++i;
        if (i == length)
            return at;
    }
    return -1;
}
} // namespace

qsizetype TWHTMLScanner::indexOfMarker(QStringView text, QStringView marker, qsizetype from)
{
    if (from >= 0 && isPlainAsciiMarker(marker) && !isAsciiLetter(marker.front().unicode()))
        return indexOfTag(text, marker, from);
    return text.indexOf(marker, from, Qt::CaseInsensitive);
}

namespace {
const QString kLogNoFileData =
    QStringLiteral("An error occurred in TWHTMLScanner - initWithPath, fileData was nil");
const QString kLogNotConfigured =
    QStringLiteral("TWHTMLScanner: configuration error, must set start & end markers before scanning");
} // namespace

std::unique_ptr<TWHTMLScanner> TWHTMLScanner::initWithPath(const QString& path, SpecialMarkerReceiver* parent,
                                                           bool useUnicode)
{
    QByteArray bytes;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (bytes.isEmpty()) {
        QVLog(kLogNoFileData);
        return nullptr;
    }
    return std::make_unique<TWHTMLScanner>(decodeFileData(bytes, useUnicode), parent);
}

QString TWHTMLScanner::decodeFileData(const QByteArray& bytes, bool useUnicode)
{
    if (useUnicode) {
        if (std::optional<QString> text = quorvit::decodeUtf8Strict(bytes))
            return *text;
    }
    if (quorvit::isJapaneseSystem()) {
        QStringDecoder decoder("Shift_JIS");
        if (decoder.isValid()) {
            QString text = decoder.decode(bytes);
            if (!decoder.hasError())
                return text;
        }
    }
    // Every byte has a Mac OS Roman character, so this always succeeds.
    return quorvit::decodeMacRoman(bytes);
}

TWHTMLScanner::TWHTMLScanner(QString text, SpecialMarkerReceiver* parent)
    : m_text(std::move(text)), m_parent(parent)
{}

std::vector<TWHTMLScanner::MarkerCache> TWHTMLScanner::cachesFor(const QStringList& markers)
{
    std::vector<MarkerCache> caches;
    caches.reserve(markers.size());
    for (const QString& marker : markers) {
        MarkerCache cache;
        cache.marker = marker;
        caches.push_back(cache);
    }
    return caches;
}

void TWHTMLScanner::setEntryStartingMarkers(const QStringList& markers)
{
    m_beginning = cachesFor(markers);
    m_configured[0] = true;
}

void TWHTMLScanner::setEntryEndingMarkers(const QStringList& markers)
{
    m_ending = cachesFor(markers);
    m_configured[1] = true;
}

void TWHTMLScanner::setSpecialMarkers(const QStringList& markers)
{
    m_specialMarkers = markers;
}

qsizetype TWHTMLScanner::nextOccurrence(MarkerCache& cache, qsizetype from)
{
    // An empty marker matches nothing (it would otherwise match everywhere).
    if (cache.marker.isEmpty() || cache.next == -1)
        return -1;
    // The text never changes and `from` only grows, so a cached hit at or after `from` is still the next
    // one; a marker absent from the rest of the file is thus searched for once, not once per entry.
    if (cache.next < from)
        cache.next = indexOfMarker(m_text, cache.marker, from);
    return cache.next;
}

qsizetype TWHTMLScanner::nearest(std::vector<MarkerCache>& markers, qsizetype from, qsizetype* length)
{
    qsizetype best = -1;
    for (MarkerCache& cache : markers) {
        const qsizetype found = nextOccurrence(cache, from);
        // Strictly smaller: on a tie the marker listed first wins.
        if (found >= 0 && (best < 0 || found < best)) {
            best = found;
            if (length)
                *length = cache.marker.size();
        }
    }
    return best;
}

void TWHTMLScanner::finish()
{
    checkStringForSpecialMarkers(QStringView(m_text).mid(m_offset));
    m_offset = m_text.size();
}

QString TWHTMLScanner::nextObject()
{
    if (!m_configured[0] || !m_configured[1]) {
        QVLog(kLogNotConfigured);
        return QString();
    }
    const QStringView text(m_text);

    qsizetype startLength = 0;
    const qsizetype start = nearest(m_beginning, m_offset, &startLength);
    if (start < 0) {
        finish();
        return QString();
    }
    checkStringForSpecialMarkers(text.mid(m_offset, start - m_offset));
    m_offset = start;

    qsizetype from = m_offset;
    if (m_skipFirstTag) {
        qsizetype tag = start + startLength;
        while (tag < text.size() && text[tag].isSpace())
            ++tag;
        // A tag that never closes gives no safe place to start from; its entry ends where it would have.
        const qsizetype tagEnd = HTMLTag::endOf(text, tag);
        if (tagEnd > from)
            from = tagEnd;
    }
    // An ending marker right at the entry start would make an empty entry: that ends the file.
    const qsizetype end = nearest(m_ending, from);
    if (end <= m_offset) {
        m_endedInsideEntry = true;
        finish();
        return QString();
    }
    const QStringView entry = text.mid(m_offset, end - m_offset);
    // Markers inside the first tag's quoted values are text, not markup.
    checkStringForSpecialMarkers(text.mid(from, end - from));
    // The ending marker stays: it opens the region examined before the next entry.
    m_offset = end;
    return entry.toString();
}

void TWHTMLScanner::checkStringForSpecialMarkers(QStringView region)
{
    if (!m_parent || region.isEmpty() || m_specialMarkers.isEmpty())
        return;
    // Merge the occurrences of all markers so they are reported in text order (ties: list order).
    // Searches stay inside the region, so a marker absent from it costs one pass over the region.
    const qsizetype count = m_specialMarkers.size();
    std::vector<qsizetype> next(count);
    for (qsizetype i = 0; i < count; ++i) {
        const QString& marker = m_specialMarkers.at(i);
        next[i] = marker.isEmpty() ? -1 : indexOfMarker(region, marker, 0);
    }
    for (;;) {
        qsizetype best = -1;
        for (qsizetype i = 0; i < count; ++i) {
            if (next[i] >= 0 && (best < 0 || next[i] < next[best]))
                best = i;
        }
        if (best < 0)
            break;
        const QString& marker = m_specialMarkers.at(best);
        const qsizetype position = next[best];
        m_parent->specialMarkerWasFound(region.mid(position, marker.size()).toString(), region, position);
        next[best] = indexOfMarker(region, marker, position + marker.size());
    }
}
