#pragma once

#include <QString>

/// Keys that configure the HTML tag parser and mark the events it delivers; they never reach the model.
namespace ParserKey {
// Command keys: which marker text plays which role.
inline const QString NewItem = QStringLiteral("NewItemKey");
inline const QString NewFolder = QStringLiteral("NewFolderKey");
inline const QString EndItemData = QStringLiteral("EndItemDataKey");
inline const QString EndFolderData = QStringLiteral("EndFolderDataKey");
inline const QString EndFolder = QStringLiteral("EndFolderKey");
inline const QString Comments = QStringLiteral("CommentsKey");
inline const QString Divider = QStringLiteral("DividerKey");
inline const QString OpenFolder = QStringLiteral("OpenFolderKey");

// Values stored under the event keys above in the dictionaries the parser queues.
inline const QString EndFolderValue = QStringLiteral("End Folder");
inline const QString DividerValue = QStringLiteral("Divider");
inline const QString OpenFolderValue = QStringLiteral("Open Folder");

// Attribute keys shared by the HTML adapters.
inline const QString FolderMarker = QStringLiteral("FolderMarkerKey");
inline const QString ToolbarFolder = QStringLiteral("ToolbarFolderKey");
inline const QString TabbedGroup = QStringLiteral("TabbedGroupKey");
inline const QString ObjectType = QStringLiteral("ObjectTypeKey");
inline const QString UpdateScheduleTime = QStringLiteral("UpdateScheduleTimeKey");
// The entry's own text, for receivers that read its tag themselves.
inline const QString EntryText = QStringLiteral("EntryTextKey");
} // namespace ParserKey
