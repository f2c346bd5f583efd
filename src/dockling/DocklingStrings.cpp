#include "dockling/DocklingStrings.h"

#include <QHash>

QString QVDocklingLocalized(const QString& key)
{
    static const QHash<QString, QString> table = {
        {QStringLiteral("QVNoFileAvailable"), QStringLiteral("No Bookmarks Yet")},
        {QStringLiteral("QVOpenAddress"), QStringLiteral("Open Address…")},
        {QStringLiteral("QVOpenQuorvit"), QStringLiteral("Open Quorvit")},
        {QStringLiteral("QVQuit"), QStringLiteral("Quit Quorvit Menu")},
        {QStringLiteral("QVOldFileAlert"), QStringLiteral("Your bookmarks menu file is out of date.")},
        {QStringLiteral("QVOldFileMessage"),
         QStringLiteral("Quorvit updates it the next time it starts. Open Quorvit now?")},
        {QStringLiteral("QVUpdateNow"), QStringLiteral("Open Quorvit")},
        {QStringLiteral("QVLater"), QStringLiteral("Later")},
        {QStringLiteral("QVDocklingPath"),
         QStringLiteral("~/Library/Application Support/Quorvit/Dockling File.quorvit")},
        {QStringLiteral("QVOldDocklingPath"),
         QStringLiteral("~/Library/Application Support/Quorvit/Dockling File.qvfl")},
        {QStringLiteral("QVAddressWindowTitle"), QStringLiteral("Open Address")},
        {QStringLiteral("QVOpen"), QStringLiteral("Open")},
    };
    return table.value(key, key);
}
