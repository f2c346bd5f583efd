#include "BookmarkGenerator.h"

#include "formats/AdapterRegistry.h"
#include "model/BookmarkEnumerator.h"
#include "platform/QVLog.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

int bookmarkCount(const QVFolderPtr& root)
{
    int count = 0;
    for (const QVItemPtr& item : BookmarkEnumerator(root).allObjects())
        count += item->isBookmark();
    return count;
}

// Every format's generated file is recognised and reads back with every bookmark, nested folders and
// escaped names included.
TEST(GeneratorTest, EveryFormatReadsBackWithEveryBookmark)
{
    quorvit::setLogToStandardError(false);
    QTemporaryDir dir;
    const BookmarkGenerator::Shape shape{300, 12, 7};
    for (const QString& format : BookmarkGenerator::formatNames()) {
        SCOPED_TRACE(format.toStdString());
        const QString path =
            dir.filePath(format == QLatin1String("quorvit") ? QStringLiteral("Bookmarks.quorvit")
                                                            : format + QStringLiteral(".bookmarks"));
        QString reason;
        ASSERT_TRUE(
            BookmarkGenerator::writeTree(BookmarkGenerator::generateTree(shape), format, path, &reason))
            << reason.toStdString();
        const auto adapter = AdapterRegistry::adapterForPath(path);
        ASSERT_TRUE(adapter);
        ASSERT_TRUE(adapter->readBookmarkFile());
        EXPECT_EQ(bookmarkCount(adapter->bookmarks()), shape.bookmarks);
    }
}

} // namespace
