#include "model/QVBookmark.h"

#include "model/ItemKeys.h"
#include "platform/NotificationCenter.h"

namespace {
QString swapScheme(const QVariant& feed, QLatin1String from, QLatin1String to)
{
    if (!feed.isValid())
        return QString();
    const QString address = feed.toString();
    if (address.size() < 6 || !address.startsWith(from))
        return address;
    return to + address.mid(5);
}

int takeInteger(QVariantMap& dictionary, const QString& key)
{
    return dictionary.contains(key) ? dictionary.take(key).toInt() : 0;
}

QDateTime takeDate(QVariantMap& dictionary, const QString& key)
{
    return dictionary.contains(key) ? dictionary.take(key).toDateTime() : QDateTime();
}
} // namespace

QVBookmarkPtr QVBookmark::initBookmarkWithDictionary(QVariantMap& dictionary)
{
    const bool hasAddress = dictionary.contains(ItemKey::Address);
    if (!hasAddress && !dictionary.contains(ItemKey::RSSFeedURL))
        return nullptr;
    auto bookmark = std::make_shared<QVBookmark>();
    bookmark->setName(dictionary.value(ItemKey::Name).toString());
    bookmark->setAddress(dictionary.value(hasAddress ? ItemKey::Address : ItemKey::RSSFeedURL).toString());
    if (dictionary.contains(ItemKey::Comments))
        bookmark->m_comments = dictionary.take(ItemKey::Comments).toString();
    bookmark->m_lastVisit = takeDate(dictionary, ItemKey::LastVisit);
    bookmark->m_addDate = takeDate(dictionary, ItemKey::CreationDate);
    bookmark->m_lastUpdate = takeDate(dictionary, ItemKey::LastUpdate);
    bookmark->m_schedule = takeInteger(dictionary, ItemKey::UpdateScheduleInSeconds);
    bookmark->m_wordCount = takeInteger(dictionary, ItemKey::WordCount);
    bookmark->setSource(dictionary.take(ItemKey::BrowserSource).toString());
    if (dictionary.contains(ItemKey::Keyword))
        bookmark->m_keywords = dictionary.take(ItemKey::Keyword).toString();
    return bookmark;
}

QVBookmarkPtr QVBookmark::initBookmarkWithName(const QString& name, const QString& address)
{
    auto bookmark = readBookmarkWithName(name, address);
    bookmark->m_addDate = QDateTime::currentDateTimeUtc();
    return bookmark;
}

QVBookmarkPtr QVBookmark::readBookmarkWithName(const QString& name, const QString& address)
{
    auto bookmark = std::make_shared<QVBookmark>();
    bookmark->setName(name);
    bookmark->setAddress(address);
    bookmark->setSource(QStringLiteral("Quorvit"));
    return bookmark;
}

void QVBookmark::setBroken(int status)
{
    m_brokenStatus = status;
    quorvit::NotificationCenter::defaultCenter().postNotification(ModelNotification::BookmarkIsBroken, this);
}

QString QVBookmark::rssToFeedAddress() const
{
    return swapScheme(metaDataForKey(ItemKey::RSSFeedURL), QLatin1String("http:"), QLatin1String("feed:"));
}

QString QVBookmark::rssToHTTPAddress() const
{
    return swapScheme(metaDataForKey(ItemKey::RSSFeedURL), QLatin1String("feed:"), QLatin1String("http:"));
}
