#pragma once

#include <QIcon>
#include <QIdentityProxyModel>
#include <QStringList>

#include <functional>

class QDateTime;

/// An icon by theme name or file path, falling back to a generic file icon so a row never goes bare
/// (a desktop without an icon theme still shows something).
QIcon iconForName(const QString& name);

/// The windows' view of the engine's table models: the icon names those answer as decoration become
/// icons, column headers get readable titles, and chosen columns get a display text of their own.
class TableDisplayProxy : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    void setHeaderLabels(const QStringList& labels) { m_headers = labels; }
    /// The display text of a column, made from the source's edit value.
    void setColumnFormatter(int column, std::function<QString(const QVariant&)> formatter);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList m_headers;
    int m_formattedColumn = -1;
    std::function<QString(const QVariant&)> m_formatter;
};
