#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

/// Receives the special markers the scanner meets.
class SpecialMarkerReceiver
{
public:
    virtual ~SpecialMarkerReceiver() = default;
    /// found: the marker's text as it stands in the file; region: the text examined;
    /// position: where this occurrence starts within region.
    virtual void specialMarkerWasFound(const QString& found, QStringView region, qsizetype position) = 0;
};

/// Cuts an HTML bookmark file into entries between starting and ending markers, and reports special
/// markers found between and inside entries. Works on offsets into the text, so reading is linear in
/// the file's size. One scanner serves one read and cannot be rewound.
class TWHTMLScanner
{
public:
    /// Reads and decodes the file: UTF-8 when useUnicode, then Shift JIS on a Japanese system or
    /// Mac OS Roman otherwise. Returns null (and logs) when the file is missing, unreadable or empty.
    static std::unique_ptr<TWHTMLScanner> initWithPath(const QString& path, SpecialMarkerReceiver* parent,
                                                       bool useUnicode);
    /// A scanner over text already in memory.
    TWHTMLScanner(QString text, SpecialMarkerReceiver* parent);

    /// The file's bytes as text, decoded the way initWithPath does.
    static QString decodeFileData(const QByteArray& bytes, bool useUnicode);

    void setEntryStartingMarkers(const QStringList& markers);
    void setEntryEndingMarkers(const QStringList& markers);
    void setSpecialMarkers(const QStringList& markers);

    /// The next entry's text (from its starting marker up to, not including, its ending marker),
    /// or a null QString at the end.
    QString nextObject();

    /// text.indexOf(marker, from, Qt::CaseInsensitive), with a fast path for tag-like ASCII markers.
    static qsizetype indexOfMarker(QStringView text, QStringView marker, qsizetype from);

    /// Reports every special marker in the region, in text order (ties: list order).
    void checkStringForSpecialMarkers(QStringView region);

    /// When set, an ending marker inside the entry's first tag (in a quoted attribute value) does not
    /// end the entry.
    void setEndingMarkersSkipFirstTag(bool skip) { m_skipFirstTag = skip; }
    /// True once an entry started but no ending marker followed it: its text was not returned.
    bool endedInsideEntry() const { return m_endedInsideEntry; }

private:
    struct MarkerCache
    {
        QString marker;
        qsizetype next = -2; // -2: not searched yet; -1: no further occurrence
    };
    static std::vector<MarkerCache> cachesFor(const QStringList& markers);
    qsizetype nextOccurrence(MarkerCache& cache, qsizetype from);
    /// The smallest next occurrence among the markers (ties: the one listed first), or -1; `length`
    /// receives the length of the marker found.
    qsizetype nearest(std::vector<MarkerCache>& markers, qsizetype from, qsizetype* length = nullptr);
    /// Reports the special markers of the rest of the text and consumes it.
    void finish();

    QString m_text;
    qsizetype m_offset = 0;
    bool m_configured[2] = {false, false};
    bool m_skipFirstTag = false;
    bool m_endedInsideEntry = false;
    std::vector<MarkerCache> m_beginning;
    std::vector<MarkerCache> m_ending;
    QStringList m_specialMarkers;
    SpecialMarkerReceiver* m_parent;
};
