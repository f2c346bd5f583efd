#include "CompareReference.h"

#include "model/QVDivider.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

/// Random trees built the same way from the same seed, so each algorithm gets its own identical copy.
class TreeGenerator
{
public:
    explicit TreeGenerator(quint32 seed) : m_random(seed) {}

    QVFolderPtr tree(const QString& source, int items)
    {
        auto root = QVFolder::initWithName(QStringLiteral("Root"), source);
        root->setType(QVFolder::Root);
        QList<QVFolderPtr> folders{root};
        for (int i = 0; i < items; ++i) {
            const QVFolderPtr parent = folders.at(int(m_random.bounded(folders.size())));
            const int kind = int(m_random.bounded(10));
            QVItemPtr item;
            if (kind == 0) {
                auto folder = QVFolder::initWithName(name(), source);
                folder->setSafariUUID(QStringLiteral("U%1").arg(m_random.bounded(5)),
                                      QStringLiteral("p%1").arg(i % 3));
                folders.append(folder);
                item = folder;
            } else if (kind == 1) {
                item = QVDivider::initWithSource(source);
            } else {
                item = bookmark(source);
            }
            parent->addItem(item);
            item->setParentFolder(parent);
        }
        return root;
    }

private:
    QString name()
    {
        // A small vocabulary in several cases, with empty names, so keys collide often.
        static const QStringList words{
            QStringLiteral("alpha"), QStringLiteral("Alpha"), QStringLiteral("ALPHA"), QStringLiteral("beta"),
            QStringLiteral("Gamma"), QStringLiteral(""), QStringLiteral("delta"), QStringLiteral("Émile"),
            QStringLiteral("émile"), QStringLiteral("zeta"), QStringLiteral("Zeta"), QStringLiteral("eta"),
            // ASCII that folding puts on the other side of letters, and
            // letters whose case is not ASCII's.
            QStringLiteral("_zeta"), QStringLiteral("[eta]"), QStringLiteral("Stra\u00dfe"),
            QStringLiteral("STRASSE"), QStringLiteral("\u03a3\u03b9"), QStringLiteral("\u03c3\u03b9")};
        QString text = words.at(int(m_random.bounded(words.size())));
        if (m_random.bounded(3) == 0)
            text += QString::number(m_random.bounded(4));
        return text;
    }

    QVBookmarkPtr bookmark(const QString& source)
    {
        auto bookmark = std::make_shared<QVBookmark>();
        bookmark->setName(name());
        bookmark->setAddress(QStringLiteral("http://%1.example/%2").arg(name()).arg(m_random.bounded(3)));
        bookmark->setSource(source);
        if (m_random.bounded(2))
            bookmark->setAddDate(
                QDateTime::fromSecsSinceEpoch(1000000000 + m_random.bounded(1000), QTimeZone::utc()));
        if (m_random.bounded(3) == 0)
            bookmark->setComments(QStringLiteral("note %1").arg(m_random.bounded(10)));
        if (m_random.bounded(4) == 0)
            bookmark->setMozillaKeywords(QStringLiteral("kw%1").arg(m_random.bounded(5)));
        if (m_random.bounded(5) == 0)
            bookmark->setScheduleUpdateFrequency(60 * int(m_random.bounded(1, 30)));
        if (m_random.bounded(4) == 0)
            bookmark->setMetaData(QStringLiteral("v%1").arg(m_random.bounded(3)),
                                  QStringLiteral("K%1").arg(m_random.bounded(3)));
        return bookmark;
    }

    QRandomGenerator m_random;
};

/// Every detail of every item, so two trees print alike only when they are alike.
QString describe(const QVFolderPtr& folder, int depth = 0)
{
    QString out;
    if (!folder)
        return QStringLiteral("(none)");
    for (const QVItemPtr& item : folder->folderContents()) {
        out += QString(depth, QLatin1Char(' '));
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            QStringList uuids;
            for (auto it = child.safariUUIDDictionary().begin(); it != child.safariUUIDDictionary().end();
                 ++it)
                uuids.append(it.key() + QLatin1Char('=') + it.value());
            uuids.sort();
            out += QStringLiteral("F %1 [%2]\n").arg(child.name(), uuids.join(QLatin1Char(',')));
            out += describe(std::static_pointer_cast<QVFolder>(item), depth + 1);
        } else if (item->isDivider()) {
            out += QStringLiteral("---\n");
        } else {
            const auto& b = static_cast<const QVBookmark&>(*item);
            QStringList meta;
            for (const QString& key : b.allMetaDataKeys())
                meta.append(key + QLatin1Char('=') + b.metaDataForKey(key).toString());
            out += QStringLiteral("B %1 <%2> %3 %4 %5 %6 %7 %8 {%9}\n")
                       .arg(b.name(), b.urlAddress(), b.source(), b.addDate().toString(Qt::ISODate),
                            b.comments(), b.mozillaKeywords())
                       .arg(b.scheduleUpdateFrequency())
                       .arg(b.parentFolder() ? b.parentFolder()->name() : QStringLiteral("-"))
                       .arg(meta.join(QLatin1Char(',')));
        }
    }
    return out;
}

struct Inputs
{
    QVFolderPtr base;
    QVFolderPtr gathering;
};

Inputs inputs(quint32 seed, int sources, int items)
{
    TreeGenerator generator(seed);
    Inputs made;
    made.base = generator.tree(QStringLiteral("Base"), items);
    made.gathering = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    for (int i = 0; i < sources; ++i)
        made.gathering->addItem(generator.tree(QStringLiteral("Source %1").arg(i), items));
    return made;
}

