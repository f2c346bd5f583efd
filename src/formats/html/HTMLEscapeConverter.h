#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace quorvit {
class Utf8Writer;
}

/// Turns names and comments into HTML-safe text (named entities, decimal references) and back.
/// One program-wide instance; its tables never change after creation, so any thread may use it.
class HTMLEscapeConverter
{
public:
    HTMLEscapeConverter();
    static HTMLEscapeConverter& sharedInstance();

    /// True when the text holds "&", "\"", "<", ">" or a character from U+0080 up; false for empty text.
    bool containsHighASCIIChar(const QString& text) const;
    /// The text itself when containsHighASCIIChar says no, else convertHighASCIIFromString.
    QString convertToHTMLCharacters(const QString& text, bool extended, bool unicode) const;
    /// Escapes the four basic characters (keeping an existing "&amp;"), then with extended the 126
    /// table characters as named entities, then with unicode every code unit from 128 as "&#N;".
    QString convertHighASCIIFromString(const QString& text, bool extended, bool unicode) const;
    /// Every UTF-16 code unit of value 128 or more as a decimal reference.
    QString convertUnicodeFromString(const QString& text) const;

    /// The text itself when it holds no "&", else convertHTMLFromString.
    QString convertToASCIICharacters(const QString& text) const;
    /// Decodes the basic entities ("&amp;" first), the 126 table entities, then decimal references.
    QString convertHTMLFromString(const QString& text) const;
    /// Decodes decimal references "&#N;" (N truncated to 16 bits; no digits gives U+0000).
    QString convertToUnicodeCharacters(const QString& text) const;

    /// An attribute value as browsers read it: every character reference decoded exactly once (the basic
    /// entities, "&apos;", "&nbsp;", the table's names, "&#N;" and "&#xH;"); anything else stays as it is.
    QString decodeAttributeValue(const QString& value) const;
    QString decodeAttributeValue(QStringView value) const;
    /// The value escaped for a double-quoted attribute: "&", "\"", "<", ">" and line ends as references,
    /// so that decodeAttributeValue gives it back exactly.
    static QString escapeAttributeValue(const QString& value);
    /// The same, written straight into the writer.
    static void escapeAttributeValue(QStringView value, quorvit::Utf8Writer& out);

    /// What a browser means by a table character: the Windows-1252 reading of U+0080-U+009F
    /// (U+2019 for U+0092); any other character is itself.
    static QChar windows1252Meaning(QChar ch);

    // The tables, in order (exposed for tests).
    const QStringList& minHtmlValues() const { return m_minHtmlValues; }
    const QStringList& minCharValues() const { return m_minCharValues; }
    const QStringList& htmlValues() const { return m_htmlValues; }
    const QStringList& charValues() const { return m_charValues; }

private:
    QStringList m_minHtmlValues;
    QStringList m_minCharValues;
    QStringList m_htmlValues;
    QStringList m_charValues;
    QHash<QString, QChar> m_entityToChar; // the 126-row table, non-empty entities only, as browsers read them
    QHash<QChar, QString> m_charToEntity; // the 126-row table, empty entity = delete
    qsizetype m_longestEntity = 0;
};
