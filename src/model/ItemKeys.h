#pragma once

#include <QString>

/// Keys of the item dictionary: the key/value form of one parsed item handed to the model.
namespace ItemKey {
inline const QString Name = QStringLiteral("NameKey");
inline const QString Address = QStringLiteral("AddressKey");
inline const QString RSSFeedURL = QStringLiteral("RSSFeedURL");
inline const QString Comments = QStringLiteral("CommentsKey");
inline const QString CreationDate = QStringLiteral("CreationDateKey");
inline const QString LastVisit = QStringLiteral("LastVisitKey");
inline const QString LastUpdate = QStringLiteral("LastUpdateKey");
inline const QString UpdateScheduleInSeconds = QStringLiteral("UpdateScheduleInSecondsKey");
inline const QString WordCount = QStringLiteral("WordCountKey");
inline const QString BrowserSource = QStringLiteral("BrowserSourceKey");
inline const QString Keyword = QStringLiteral("KeywordKey");
} // namespace ItemKey

/// Notifications the model posts on the default centre.
namespace ModelNotification {
inline const QString BookmarkIsBroken = QStringLiteral("bookmarkIsBrokenNotification");
inline const QString UpdatePreviewMenu = QStringLiteral("QVUpdatePreviewMenuNotification");
inline const QString UpdateTransferMenu = QStringLiteral("QVUpdateTransferMenuNotification");
} // namespace ModelNotification
