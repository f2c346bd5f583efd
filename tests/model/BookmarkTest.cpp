#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "model/QVFolder.h"
#include "platform/NotificationCenter.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ostream>

using quorvit::Notification;
using quorvit::NotificationCenter;
using quorvit::ScopedObserver;

namespace {

QDateTime utc(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0), QTimeZone::utc());
}

TEST(BookmarkFromDictionary, FillsFieldsAndConsumesAllButNameAndAddress)
{
    QVariantMap dictionary{{ItemKey::Name, QStringLiteral("Example")},
                           {ItemKey::Address, QStringLiteral("http://example.com/")},
                           {ItemKey::RSSFeedURL, QStringLiteral("http://example.com/feed")},
                           {ItemKey::Comments, QStringLiteral("A comment")},
                           {ItemKey::CreationDate, utc(2001, 2, 3)},
                           {ItemKey::LastVisit, utc(2002, 3, 4)},
                           {ItemKey::LastUpdate, utc(2003, 4, 5)},
                           {ItemKey::UpdateScheduleInSeconds, qlonglong(-1)},
                           {ItemKey::WordCount, 250.0},
                           {ItemKey::BrowserSource, QStringLiteral("Camino")},
                           {ItemKey::Keyword, QStringLiteral("ex")},
                           {QStringLiteral("SomethingElse"), 1}};
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(dictionary);
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->name(), QStringLiteral("Example"));
    EXPECT_EQ(bookmark->urlAddress(), QStringLiteral("http://example.com/"));
    EXPECT_EQ(bookmark->comments(), QStringLiteral("A comment"));
    EXPECT_EQ(bookmark->addDate(), utc(2001, 2, 3));
    EXPECT_EQ(bookmark->lastVisitDate(), utc(2002, 3, 4));
    EXPECT_EQ(bookmark->lastUpdateDate(), utc(2003, 4, 5));
    EXPECT_EQ(bookmark->scheduleUpdateFrequency(), -1);
    EXPECT_EQ(bookmark->wordCount(), 250);
    EXPECT_EQ(bookmark->source(), QStringLiteral("Camino"));
    EXPECT_EQ(bookmark->mozillaKeywords(), QStringLiteral("ex"));
    EXPECT_TRUE(bookmark->HTMLComments().isNull());
    EXPECT_EQ(bookmark->brokenStatus(), QVBookmark::Unchecked);
    EXPECT_FALSE(bookmark->parentFolder());

    const QStringList left = dictionary.keys();
    EXPECT_EQ(left, (QStringList{ItemKey::Address, ItemKey::Name, ItemKey::RSSFeedURL,
                                 QStringLiteral("SomethingElse")}));
}

TEST(BookmarkFromDictionary, FeedAddressStandsInForMissingAddress)
{
    QVariantMap dictionary{{ItemKey::RSSFeedURL, QStringLiteral("feed://example.com/rss")}};
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(dictionary);
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->urlAddress(), QStringLiteral("feed://example.com/rss"));
    // Absent keys give empty, non-null texts and no dates.
    EXPECT_FALSE(bookmark->name().isNull());
    EXPECT_TRUE(bookmark->name().isEmpty());
    EXPECT_FALSE(bookmark->source().isNull());
    EXPECT_FALSE(bookmark->addDate().isValid());
    EXPECT_TRUE(bookmark->comments().isNull());
    EXPECT_EQ(bookmark->wordCount(), 0);
    EXPECT_EQ(dictionary.size(), 1);
}

TEST(BookmarkFromDictionary, NoAddressAtAllGivesNothingAndTouchesNothing)
{
    QVariantMap dictionary{{ItemKey::Name, QStringLiteral("x")}, {ItemKey::Comments, QStringLiteral("kept")}};
    const QVariantMap before = dictionary;
    EXPECT_FALSE(QVBookmark::initBookmarkWithDictionary(dictionary));
    EXPECT_EQ(dictionary, before);
}

TEST(Bookmark, MadeByTheProgram)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithName(QStringLiteral("n"), QStringLiteral("a"));
    EXPECT_EQ(bookmark->source(), QStringLiteral("Quorvit"));
    EXPECT_GE(bookmark->addDate(), before);
    EXPECT_LE(bookmark->addDate(), QDateTime::currentDateTimeUtc());
    EXPECT_FALSE(bookmark->lastVisitDate().isValid());
}

TEST(Item, NullTextsAreStoredEmpty)
{
    const std::vector<QVItemPtr> items{
        QVBookmark::initBookmarkWithName(QStringLiteral("n"), QStringLiteral("a")),
        QVFolder::initWithName(QStringLiteral("n"), QStringLiteral("s")),
        QVDivider::initWithSource(QStringLiteral("s"))};
    for (const QVItemPtr& item : items) {
        item->setName(QString());
        item->setAddress(QString());
        item->setSource(QString());
        EXPECT_FALSE(item->name().isNull());
        EXPECT_TRUE(item->name().isEmpty());
        EXPECT_FALSE(item->urlAddress().isNull());
        EXPECT_FALSE(item->source().isNull());
        // The HTML name alone may be null: it means "not needed".
        item->setHTMLName(QString());
        EXPECT_TRUE(item->HTMLName().isNull());
    }
}

