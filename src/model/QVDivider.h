#pragma once

#include "model/QVItem.h"

/// A separator line: named "------------", no address.
class QVDivider : public QVItem
{
public:
    explicit QVDivider(const QString& source);
    static std::shared_ptr<QVDivider> initWithSource(const QString& source);
};
