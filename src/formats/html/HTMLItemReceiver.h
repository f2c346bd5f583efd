#pragma once

#include <QVariantMap>

/// What the HTML tag parser hands its items to (the HTML adapters).
class HTMLItemReceiver
{
public:
    virtual ~HTMLItemReceiver() = default;
    /// Receives one folder start, folder end, divider or bookmark, in file order.
    /// Returning false ends the parse with failure.
    virtual bool addItemToBookmarks(QVariantMap& item) = 0;
};