TEST(Item, MetaDataIgnoresInvalidValuesAndEmptyKeys)
{
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithName(QStringLiteral("n"), QStringLiteral("a"));
    bookmark->setMetaData(QVariant(), QStringLiteral("k"));
    bookmark->setMetaData(1, QString());
    EXPECT_TRUE(bookmark->allMetaDataKeys().isEmpty());
    bookmark->setMetaData(QStringLiteral("v"), QStringLiteral("k"));
    EXPECT_EQ(bookmark->metaDataForKey(QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_FALSE(bookmark->metaDataForKey(QStringLiteral("absent")).isValid());
}

TEST(Item, DescriptionNamesTheItem)
{
    const QVBookmarkPtr bookmark =
        QVBookmark::initBookmarkWithName(QStringLiteral("Name"), QStringLiteral("http://a.example/"));
    EXPECT_TRUE(bookmark->description().endsWith(QStringLiteral(" Name (http://a.example/)")));
}

TEST(Divider, IsTwelveHyphensWithoutAddress)
{
    const auto divider = QVDivider::initWithSource(QStringLiteral("Opera"));
    EXPECT_EQ(divider->name(), QStringLiteral("------------"));
    EXPECT_EQ(divider->name().size(), 12);
    EXPECT_TRUE(divider->urlAddress().isEmpty());
    EXPECT_TRUE(divider->HTMLName().isNull());
    EXPECT_EQ(divider->source(), QStringLiteral("Opera"));
    EXPECT_TRUE(divider->isDivider());
}

TEST(Bookmark, SettingBrokenStatusPostsWithTheBookmark)
{
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithName(QStringLiteral("n"), QStringLiteral("a"));
    QList<const void*> objects;
    ScopedObserver observer(NotificationCenter::defaultCenter(),
                            QStringLiteral("bookmarkIsBrokenNotification"),
                            [&](const Notification& n) { objects << n.object; });
    bookmark->setBroken(QVBookmark::NotFound);
    EXPECT_EQ(bookmark->brokenStatus(), QVBookmark::NotFound);
    EXPECT_EQ(objects, QList<const void*>{bookmark.get()});
}

struct FeedCase
{
    const char* name;
    friend void PrintTo(const FeedCase& c, std::ostream* os) { *os << c.name; }
    QVariant metaData; // invalid: none
    QString feed;      // null: none
    QString http;
};

class FeedAddress : public testing::TestWithParam<FeedCase>
{
};

TEST_P(FeedAddress, SwapsTheScheme)
{
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithName(QStringLiteral("n"), QStringLiteral("a"));
    bookmark->setMetaData(GetParam().metaData, ItemKey::RSSFeedURL);
    EXPECT_EQ(bookmark->rssToFeedAddress(), GetParam().feed);
    EXPECT_EQ(bookmark->rssToFeedAddress().isNull(), GetParam().feed.isNull());
    EXPECT_EQ(bookmark->rssToHTTPAddress(), GetParam().http);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FeedAddress,
    testing::Values(
        FeedCase{"None", QVariant(), QString(), QString()},
        FeedCase{"Http", QStringLiteral("http://a.example/rss"), QStringLiteral("feed://a.example/rss"),
                 QStringLiteral("http://a.example/rss")},
        FeedCase{"Feed", QStringLiteral("feed://a.example/rss"), QStringLiteral("feed://a.example/rss"),
                 QStringLiteral("http://a.example/rss")},
        FeedCase{"HttpSchemeOnly", QStringLiteral("http:"), QStringLiteral("http:"), QStringLiteral("http:")},
        FeedCase{"FeedSchemeOnly", QStringLiteral("feed:"), QStringLiteral("feed:"), QStringLiteral("feed:")},
        FeedCase{"SixCharacters", QStringLiteral("http:x"), QStringLiteral("feed:x"),
                 QStringLiteral("http:x")},
        FeedCase{"Https", QStringLiteral("https://a/"), QStringLiteral("https://a/"),
                 QStringLiteral("https://a/")},
        FeedCase{"UpperCaseScheme", QStringLiteral("HTTP://a/"), QStringLiteral("HTTP://a/"),
                 QStringLiteral("HTTP://a/")},
        FeedCase{"Empty", QString(QLatin1String("")), QString(QLatin1String("")),
                 QString(QLatin1String(""))}),
    [](const testing::TestParamInfo<FeedCase>& info) { return std::string(info.param.name); });

} // namespace
