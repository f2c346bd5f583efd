#pragma once

#include <QByteArrayView>
#include <QVarLengthArray>

/// Cuts a Netscape bookmark file, as UTF-8, into the steps the general HTML parser (TWHTMLScanner with the
/// Netscape markers) finds in it: entries from "<DT>" to their "</A>" or "</H3>", folder ends, dividers
/// and the comments behind entries, in the same places and order, without copying any text. A file
/// where the two could part ways (a name holding markup, a tag that never closes, an odd first tag)
/// gives Step::Unsupported, and the caller reads it with the general parser instead. Markers and tags are
/// ASCII, so cutting the bytes cuts the text at the same characters.
class NetscapeSteps
{
public:
    enum class Step { Entry, EndFolder, Divider, Comment, End, Unsupported };

    struct Attribute
    {
        QByteArrayView name;
        QByteArrayView value; // null when bare
        bool bare = false;
    };

    struct Entry
    {
        QByteArrayView text; // from "<DT>" up to its ending marker, as the general scanner cuts it
        QByteArrayView name; // behind the tag
        bool folder = false; // an "H3" tag; else an "A"
        QVarLengthArray<Attribute, 8> attributes;
    };

    explicit NetscapeSteps(QByteArrayView text) : m_text(text) {}

    Step next();
    /// The entry of the last Step::Entry.
    const Entry& entry() const { return m_entry; }
    /// The text of the last Step::Comment, its trailing line end and blanks removed.
    QByteArrayView comment() const { return m_comment; }

private:
    enum class Marker { None, Entry, EndFolder, Comment, Divider };
    /// The marker at `at` (matched ignoring ASCII case, as the general scanner does), and its length.
    Marker markerAt(qsizetype at, qsizetype* length, bool* exact) const;
    /// Position of the next marker at or after `from`, or the text's size.
    qsizetype nextMarker(qsizetype from) const;
    bool readEntry(qsizetype start);

    QByteArrayView m_text;
    qsizetype m_offset = 0;
    Entry m_entry;
    QByteArrayView m_comment;
};
