#include "formats/XBEL.h"
#include "formats/Falkon.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kKonqueror = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE xbel>
<xbel xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks" xmlns:mime="http://www.freedesktop.org/standards/shared-mime-info" xmlns:kdepriv="http://www.kde.org/kdepriv">
 <info>
  <metadata owner="http://www.kde.org">
   <kdepriv:session>x</kdepriv:session>
  </metadata>
 </info>
 <folder folded="no" toolbar="yes">
  <title>Toolbar &amp; more</title>
  <bookmark href="https://kde.org/?a=1&amp;b=2" added="2024-01-02T03:04:05Z">
   <title>KDE</title>
   <info>
    <metadata owner="http://freedesktop.org">
     <bookmark:icon name="www"/>
    </metadata>
   </info>
  </bookmark>
  <separator/>
 </folder>
 <bookmark href="https://example.org/">
  <title>Ex</title>
  <desc>A note</desc>
 </bookmark>
</xbel>
)";

class XBELTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(XBELTest, KonquerorFileReadsAndWritesBackTheSame)
{
    writeBytes(path(QStringLiteral("konqueror/bookmarks.xml")), kKonqueror);
    XBEL adapter(path(QStringLiteral("konqueror/bookmarks.xml")));
    EXPECT_EQ(adapter.browserName(), "Konqueror");
    ASSERT_TRUE(XBEL::isValidFile(adapter.bookmarkPath()));
    ASSERT_TRUE(adapter.readBookmarkFile());
    const QVFolderPtr tree = adapter.bookmarks();
    const auto toolbar = std::static_pointer_cast<QVFolder>(tree->itemAtIndex(0));
    EXPECT_EQ(toolbar->type(), QVFolder::ToolbarFolder);
    EXPECT_EQ(toolbar->name(), "Toolbar & more");
    const auto kde = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(0));
    EXPECT_EQ(kde->urlAddress(), "https://kde.org/?a=1&b=2");
    EXPECT_EQ(kde->addDate(), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), QTimeZone::utc()));
    EXPECT_TRUE(toolbar->itemAtIndex(1)->isDivider());
    EXPECT_EQ(std::static_pointer_cast<QVBookmark>(tree->itemAtIndex(1))->comments(), "A note");

    ASSERT_TRUE(adapter.writeBookmarks(tree, path(QStringLiteral("out.xbel"))));
    EXPECT_EQ(readBytes(path(QStringLiteral("out.xbel"))), kKonqueror);
}

TEST_F(XBELTest, EntityDeclarationsAndBrokenXmlAreRefused)
{
    const QList<QByteArray> bad{
        "<?xml version=\"1.0\"?>\n<!DOCTYPE xbel [<!ENTITY a \"aaaa\">]>\n<xbel><bookmark "
        "href=\"x:\"><title>&a;</title>"
        "</bookmark></xbel>\n",
        "<?xml version=\"1.0\"?>\n<xbel><folder><title>open</title></xbel>\n",
        "<?xml version=\"1.0\"?>\n<html><xbel/></html>\n",
    };
    for (const QByteArray& text : bad) {
        writeBytes(path(QStringLiteral("bad.xbel")), text);
        quorvit::LogCapture log;
        XBEL adapter(path(QStringLiteral("bad.xbel")));
        EXPECT_FALSE(adapter.readBookmarkFile()) << text.constData();
        EXPECT_TRUE(log.lines().join('\n').contains("was not read")) << text.constData();
    }
}

// Texts XML cannot carry (control characters) are left out, so the file always reads again.
TEST_F(XBELTest, WhatItWritesAlwaysReadsBack)
{
    auto tree = newRoot();
    auto folder = addFolder(tree, QStringLiteral("F\x01older"));
    add(folder, QStringLiteral("a\x02<b>&\"c\""), QStringLiteral("https://x/?q=\x03\"'"));
    folder->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    ASSERT_TRUE(XBEL::writeBookmarksToLocation(tree, path(QStringLiteral("out.xbel"))));
    XBEL again(path(QStringLiteral("out.xbel")));
    ASSERT_TRUE(again.readBookmarkFile());
    const auto read = std::static_pointer_cast<QVFolder>(again.bookmarks()->itemAtIndex(0));
    EXPECT_EQ(read->name(), "Folder");
    EXPECT_EQ(read->itemAtIndex(0)->name(), "a<b>&\"c\"");
    EXPECT_EQ(read->itemAtIndex(0)->urlAddress(), "https://x/?q=\"'");
    EXPECT_TRUE(read->itemAtIndex(1)->isDivider());
}

