#include "GuiTestSupport.h"

#include "app/SearchController.h"
#include "model/QVBookmark.h"
#include "platform/UserDefaults.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

namespace {

QVItemPtr bookmark(const QString& name, const QString& address)
{
    return QVBookmark::readBookmarkWithName(name, address);
}

QStringList names(const QList<QVItemPtr>& items)
{
    QStringList result;
    for (const QVItemPtr& item : items)
        result.append(item->name());
    return result;
}

struct SearchSheet : ::testing::Test
{
    SearchSheet()
    {
        one->addItem(inOne);
        two->addItem(inTwo);
        for (const QVItemPtr& item : QList<QVItemPtr>{one, two, rootBeta, alphaBeta, other})
            root->addItem(item);
    }

    void selectResult(const QVItemPtr& item)
    {
        sheet.resultTable()->selectRow(int(sheet.searchResults().indexOf(item)));
    }

    QVFolderPtr root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    QVFolderPtr one = QVFolder::initWithName(QStringLiteral("one"), QStringLiteral("Quorvit"));
    QVFolderPtr two = QVFolder::initWithName(QStringLiteral("zz beta two"), QStringLiteral("Quorvit"));
    QVItemPtr inOne = bookmark(QStringLiteral("beta"), QStringLiteral("http://one.example/"));
    QVItemPtr inTwo = bookmark(QStringLiteral("BEta"), QStringLiteral("http://two.example/"));
    QVItemPtr rootBeta = bookmark(QStringLiteral("Beta"), QStringLiteral("http://root.example/"));
    QVItemPtr alphaBeta = bookmark(QStringLiteral("Alpha Beta"), QStringLiteral("http://alpha.example/"));
    QVItemPtr other = bookmark(QStringLiteral("Weather"), QStringLiteral("http://beta.example/fold"));
    quorvit::UserDefaults defaults{QString()};
    SearchController sheet{root, defaults};
};

// Hits are sorted by name; equal names keep the walk's order, which finishes a folder's own items before
// going into the last subfolder met, then the one before it.
TEST_F(SearchSheet, HitsSortByNameWithTiesInWalkOrder)
{
    sheet.setCriterion(SearchController::MatchName);
    sheet.searchForString(QStringLiteral("beta"));
    EXPECT_EQ(sheet.searchResults(), (QList<QVItemPtr>{alphaBeta, rootBeta, inTwo, inOne, two}));
    EXPECT_EQ(sheet.statusField()->text(), QStringLiteral("5 found"));

    sheet.resize(520, 300);
    sheet.show();
    selectResult(rootBeta);
    testsupport::saveScreenshot(sheet, QStringLiteral("find-sheet"));
}

TEST_F(SearchSheet, EachCriterionLooksWhereItSays)
{
    sheet.setCriterion(SearchController::MatchAddress);
    sheet.searchForString(QStringLiteral("BETA.example"));
    EXPECT_EQ(names(sheet.searchResults()), QStringList{QStringLiteral("Weather")});
    // Folders only carry a placeholder address: no folder is a hit for an address search.
    sheet.searchForString(QStringLiteral("fold"));
    EXPECT_EQ(names(sheet.searchResults()), QStringList{QStringLiteral("Weather")});

    sheet.setCriterion(SearchController::MatchNameOrAddress);
    sheet.searchForString(QStringLiteral("o"));
    EXPECT_EQ(sheet.searchResults(), (QList<QVItemPtr>{rootBeta, inTwo, inOne, one, other, two}));

    sheet.setCriterion(SearchController::MatchName);
    sheet.searchForString(QStringLiteral("example"));
    EXPECT_TRUE(sheet.searchResults().isEmpty());
}

TEST_F(SearchSheet, EmptyTreeKeepsThePreviousHits)
{
    sheet.setCriterion(SearchController::MatchName);
    sheet.searchForString(QStringLiteral("weather"));
    sheet.setRoot(QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit")));
    sheet.searchForString(QStringLiteral("beta"));
    EXPECT_EQ(sheet.searchResults(), QList<QVItemPtr>{other});
}

TEST_F(SearchSheet, OpenAndShowAHitThenRememberTheCriterion)
{
    QSignalSpy opened(&sheet, &SearchController::openRequested);
    QSignalSpy shown(&sheet, &SearchController::showInOutline);
    sheet.setCriterion(SearchController::MatchNameOrAddress);
    sheet.searchForString(QStringLiteral("beta"));

    selectResult(two); // a folder has no address to open
    sheet.openSelectedResult();
    EXPECT_EQ(opened.count(), 0);
    selectResult(inOne);
    sheet.openSelectedResult();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.first().first().value<QList<QVItemPtr>>(), QList<QVItemPtr>{inOne});

    sheet.displaySelectedResult();
    ASSERT_EQ(shown.count(), 1);
    EXPECT_EQ(shown.first().first().value<QVItemPtr>(), inOne);
    EXPECT_EQ(sheet.result(), SearchController::DisplayCode);

    EXPECT_EQ(defaults.integerForKey(kCurrentSearchCriteriaKey), SearchController::MatchNameOrAddress);
    SearchController reopened(root, defaults);
    EXPECT_EQ(reopened.criterion(), SearchController::MatchNameOrAddress);
}

} // namespace
