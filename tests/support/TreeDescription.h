#pragma once

// Every field of every item of a tree as text, so that two readers' trees can be compared whole:
// null and empty strings differ, dates keep their milliseconds and spec, metadata its types.
#include "model/QVBookmark.h"
#include "model/QVFolder.h"

#include <QDebug>
#include <QString>

namespace testsupport {

inline QString quoted(const QString& text)
{
    return text.isNull() ? QStringLiteral("<null>") : QLatin1Char('"') + text + QLatin1Char('"');
}

inline QString dateText(const QDateTime& date)
{
    return date.isValid() ? QString::number(date.toMSecsSinceEpoch()) : QStringLiteral("-");
}

inline void describeItem(const QVItem& item, const QVFolder* parent, int depth, QString& out)
{
    QString line;
    QDebug(&line).nospace() << item.metaData();
    out += QString(depth * 2, QLatin1Char(' ')) + QString::number(int(item.kind())) + QLatin1Char(' ') +
           quoted(item.name()) + QLatin1Char(' ') + quoted(item.urlAddress()) + QLatin1Char(' ') +
           quoted(item.HTMLName()) + QLatin1Char(' ') + quoted(item.source()) + QLatin1Char(' ') + line;
    if (item.parentFolder().get() != parent)
        out += QStringLiteral(" WRONG-PARENT");
    if (item.isBookmark()) {
        const auto& bookmark = static_cast<const QVBookmark&>(item);
        out += QStringLiteral(" dates %1 %2 %3 ")
                   .arg(dateText(bookmark.addDate()), dateText(bookmark.lastVisitDate()),
                        dateText(bookmark.lastUpdateDate())) +
               quoted(bookmark.comments()) + QLatin1Char(' ') + quoted(bookmark.HTMLComments()) +
               QLatin1Char(' ') + quoted(bookmark.mozillaKeywords()) +
               QStringLiteral(" %1 %2 %3")
                   .arg(bookmark.brokenStatus())
                   .arg(bookmark.scheduleUpdateFrequency())
                   .arg(bookmark.wordCount());
    }
    out += QLatin1Char('\n');
    if (item.isFolder()) {
        const auto& folder = static_cast<const QVFolder&>(item);
        QString uuids;
        QDebug(&uuids).nospace() << folder.safariUUIDDictionary();
        out += QString(depth * 2, QLatin1Char(' ')) + QStringLiteral("type %1 ").arg(folder.type()) + uuids +
               QLatin1Char('\n');
        for (const QVItemPtr& child : folder.folderContents())
            describeItem(*child, &folder, depth + 1, out);
    }
}

inline QString describeTree(const QVFolderPtr& tree)
{
    if (!tree)
        return QStringLiteral("<no tree>");
    QString out;
    describeItem(*tree, nullptr, 0, out);
    return out;
}

} // namespace testsupport
