#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "model/QVFolder.h"
#include "sync/SyncController.h"

#include <gtest/gtest.h>

namespace {

struct Tree
{
    QVFolderPtr root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("t"));
    QVFolderPtr folder = QVFolder::initWithName(QStringLiteral("Caf\u00e9 &amp; Bar"), QStringLiteral("t"));
    QVBookmarkPtr bookmark =
        QVBookmark::initBookmarkWithName(QStringLiteral("Plain"), QStringLiteral("http://a/"));
    QVItemPtr divider = QVDivider::initWithSource(QStringLiteral("t"));

    Tree()
    {
        root->addItem(folder);
        folder->addItem(bookmark);
        folder->addItem(divider);
    }
};

TEST(CharacterPasses, HighAsciiPassSetsHtmlFormsOnlyWhereNeeded)
{
    Tree tree;
    tree.bookmark->setHTMLName(QStringLiteral("stale"));
    tree.bookmark->setComments(QStringLiteral("5 < 6 \u20ac"));
    SyncController::convertHighASCIICharactersToHTMLInFolder(tree.root);
    EXPECT_TRUE(tree.bookmark->HTMLName().isNull());
    EXPECT_EQ(tree.folder->HTMLName(), QStringLiteral("Caf&eacute; &amp; Bar"));
    EXPECT_EQ(tree.bookmark->HTMLComments(), QStringLiteral("5 &lt; 6 &#8364;"));
    EXPECT_TRUE(tree.root->HTMLName().isNull()); // the walk starts below the folder given
}

TEST(CharacterPasses, EscapePassDecodesNamesAndComments)
{
    Tree tree;
    tree.bookmark->setName(QStringLiteral("AT&T &lt;b&gt; &#233;"));
    tree.bookmark->setComments(QStringLiteral("&amp;amp;"));
    SyncController::convertHTMLEscapeCharactersInFolder(tree.root);
    EXPECT_EQ(tree.folder->name(), QStringLiteral("Caf\u00e9 & Bar"));
    EXPECT_EQ(tree.bookmark->name(), QStringLiteral("AT&T <b> \u00e9"));
    EXPECT_EQ(tree.bookmark->comments(), QStringLiteral("&amp;")); // one decoding step, not two
}

TEST(CharacterPasses, StripReplacesControlsButKeepsDividersAndJoiners)
{
    Tree tree;
    tree.bookmark->setName(QStringLiteral("a\tb\u0001c\u200bd"));
    tree.bookmark->setComments(QStringLiteral("line1\nline2\x7f") + QChar(0xD800));
    tree.folder->setName(QStringLiteral("family \U0001F468\u200D\U0001F469 \uFFFF"));
    tree.divider->setName(QStringLiteral("--\u0001--"));
    SyncController::stripIllegalCharactersInFolder(tree.root);
    EXPECT_EQ(tree.bookmark->name(), QStringLiteral("a b c d"));
    EXPECT_EQ(tree.bookmark->comments(), QStringLiteral("line1 line2  "));
    EXPECT_EQ(tree.folder->name(), QStringLiteral("family \U0001F468\u200D\U0001F469  "));
    EXPECT_EQ(tree.divider->name(), QStringLiteral("--\u0001--"));
}

TEST(CharacterPasses, StripCountsASurrogatePairAsOneCharacter)
{
    QString text = QStringLiteral("x\U0001FFFEy") + QChar(0xD800) + QStringLiteral("z");
    EXPECT_TRUE(SyncController::stripCharacterSet(&SyncController::isIllegalCharacter, text));
    EXPECT_EQ(text, QStringLiteral("x y z"));
    QString clean = QStringLiteral("nothing to do \U0001F600");
    EXPECT_FALSE(SyncController::stripCharacterSet(&SyncController::isIllegalCharacter, clean));
}

} // namespace
