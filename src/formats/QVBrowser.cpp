#include "formats/QVBrowser.h"

#include "formats/html/TWHTMLParser.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AtomicFile.h"
#include "platform/DeferredEffects.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"

#include <QProcess>

namespace {
void logMissingOverride(const char* operation)
{
    QVLog(QStringLiteral("Alert: should not be calling %1, implement in subclass of QVBrowser!")
              .arg(QLatin1String(operation)));
}

const QString kSubclassLine =
    QStringLiteral("Alert: should not be calling this, implement in subclass of QVBrowser!");
} // namespace

QVBrowser::QVBrowser(const QString& path) : m_bookmarkPath(path.isNull() ? QString(QLatin1String("")) : path)
{}

QVBrowser::~QVBrowser() = default;

bool QVBrowser::isValidFile(const QString&)
{
    QVLog(kSubclassLine);
    return false;
}

bool QVBrowser::writeBookmarksToLocation(const QVFolderPtr&, const QString&)
{
    QVLog(kSubclassLine);
    return false;
}

void QVBrowser::writeFolder(const QVFolder&, QString&)
{
    QVLog(kSubclassLine);
}

void QVBrowser::setFileAttributesAtPath(const QString&)
{
    QVLog(kSubclassLine);
}

std::optional<QStringList> QVBrowser::getFileLines(const QString&)
{
    logMissingOverride("getFileLines");
    return std::nullopt;
}

void QVBrowser::displayWriteErrorWithName(const QString& browserName)
{
    QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("WritingFileFailed"), {browserName}),
                                       QVLocalized(QStringLiteral("ProblemContact")));
}

void QVBrowser::displayReadErrorWithName(const QString& browserName)
{
    QVStandardAlert::showEmailCrashAlert(
        QVLocalized(QStringLiteral("ReadError")),
        // The text names the browser twice; each placeholder is filled once.
        QVLocalized(QStringLiteral("EndFolderErrorDescription"), {browserName, browserName}));
}

void QVBrowser::displayVersionWarningWithName(const QString& browserName, const QString& supportedVersion,
                                              const QString& address, bool olderFile)
{
    // The answer only decides whether the download page opens: a read beside others may ask later.
    if (quorvit::DeferredEffects::isRecording()) {
        quorvit::DeferredEffects::perform(
            [=] { displayVersionWarningWithName(browserName, supportedVersion, address, olderFile); });
        return;
    }
    const QString download = quorvit::StringTable::table().contains(QStringLiteral("DownloadButtonLabel"))
                                 ? QVLocalized(QStringLiteral("DownloadButtonLabel"))
                                 : QString();
    const int answer = QVStandardAlert::showInputNeededAlert(
        QVLocalized(QStringLiteral("UnsupportedFileVersionTitle"), {browserName}),
        QVLocalized(olderFile ? QStringLiteral("UnsupportedOlderFileVersionMessage")
                              : QStringLiteral("UnsupportedFileVersionMessage"),
                    {browserName, supportedVersion}),
        QString(), download, QString());
    if (answer == 0 && !address.isEmpty())
        QProcess::startDetached(QStringLiteral("xdg-open"), {address});
}

bool QVBrowser::isInstalled() const
{
    logMissingOverride("isInstalled");
    return false;
}

bool QVBrowser::readBookmarkFile()
{
    logMissingOverride("readBookmarkFile");
    return false;
}

bool QVBrowser::writeBookmarks(const QVFolderPtr&, const QString&) const
{
    logMissingOverride("writeBookmarks:toLocation:");
    return false;
}

QStringList QVBrowser::companionFilesForWrite(const QString&) const
{
    return QStringList();
}

bool QVBrowser::addItemToBookmarks(QVariantMap&)
{
    logMissingOverride("addItemToBookmarks");
    return false;
}

QString QVBrowser::sharingID() const
{
    logMissingOverride("sharingID");
    return QString();
}

void QVBrowser::clearBookmarkFile()
{
    m_bookmarks.reset();
    m_menuFolder.reset();
}

void QVBrowser::convertStringsToNSDates(QVariantMap&) {}

void QVBrowser::convertScheduleData(QVariantMap&) {}

QString QVBrowser::readName(const QString&)
{
    logMissingOverride("readName");
    return QString();
}