class CompareEquivalence : public ::testing::TestWithParam<std::tuple<quint32, int>>
{
};

TEST_P(CompareEquivalence, IndexedAndLiteralGiveTheSameTrees)
{
    const auto [seed, method] = GetParam();
    const std::atomic<int> running{SyncController::Running};
    Inputs literal = inputs(seed, 3, 120);
    Inputs indexed = inputs(seed, 3, 120);
    ASSERT_EQ(describe(literal.base), describe(indexed.base));

    const QVFolderPtr expectedMissing = reference::compare(literal.base, literal.gathering, method);
    const QVFolderPtr missing =
        SyncController::compareBookmarksToBase(indexed.base, indexed.gathering, method, running);
    EXPECT_EQ(describe(missing), describe(expectedMissing));
    EXPECT_EQ(describe(indexed.base), describe(literal.base));

    reference::filter(literal.base, method);
    SyncController::filterDefaultBookmarks(indexed.base, method, running);
    EXPECT_EQ(describe(indexed.base), describe(literal.base));
}

INSTANTIATE_TEST_SUITE_P(Seeds, CompareEquivalence,
                         ::testing::Combine(::testing::Range(1u, 21u),
                                            ::testing::Values(int(SyncController::CompareByName),
                                                              int(SyncController::CompareByAddress))));

TEST(Compare, MissingFolderIsSortedAndKeepsArrivalOrderForEqualKeys)
{
    auto base = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("b"));
    auto known = QVBookmark::initBookmarkWithName(QStringLiteral("known"), QStringLiteral("http://k/"));
    base->addItem(known);
    auto source = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("s"));
    QList<QVBookmarkPtr> made;
    for (const char* name : {"beta", "Alpha", "known", "alpha", "ALPHA", "Alpha", ""}) {
        auto bookmark =
            QVBookmark::initBookmarkWithName(QLatin1String(name), QStringLiteral("http://x/") + name);
        bookmark->setComments(QStringLiteral("from source"));
        source->addItem(bookmark);
        made.append(bookmark);
    }
    auto gathering = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    gathering->addItem(source);
    const std::atomic<int> running{SyncController::Running};
    const QVFolderPtr missing =
        SyncController::compareBookmarksToBase(base, gathering, SyncController::CompareByName, running);
    QStringList names;
    for (const QVItemPtr& item : missing->folderContents())
        names.append(item->name());
    // Case variants stay, in arrival order; the exact repeat "Alpha" is dropped.
    EXPECT_EQ(names, (QStringList{"", "Alpha", "alpha", "ALPHA", "beta"}));
    EXPECT_EQ(missing->itemAtIndex(1), made.at(1)); // not a copy
    EXPECT_EQ(made.at(1)->parentFolder(), missing);
    EXPECT_EQ(source->itemCount(), 7);                           // still in its source tree too
    EXPECT_EQ(known->comments(), QStringLiteral("from source")); // an empty detail filled from its twin
}

TEST(Compare, ALargeMissingSetIsOrderedAsBySingleStableSort)
{
    // Enough to be sorted in parts; each key comes in two cases, one in each half of the arrivals.
    constexpr int kKeys = 12000;
    QRandomGenerator random(7);
    QStringList arrivals;
    for (int i = 0; i < kKeys; ++i)
        arrivals.append(QStringLiteral("key %1 x").arg(random.bounded(kKeys * 4)));
    for (int i = 0; i < kKeys; ++i)
        arrivals.append(arrivals.at(i).toUpper());
    auto source = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("s"));
    for (const QString& name : arrivals)
        source->addItem(QVBookmark::initBookmarkWithName(name, QStringLiteral("http://x/") + name));
    auto gathering = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    gathering->addItem(source);
    const std::atomic<int> running{SyncController::Running};
    const QVFolderPtr missing = SyncController::compareBookmarksToBase(
        QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("b")), gathering,
        SyncController::CompareByName, running);

    QStringList expected;
    QSet<QString> seen;
    for (const QString& name : arrivals) {
        if (!seen.contains(name))
            expected.append(name);
        seen.insert(name);
    }
    std::stable_sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    QStringList names;
    for (const QVItemPtr& item : missing->folderContents())
        names.append(item->name());
    EXPECT_EQ(names, expected);
}

TEST(Compare, FilterRemovesOnlyTheFirstOfEachDuplicatedKey)
{
    auto base = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("b"));
    auto folder = QVFolder::initWithName(QStringLiteral("F"), QStringLiteral("b"));
    base->addItem(folder);
    folder->setParentFolder(base);
    QList<QVBookmarkPtr> items;
    for (const char* name : {"a", "b", "a", "a", "c"}) {
        auto bookmark =
            QVBookmark::initBookmarkWithName(QLatin1String(name), QStringLiteral("http://") + name);
        const QVFolderPtr parent = items.size() % 2 ? folder : base;
        parent->addItem(bookmark);
        bookmark->setParentFolder(parent);
        items.append(bookmark);
    }
    const std::atomic<int> running{SyncController::Running};
    SyncController::filterDefaultBookmarks(base, SyncController::CompareByName, running);
    // Walk order is base's children (a, a, c), then F's (b, a): the first "a" goes, two stay.
    EXPECT_EQ(base->indexOfObject(items.at(0).get()), -1);
    EXPECT_NE(base->indexOfObject(items.at(2).get()), -1);
    EXPECT_NE(folder->indexOfObject(items.at(3).get()), -1);
    EXPECT_EQ(base->itemCount() + folder->itemCount(), 5); // F, a, c + b, a
}

} // namespace
