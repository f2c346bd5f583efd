#include "BrowserIcons.h"

#include <QApplication>
#include <QFileInfo>
#include <QStyle>

QIcon iconForName(const QString& name)
{
    QIcon icon;
    if (name.startsWith(QLatin1Char('/')) && QFileInfo(name).isFile())
        icon = QIcon(name);
    else if (!name.isEmpty())
        icon = QIcon::fromTheme(name);
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}

void TableDisplayProxy::setColumnFormatter(int column, std::function<QString(const QVariant&)> formatter)
{
    m_formattedColumn = column;
    m_formatter = std::move(formatter);
}

QVariant TableDisplayProxy::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole) {
        const QVariant value = QIdentityProxyModel::data(index, role);
        if (value.typeId() == QMetaType::QString)
            return iconForName(value.toString());
        return value;
    }
    if (role == Qt::DisplayRole && index.column() == m_formattedColumn && m_formatter)
        return m_formatter(QIdentityProxyModel::data(index, Qt::EditRole));
    return QIdentityProxyModel::data(index, role);
}

QVariant TableDisplayProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < m_headers.size())
        return m_headers.at(section);
    return QIdentityProxyModel::headerData(section, orientation, role);
}
