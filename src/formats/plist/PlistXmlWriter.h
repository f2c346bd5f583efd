#pragma once

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QVariant>

#include <vector>

/// Writes the XML form of a property list straight into one buffer, byte for byte as
/// quorvit::plist::toXml writes the same values, without building libplist's node tree first.
///
/// Containers are opened and closed in order; a dictionary's keys go in the order they are given (callers
/// that stand in for a QVariantMap give them in its sorted order). value() writes any QVariant as toXml
/// does, skipping what a property list cannot hold.
class PlistXmlWriter
{
public:
    /// Starts the document; `expectedSize` reserves the buffer.
    explicit PlistXmlWriter(qsizetype expectedSize = 0);

    /// The whole XML form of one value, as quorvit::plist::toXml gives it.
    static QByteArray document(const QVariant& value);

    /// Room for that many bytes in all: pages never written are never taken from the system, so a
    /// generous guess costs nothing and saves copying a large buffer as it grows.
    void reserve(qsizetype bytes) { m_out.reserve(bytes); }

    void beginDict();
    void endDict();
    void beginArray();
    void endArray();
    void key(QLatin1StringView text);
    /// A key as toXml writes a QVariantMap key: NUL characters dropped.
    void key(const QString& text);
    void string(QLatin1StringView text);
    /// Text as toXml writes it: NUL characters dropped, "<", ">" and "&" escaped.
    void string(const QString& text);
    void boolean(bool value);
    void integer(qlonglong value);
    /// Writes the value when a property list can hold it; answers whether it wrote anything.
    bool value(const QVariant& value);
    /// A dictionary entry: the key and its value, or nothing when the value cannot be held.
    void entry(QLatin1StringView name, const QVariant& value);

    /// Ends the document and hands over the text.
    QByteArray finish();

private:
    void indent();
    void open(const char* tag);
    void close(const char* tag, const char* empty);
    void escaped(const char* text, qsizetype length);
    /// One element on its own line, its text escaped.
    void escapedLine(const char* tag, const char* text, qsizetype length);
    void scalarLine(const char* tag, QByteArrayView text);
    void real(double value);
    void date(const QVariant& value);
    void data(const QByteArray& bytes);
    void map(const QVariantMap& map);

    QByteArray m_out;
    /// Where each open container's opening tag starts and ends, to make an empty one "<tag/>".
    struct Open
    {
        qsizetype start;
        qsizetype contentStart;
    };
    std::vector<Open> m_open;
};
