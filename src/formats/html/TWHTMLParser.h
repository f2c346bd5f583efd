#pragma once

#include "formats/html/TWHTMLScanner.h"

#include <QMap>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

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

    void specialMarkerWasFound(const QString& found, QStringView region, qsizetype position) override;

    /// The dictionary of one entry (exposed for tests).
    QVariantMap createDictionaryForString(const QString& entry) const;

private:
    TWHTMLParser() = default;
    bool queueNextItem(QVariantMap item);
    QString commentAt(QStringView region, qsizetype start) const;

    std::unique_ptr<TWHTMLScanner> m_scanner;
    HTMLItemReceiver* m_parentController = nullptr;
    QMap<QString, QString> m_commands;
    QMap<QString, QString> m_data;
    std::optional<QVariantMap> m_lastDict;
    bool m_failed = false;
};
