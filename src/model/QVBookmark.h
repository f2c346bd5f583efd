#pragma once

#include "model/QVItem.h"

#include <QDateTime>

class QVBookmark;
using QVBookmarkPtr = std::shared_ptr<QVBookmark>;

/// A link. Absent dates are invalid QDateTimes; absent texts are null QStrings.
class QVBookmark : public QVItem
{
public:
    /// Broken-link states, as set by the link checker.
    enum BrokenStatus { Unchecked = 0, Answered = 1, NotFound = 2, OtherFailure = 3, Redirected = 4 };

    QVBookmark() : QVItem(Kind::Bookmark) {}

    /// Builds a bookmark from an item dictionary and removes the keys it consumed (all but the name and
    /// address keys). Returns null when the dictionary has neither "AddressKey" nor "RSSFeedURL".
    static QVBookmarkPtr initBookmarkWithDictionary(QVariantMap& dictionary);
    /// A new bookmark made by the program: added now, source "Quorvit".
    static QVBookmarkPtr initBookmarkWithName(const QString& name, const QString& address);
    /// A bookmark as a reader finds it in a file: no date the file does not give, source "Quorvit".
    static QVBookmarkPtr readBookmarkWithName(const QString& name, const QString& address);

    const QDateTime& addDate() const { return m_addDate; }
    void setAddDate(const QDateTime& date) { m_addDate = date; }
    const QString& comments() const { return m_comments; }
    void setComments(const QString& comments) { m_comments = comments; }
    const QDateTime& lastUpdateDate() const { return m_lastUpdate; }
    void setLastUpdate(const QDateTime& date) { m_lastUpdate = date; }
    const QDateTime& lastVisitDate() const { return m_lastVisit; }
    void setLastVisit(const QDateTime& date) { m_lastVisit = date; }
    const QString& HTMLComments() const { return m_htmlComments; }
    void setHTMLComments(const QString& comments) { m_htmlComments = comments; }
    const QString& mozillaKeywords() const { return m_keywords; }
    void setMozillaKeywords(const QString& keywords) { m_keywords = keywords; }
    int brokenStatus() const { return m_brokenStatus; }
    /// Stores the link-check result and posts "bookmarkIsBrokenNotification".
    void setBroken(int status);
    int scheduleUpdateFrequency() const { return m_schedule; }
    void setScheduleUpdateFrequency(int seconds) { m_schedule = seconds; }
    int wordCount() const { return m_wordCount; }
    void setWordCount(int count) { m_wordCount = count; }

    /// The "RSSFeedURL" metadata with an "http:" scheme turned into "feed:"; null when there is none.
    QString rssToFeedAddress() const;
    /// The "RSSFeedURL" metadata with a "feed:" scheme turned into "http:"; null when there is none.
    QString rssToHTTPAddress() const;

private:
    QDateTime m_addDate;
    QString m_comments;
    QDateTime m_lastUpdate;
    QDateTime m_lastVisit;
    QString m_htmlComments;
    QString m_keywords;
    int m_brokenStatus = 0;
    int m_schedule = 0;
    int m_wordCount = 0;
};