bool QVBrowser::readDivider(const QString&)
{
    logMissingOverride("readDivider");
    return false;
}

bool QVBrowser::readEndFolder(const QString&)
{
    logMissingOverride("readEndFolder");
    return false;
}

void QVBrowser::beginTree()
{
    m_bookmarks = QVFolder::initWithName(QStringLiteral("Root"), m_browserName);
    m_bookmarks->setType(QVFolder::Root);
    m_menuFolder.reset();
    m_currentFolder = m_bookmarks;
    m_folderHeirarchyArray.clear();
    m_folderHeirarchyArray.append(m_bookmarks);
}

void QVBrowser::appendToCurrentFolder(const QVItemPtr& item)
{
    if (!m_currentFolder)
        return;
    m_currentFolder->addItem(item);
    item->setParentFolder(m_currentFolder);
}

bool QVBrowser::openFolder(const QVFolderPtr& folder)
{
    if (m_folderHeirarchyArray.size() > kMaxFolderDepth) {
        QVLog(QStringLiteral("%1 bookmark file nests folders more than %2 deep; not read: %3")
                  .arg(m_browserName)
                  .arg(kMaxFolderDepth)
                  .arg(m_bookmarkPath));
        return false;
    }
    appendToCurrentFolder(folder);
    m_folderHeirarchyArray.append(folder);
    m_currentFolder = folder;
    return true;
}

void QVBrowser::endParse()
{
    m_folderHeirarchyArray.clear();
    m_currentFolder.reset();
}

bool QVBrowser::readWithParser(bool useUnicode, const QMap<QString, QString>& commands,
                               const QMap<QString, QString>& data)
{
    auto parser = TWHTMLParser::initWithPath(m_bookmarkPath, useUnicode);
    m_folderHeirarchyArray.clear();
    if (!parser)
        return false;
    beginTree();
    parser->configureCommands(commands);
    parser->configureData(data);
    const bool result = parser->parseFileForBrowser(this);
    endParse();
    return result;
}

namespace {
int depthBelow(const QVFolder& folder, int stopAt)
{
    int deepest = 0;
    for (const QVItemPtr& item : folder.folderContents()) {
        if (!item->isFolder())
            continue;
        if (stopAt <= 1)
            return 1;
        deepest = std::max(deepest, 1 + depthBelow(static_cast<const QVFolder&>(*item), stopAt - 1));
        if (deepest >= stopAt)
            break;
    }
    return deepest;
}
} // namespace

int QVBrowser::folderDepth(const QVFolder& tree)
{
    return depthBelow(tree, kMaxFolderDepth + 1);
}

bool QVBrowser::isWithinFolderDepth(const QVFolder& tree, const QString& path, int addedLevels)
{
    if (folderDepth(tree) + addedLevels <= kMaxFolderDepth)
        return true;
    QVLog(QStringLiteral("Bookmarks nest folders more than %1 deep, which no bookmark file may; %2 was not "
                         "written")
              .arg(kMaxFolderDepth)
              .arg(path));
    return false;
}

bool QVBrowser::commitFile(const QVFolderPtr& tree, const QString& path,
                           const std::optional<QByteArray>& data, const QString& encodeFailure,
                           const QString& alertBrowserName, void (*setAttributes)(const QString&),
                           int addedLevels)
{
    std::function<bool(quorvit::ByteSink&)> produce;
    if (data)
        produce = [&data](quorvit::ByteSink& sink) { return sink.write(data->constData(), data->size()); };
    return commitStream(tree, path, produce, encodeFailure, alertBrowserName, setAttributes, addedLevels);
}

bool QVBrowser::commitStream(const QVFolderPtr& tree, const QString& path,
                             const std::function<bool(quorvit::ByteSink&)>& produce,
                             const QString& encodeFailure, const QString& alertBrowserName,
                             void (*setAttributes)(const QString&), int addedLevels)
{
    if (tree && !isWithinFolderDepth(*tree, path, addedLevels))
        return false;
    if (!produce) {
        QVLog(encodeFailure);
        return false;
    }
    QString error;
    const bool written = quorvit::writeFileAtomically(path, produce, &error);
    if (!written) {
        QVLog(QStringLiteral("Could not write %1: %2").arg(path, error));
        displayWriteErrorWithName(alertBrowserName);
    }
    if (setAttributes)
        setAttributes(path);
    return written;
}
