#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace quorvit {

/// Key → localised text, loaded from the string tables compiled into the program.
/// A key the table lacks stands for itself.
class StringTable
{
public:
    explicit StringTable(const QString& name);

    /// The tables "QVStrings" (default), "TWCURLTaskStrings" and "TWUpdateStrings".
    static StringTable& table(const QString& name = QStringLiteral("QVStrings"));

    QString text(const QString& key) const;
    bool contains(const QString& key) const;

    /// Test seam: replaces (or, with a null text, removes) one entry.
    void setText(const QString& key, const QString& text);

    /// Replaces the first "^0", "^1", "^2" … each with the matching argument.
    static QString fillPlaceholders(QString text, const QStringList& arguments);

private:
    mutable QMutex m_mutex;
    QHash<QString, QString> m_texts;
};

} // namespace quorvit

/// The text of a key of the QVStrings table.
QString QVLocalized(const QString& key);
/// The text of a key of the QVStrings table with its placeholders filled.
QString QVLocalized(const QString& key, const QStringList& arguments);
