#pragma once

#include "formats/html/TWHTMLScanner.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <vector>

class HTMLItemReceiver;

/// Marker-driven reader of HTML bookmark files: turns each entry into an item dictionary and hands the
/// dictionaries, one step late so a following comment can join its item, to the receiver in file order.
class TWHTMLParser : public SpecialMarkerReceiver
{
public:
    /// Null when the file cannot be read (the scanner logs why).
    static std::unique_ptr<TWHTMLParser> initWithPath(const QString& path, bool useUnicode);
    /// A parser over text already in memory.
    explicit TWHTMLParser(const QString& text);
    ~TWHTMLParser() override;

    /// Command key (ParserKey) → marker text; builds the scanner's marker lists.
    bool configureCommands(const QMap<QString, QString>& commands);
    /// Item key → attribute marker text, e.g. "AddressKey" → " HREF=".
    bool configureData(const QMap<QString, QString>& data);

    /// Runs the whole file. Returns false when the receiver refused an item.
    bool parseFileForBrowser(HTMLItemReceiver* browser);

    /// Hands each entry's own text to the receiver, under ParserKey::EntryText, instead of the data markers'
    /// dictionary, and lets an ending marker inside the entry's first tag (a quoted attribute value) not end
    /// the entry.
    void setKeepsEntryText(bool keep);
    /// True when the text ended inside an entry that was therefore never delivered.
    bool endedInsideEntry() const { return m_scanner && m_scanner->endedInsideEntry(); }

    void specialMarkerWasFound(const QString& found, QStringView region, qsizetype position) override;

    /// The dictionary of one entry (exposed for tests).
    QVariantMap createDictionaryForString(const QString& entry) const;

private:
    TWHTMLParser() = default;
    bool queueNextItem(QVariantMap item);
    /// Queues an event dictionary; a refusal marks the parse as failed.
    void queueEvent(const QString& key, const QString& value);
    /// The comment starting at `start`: up to the next special marker or the region's end, trailing
    /// white space removed.
    QString commentAt(QStringView region, qsizetype start);

    // Where each special marker next occurs in the region the last comment came from. Comments of one
    // region arrive in text order, so each marker is searched for once per region, not once per comment.
    struct CommentEndCache
    {
        const QChar* data = nullptr;
        qsizetype size = -1;
        qsizetype from = -1;
        std::vector<qsizetype> next;
    };

    std::unique_ptr<TWHTMLScanner> m_scanner;
    HTMLItemReceiver* m_parentController = nullptr;
    QMap<QString, QString> m_commands;
    QMap<QString, QString> m_data;
    QStringList m_specialMarkers;
    CommentEndCache m_commentEnds;
    std::optional<QVariantMap> m_lastDict;
    bool m_failed = false;
    bool m_keepsEntryText = false;
};
