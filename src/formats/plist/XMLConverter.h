#pragma once

#include "formats/plist/PlistFile.h"
#include "model/QVFolder.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

class BinaryPlist;
class XmlPlist;
class QVBrowser;
class QVBookmark;

/// Item-metadata keys that the property-list layouts carry through the tree.
namespace PlistMetaKey {
inline const QString UUID = QStringLiteral("SFUUID");
inline const QString AutoUpdateRSS = QStringLiteral("SRAAutoUpdateRSS");
inline const QString CaminoStatus = QStringLiteral("CAStatus");
inline const QString CaminoVisitCount = QStringLiteral("CAVisitCount");
inline const QString FolderDescription = QStringLiteral("FolderDescription");
inline const QString CaminoFolderKeyword = QStringLiteral("CAFolderKeyword");
inline const QString CaminoDockFolder = QStringLiteral("CADockFolder");
} // namespace PlistMetaKey

/// Turns the item arrays of the four property-list layouts (Safari, Camino, Shiira and the program's own
/// ".quorvit"/dockling layout) into a bookmark tree and back. Works on values already in memory: loading,
/// saving and the root dictionary are the callers' work.
///
/// Reading: make the root folder, call the layout's convert…Dictionary once. Writing: call the layout's
/// writeFolderTo…Array with the root and an empty array; the Safari, Camino and Shiira writers lift the
/// toolbar folder (and, for Safari and Camino, the menu folder) out of the tree: place them from
/// bookmarksBar() and bookmarksMenu(). The own layout writes every folder in its place.
class XMLConverter
{
public:
    /// A converter for writers (no adapter).
    XMLConverter();
    /// A converter for a read by `browser` (may be null): folder sources are its browserName and the menu
    /// folder found is handed to its setMenuFolder. The browser is not owned.
    XMLConverter(const QString& path, QVBrowser* browser);

    /// The dictionary the last write made for the tree's toolbar folder; nothing when it had none.
    const std::optional<QVariantMap>& bookmarksBar() const { return m_bookmarksBarDict; }
    /// The same for the tree's bookmarks-menu folder (Safari and Camino only).
    const std::optional<QVariantMap>& bookmarksMenu() const { return m_menuDict; }
    /// Forgets both, so that a further write through this converter places only its own.
    void clearPlacedFolders();
    /// The Safari proxy entries of the last read, unchanged and in file order.
    const QVariantList& proxyBookmarkDictionaries() const { return m_proxyBookmarkItems; }
    /// "WebBookmarkFileVersion" of the last Safari root read; invalid when it had none.
    const QVariant& versionNumber() const { return m_fileVersionNumber; }
    const QString& bookmarkPath() const { return m_bookmarkPath; }
    const QString& toolbarLabel() const { return m_toolbarLabel; }

    // Reading: fill `folder` (normally the root) from the file's root dictionary. Only the root checks
    // answer false (and nesting deeper than readers accept); nodes of unknown kinds are skipped.
    bool convertSafariDictionary(const QVariantMap& root, const QVFolderPtr& folder);
    /// The same, reading a list in place (see PlistFile::loadRootForReading).
    bool convertSafariBinary(const BinaryPlist& plist, const QVFolderPtr& folder);
    bool convertSafariXml(const XmlPlist& plist, const QVFolderPtr& folder);
    bool convertCaminoDictionary(const QVariantMap& root, const QVFolderPtr& folder);
    enum class Layout { Safari, Camino, Shiira, Quorvit };
    /// A layout's read from a file's root in whichever form it was loaded.
    bool convertRoot(Layout layout, const PlistFile::Root& root, const QVFolderPtr& folder);
    bool convertShiiraDictionary(const QVariantMap& root, const QVFolderPtr& folder);
    /// Answers true whatever the root holds (an unusable root leaves the folder empty).
    bool convertQuorvitDictionary(const QVariantMap& root, const QVFolderPtr& folder);

    // Writing: one node per child of the folder is appended to the array.
    void writeFolderToSafariArray(const QVFolder& folder, QVariantList& array);
    void writeFolderToCaminoArray(const QVFolder& folder, QVariantList& array);
    void writeFolderToShiiraArray(const QVFolder& folder, QVariantList& array);
    void writeFolderToQuorvitArray(const QVFolder& folder, QVariantList& array);

    /// A whole Safari file as XML text, straight from the tree: byte for byte what toXml gives for
    /// Safari::fileDictionary with these proxies, but without building the dictionaries (a new root UUID
    /// aside). `fileVersion` is written when a property list can hold it.
    static QByteArray safariFileXml(const QVFolder& tree, const QVariant& fileVersion,
                                    const QVariantList& proxies, bool flatLayout);

    /// A new UUID as the layouts write it: 36 characters, upper-case hexadecimal groups 8-4-4-4-12.
    static QString newUUID();
    /// False for what a property list cannot hold again: nothing, or a date that did not read as one.
    static bool isWritableValue(const QVariant& value);

private:
    template <class Dict> bool convertSafari(const Dict& root, const QVFolderPtr& folder);
    template <class Dict> void parseSafariChildren(const Dict& parent, const QVFolderPtr& folder, int depth);
    template <class Dict> bool convertCamino(const Dict& root, const QVFolderPtr& folder);
    template <class Dict> void parseCaminoChildren(const Dict& parent, const QVFolderPtr& folder, int depth);
    template <class Dict> bool convertShiira(const Dict& root, const QVFolderPtr& folder);
    template <class Dict> void parseShiiraChildren(const Dict& parent, const QVFolderPtr& folder, int depth);
    template <class Dict> bool convertQuorvit(const Dict& root, const QVFolderPtr& folder);
    template <class Dict> void parseQuorvitChildren(const Dict& parent, const QVFolderPtr& folder, int depth);

    /// False (and logged once) when a folder would nest deeper than the readers accept.
    bool enterFolder(int depth);
    QString source() const;
    QVFolderPtr newFolder(const QString& name) const;
    void place(const QVItemPtr& item, const QVFolderPtr& folder) const;
    void makeMenuFolder(const QVFolderPtr& folder) const;
    bool menuFolderIsSet() const;

    /// Holds a lifted toolbar or menu dictionary; answers false when one is already held in this write
    /// (the extra folder is then written in its place as an ordinary one).
    static bool claimSlot(std::optional<QVariantMap>& slot);

    std::optional<QVariantMap> m_bookmarksBarDict;
    std::optional<QVariantMap> m_menuDict;
    QString m_toolbarLabel;
    QString m_bookmarkPath;
    QVBrowser* m_qvBrowser = nullptr;
    QVariant m_fileVersionNumber;
    QVariantList m_proxyBookmarkItems;
    bool m_tooDeep = false;
};
