#pragma once

#include "formats/QVBrowser.h"

#include <QDateTime>

#include <atomic>

/// Opera's line-oriented hotlist ("Opera Hotlist version 2.0"), stored in UTF-8. Personal-bar items are
/// gathered into one toolbar folder; IDs, folder expansion, personal-bar places and icon files travel as
/// item metadata so a hotlist read and written again keeps them.
class Opera : public QVBrowser
{
public:
    // Item metadata keys this adapter sets and writes.
    static inline const QString kBookmarkIDKey = QStringLiteral("OPBookmarkID");
    static inline const QString kFolderExpandedKey = QStringLiteral("OPFolderExpanded");
    static inline const QString kOnPersonalBarKey = QStringLiteral("OPON_PERSONALBAR");
    static inline const QString kPersonalBarPosKey = QStringLiteral("OPPERSONALBAR_POS");
    static inline const QString kIconFileKey = QStringLiteral("OPICONFILE");
    static inline const QString kTrashFolderKey = QStringLiteral("OPTrashFolder");

    /// Date text written when a bookmark has no date: 1 January 1904 in seconds since 1970.
    static inline const QString kNoDate = QStringLiteral("-2082844800");

    enum class LineEnding { CR, LF };

    explicit Opera(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// The file's lines, split at carriage returns, or at line feeds (which switches the process to LF)
    /// when that gives two pieces or fewer. Null when the file cannot be read.
    static std::optional<QStringList> getFileLines(const QString& path);
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// Appends the records of the folder's children and its closing "-" line.
    static void writeFolder(const QVFolder& folder, QString& out);
    /// The records of the folder's children alone, without a closing line.
    static void writeContents(const QVFolder& folder, QString& out);
    /// "TEXT" with "OPRA".
    static void setFileAttributesAtPath(const QString& path);

    /// One more than the largest ID in the file at the path; -1 when there is no file or no ID.
    static qint64 nextItemIDFromBookmarksAtPath(const QString& path);
    /// Opera's date numbers run 7 hours behind seconds since 1970.
    static double convertTimeIntervalForOpera(double secondsSince1970) { return secondsSince1970 - 25200.0; }
    /// The date number of a CREATED or VISITED line as written: kNoDate for an invalid date.
    static QString dateNumber(const QDateTime& date);

    /// The date of a field line such as "\tCREATED=1227140237"; invalid when there is none.
    static QDateTime readDate(const QString& line);
    static bool isLineLink(const QString& line) { return line.contains(QLatin1String("#URL")); }
    static bool isLineFolder(const QString& line) { return line.contains(QLatin1String("#FOLDER")); }
    /// The text after the first "="; null without one.
    static QString readURL(const QString& line);

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("OPRA"); }
    void clearBookmarkFile() override;
    QString readName(const QString& line) override { return readURL(line); }
    bool readDivider(const QString&) override { return false; }
    /// A line whose first "-" is its first or second character closes a folder.
    bool readEndFolder(const QString& line) override;

    /// The folder the last read gathered the personal-bar items into.
    QVFolderPtr toolbarFolder() const { return m_toolbarFolder; }

    static LineEnding lineEndingStyle() { return s_lineFeeds.load() ? LineEnding::LF : LineEnding::CR; }
    static qint64 nextItemID() { return s_nextItemID.load(); }
    static void resetProcessState();

private:
    struct Fields;
    class Lines;
    /// The file's bytes, and whether they are UTF-8 (else they are Mac OS Roman); null (logged) when the
    /// file cannot be read.
    static std::optional<QByteArray> readFileBytes(const QString& path, bool* utf8);
    /// Where getFileLines splits the file (see there); switches the process to LF as it does.
    static QByteArrayView lineSeparator(const QByteArray& bytes);
    bool readLines(Lines& lines);
    /// Reads the field lines up to and including the next empty line.
    static void readFields(Lines& lines, const QList<QLatin1String>& markers, Fields& fields);
    void addBookmark(const Fields& fields);
    bool addFolder(const Fields& fields);
    bool pushFolder(const QVFolderPtr& folder);

    static std::atomic<bool> s_lineFeeds;
    static std::atomic<qint64> s_nextItemID;

    QVFolderPtr m_toolbarFolder;
    bool m_topLevelClosed = false;
    bool m_itemsAfterTopLevel = false;
};
