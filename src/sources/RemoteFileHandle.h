#pragma once

#include "sources/BookmarkFileHandle.h"

class PeerLinkPeer;

/// A handle on a copy kept elsewhere: a local working copy read and written by an ordinary adapter,
/// moved to and from the remote place by downloadFile and uploadFile. Always temporary.
class RemoteFileHandle : public BookmarkFileHandle
{
public:
    /// Transfer results as the sync engine reads them.
    enum TransferResult { Done = 0, Failed = 1, NotOnServer = 2, Cancelled = 3 };

    RemoteFileHandle();
    bool isRemote() const override { return true; }
    /// Only stores the flag: there is no alias to resolve.
    void setActive(bool active) override;

    virtual int downloadFile();
    virtual int uploadFile();
    /// The name of the remote place, for messages.
    virtual QString host() const;
    virtual void cancelFileTransfer() {}

protected:
    /// The program's own adapter on the working copy.
    void useOwnFormatAt(const QString& path);
};

/// A copy on an FTP server.
class FTPFileHandle : public RemoteFileHandle
{
public:
    FTPFileHandle(const QString& user, const QString& server, const QString& remotePath);
    static std::shared_ptr<FTPFileHandle> initWithUser(const QString& user, const QString& server,
                                                       const QString& remotePath);

    int downloadFile() override;
    int uploadFile() override;
    QString host() const override { return m_server; }
    /// Writes the working copy; never backed up, whatever the flag.
    bool writeNewBookmarks(const QVFolderPtr& tree, bool withBackup) override;

    const QString& user() const { return m_user; }
    const QString& server() const { return m_server; }
    const QString& remotePath() const { return m_remotePath; }

private:
    QString m_user;
    QString m_server;
    QString m_remotePath;
};

/// A copy in the Documents folder of a WebDAV account (what the .Mac iDisk was).
class DotMacFileHandle : public RemoteFileHandle
{
public:
    DotMacFileHandle();
    int downloadFile() override;
    int uploadFile() override;
    QString host() const override;
};

/// A file another machine of the local network shares, reached through the plug-in's peer object.
class RendezvousFileHandle : public RemoteFileHandle
{
public:
    RendezvousFileHandle(const QString& fileID, PeerLinkPeer* peer, const QString& remotePath);
    ~RendezvousFileHandle() override;
    /// Null when the identifier is empty or there is no peer.
    static std::shared_ptr<RendezvousFileHandle> initWithID(const QString& fileID, PeerLinkPeer* peer,
                                                            const QString& remotePath);

    /// The adapter class for a sharing identifier ("SAFR1" → Safari, …), by its first four characters.
    static QString adapterIdForSharingID(const QString& fileID);

    int downloadFile() override;
    int uploadFile() override;
    QString host() const override;
    QString hostName() const { return host(); }
    /// Where downloads land: temporary items/Quorvit/<peer>/<id>-<remote file name>.
    QString tempFilePath() const;
    bool readBookmarkFile() override;
    bool writeNewBookmarks(const QVFolderPtr& tree, bool withBackup) override;

    const QString& remoteFileID() const { return m_fileID; }
    PeerLinkPeer* remoteNetwork() const { return m_peer; }
    const QString& remoteFilePath() const { return m_remotePath; }
    bool uploadIsComplete() const { return m_uploadIsComplete; }

private:
    QString m_fileID;
    PeerLinkPeer* m_peer;
    QString m_remotePath;
    bool m_uploadIsComplete = false;
    int m_downloadObserver = 0;
    int m_uploadObserver = 0;
};
