#include "model/QVDivider.h"

QVDivider::QVDivider(const QString& source) : QVItem(Kind::Divider)
{
    m_name = QStringLiteral("------------");
    setSource(source);
}

std::shared_ptr<QVDivider> QVDivider::initWithSource(const QString& source)
{
    return std::make_shared<QVDivider>(source);
}
