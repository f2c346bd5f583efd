#include "model/QVItem.h"

namespace {
QString nonNull(const QString& text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}
} // namespace

void QVItem::setName(const QString& name)
{
    m_name = nonNull(name);
}

void QVItem::setAddress(const QString& address)
{
    m_address = nonNull(address);
}

void QVItem::setSource(const QString& source)
{
    m_source = nonNull(source);
}

void QVItem::setMetaData(const QVariant& value, const QString& key)
{
    if (!value.isValid() || key.isEmpty())
        return;
    m_metaData.insert(key, value);
}

QString QVItem::description() const
{
    static const char* const kKindNames[] = {"QVBookmark", "QVFolder", "QVDivider"};
    const QString object =
        QStringLiteral("<%1: 0x%2>").arg(QLatin1String(kKindNames[int(m_kind)])).arg(quintptr(this), 0, 16);
    return QStringLiteral("%1 %2 (%3)").arg(object, m_name, m_address);
}