const QByteArray kFalkon = R"({
    "roots": {
        "bookmark_bar": {
            "children": [
                {
                    "description": "",
                    "keyword": "kde",
                    "name": "KDE",
                    "type": "url",
                    "url": "https://kde.org/",
                    "visit_count": 3
                },
                {
                    "type": "separator"
                }
            ],
            "description": "Bookmarks located in Bookmarks Toolbar",
            "expanded": true,
            "expanded_sidebar": true,
            "name": "Bookmarks Toolbar",
            "type": "folder"
        },
        "bookmark_menu": {
            "children": [
                {
                    "children": [
                    ],
                    "description": "",
                    "expanded": false,
                    "expanded_sidebar": false,
                    "name": "Empty",
                    "type": "folder"
                }
            ],
            "description": "Bookmarks located in Bookmarks Menu",
            "expanded": true,
            "expanded_sidebar": true,
            "name": "Bookmarks Menu",
            "type": "folder"
        },
        "other": {
            "children": [
                {
                    "description": "note",
                    "keyword": "",
                    "name": "Unsorted",
                    "type": "url",
                    "url": "https://u/",
                    "visit_count": 0
                }
            ],
            "description": "All other bookmarks",
            "expanded": true,
            "expanded_sidebar": true,
            "name": "Unsorted Bookmarks",
            "type": "folder"
        }
    },
    "version": 1
}
)";

TEST_F(XBELTest, FalkonFileReadsAndWritesBackTheSame)
{
    writeBytes(path(QStringLiteral("bookmarks.json")), kFalkon);
    Falkon adapter(path(QStringLiteral("bookmarks.json")));
    ASSERT_TRUE(Falkon::isValidFile(adapter.bookmarkPath()));
    ASSERT_TRUE(adapter.readBookmarkFile());
    const QVFolderPtr tree = adapter.bookmarks();
    ASSERT_EQ(tree->itemCount(), 3);
    EXPECT_EQ(std::static_pointer_cast<QVFolder>(tree->itemAtIndex(0))->type(), QVFolder::ToolbarFolder);
    EXPECT_EQ(adapter.menuFolder(), tree->itemAtIndex(1));
    const auto kde = std::static_pointer_cast<QVBookmark>(
        std::static_pointer_cast<QVFolder>(tree->itemAtIndex(0))->itemAtIndex(0));
    EXPECT_EQ(kde->mozillaKeywords(), "kde");
    EXPECT_TRUE(kde->comments().isNull());
    EXPECT_EQ(std::static_pointer_cast<QVBookmark>(tree->itemAtIndex(2))->comments(), "note");

    ASSERT_TRUE(adapter.writeBookmarks(tree, path(QStringLiteral("out.json"))));
    EXPECT_EQ(readBytes(path(QStringLiteral("out.json"))), kFalkon);

    // Falkon reads JSON nested at most 1024 deep (as this reader does): nothing deeper is written.
    auto chain = [](int folders) {
        auto tree = newRoot();
        QVFolderPtr folder = tree;
        for (int i = 0; i < folders; ++i)
            folder = addFolder(folder, QStringLiteral("F"));
        add(folder, QStringLiteral("deep"), QStringLiteral("https://deep/"));
        return tree;
    };
    ASSERT_TRUE(Falkon::writeBookmarksToLocation(chain(509), path(QStringLiteral("deep.json"))));
    EXPECT_TRUE(Falkon(path(QStringLiteral("deep.json"))).readBookmarkFile());
    EXPECT_FALSE(Falkon::writeBookmarksToLocation(chain(510), path(QStringLiteral("deeper.json"))));

    // Another version may mean something else by the same keys.
    writeBytes(path(QStringLiteral("v2.json")),
               QByteArray(kFalkon).replace("\"version\": 1", "\"version\": 2"));
    EXPECT_FALSE(Falkon::isValidFile(path(QStringLiteral("v2.json"))));
}

} // namespace
