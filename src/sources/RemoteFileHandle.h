#pragma once

#include "sources/BookmarkFileHandle.h"
#include "sources/TWCURLTaskInterface.h"

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

class PeerLinkPeer;
class QEventLoop;

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
    /// Stops the running transfer, which then answers Cancelled. Safe from any thread.
    virtual void cancelFileTransfer();

protected:
    /// The program's own adapter on the working copy.
    void useOwnFormatAt(const QString& path);
    /// Starts the task with start() and runs this thread's event loop until the transfer has ended.
    /// False when it could not start or a cancel came first.
    bool runTransfer(TWCURLTaskInterface& task, const std::function<bool()>& start);
    bool cancelRequested() const { return m_cancelRequested; }
    /// Held for one downloadFile or uploadFile: a cancel stops every step of it and is then forgotten.
    struct TransferScope
    {
        explicit TransferScope(RemoteFileHandle& handle) : handle(handle) {}
        ~TransferScope() { handle.m_cancelRequested = false; }
        RemoteFileHandle& handle;
    };

private:
    QMutex m_transferMutex;
    TWCURLTaskInterface* m_runningTask = nullptr;
    std::atomic<bool> m_cancelRequested{false};
};

/// A copy on an FTP server, moved with curl; the password comes from the keychain.
class FTPFileHandle : public RemoteFileHandle, public TWCURLTaskDelegate
{
public:
    FTPFileHandle(const QString& user, const QString& server, const QString& remotePath);
    static std::shared_ptr<FTPFileHandle> initWithUser(const QString& user, const QString& server,
                                                       const QString& remotePath);

    /// 0 done, 1 failed (shown and deactivated), 2 no file on the server, 3 cancelled; returns once
    /// the transfer has ended.
    int downloadFile() override;
    int uploadFile() override;
    QString host() const override { return m_server; }
    /// Writes the working copy; never backed up, whatever the flag.
    bool writeNewBookmarks(const QVFolderPtr& tree, bool withBackup) override;
    /// The keychain's password for user and server; null when there is none.
    QString passwordForServer() const;
    void curlTaskDidComplete(TWCURLTaskInterface* task) override;

    const QString& user() const { return m_user; }
    const QString& server() const { return m_server; }
    const QString& remotePath() const { return m_remotePath; }
    bool transferIsComplete() const { return m_transferIsComplete; }
    /// Where the working copy lives.
    static QString localCopyPath();

private:
    int transferResult(const TWCURLTaskInterface& task) const;

    bool m_transferIsComplete = false;
    bool m_sentWithoutPassword = false;
    QString m_user;
    QString m_remotePath;
    QString m_server;
    TWCURLTaskInterface* m_taskInterface = nullptr;
};

/// A copy in the Documents folder of a WebDAV account (server address and user in the preferences,
/// password in the keychain), moved with curl. HTTPS certificates are always verified.
class DotMacFileHandle : public RemoteFileHandle
{
public:
    DotMacFileHandle(const QString& serverURL = QString(), const QString& user = QString());
    /// 0 done, 1 failed, 2 no file on the server (download), 3 cancelled.
    int downloadFile() override;
    int uploadFile() override;
    /// The server's host name.
    QString host() const override;
    /// Makes sure the working copy has its adapter, then writes it (backed up when asked).
    bool writeNewBookmarks(const QVFolderPtr& tree, bool withBackup) override;

    const QString& serverURL() const { return m_serverURL; }
    const QString& user() const { return m_user; }
    bool iDiskAvailable() const { return m_iDiskAvailable; }
    struct ServiceAnswer
    {
        int curlStatus = -1;
        int httpStatus = 0;
        bool available = false;
    };
    /// Asks the account once whether its root answers as a WebDAV collection (credentials from the
    /// keychain); waits for the answer.
    ServiceAnswer checkAccountService();
    /// The keychain protocol of a server address: "htps" for https, else "http".
    static QString keychainProtocol(const QString& serverURL);
    static QString localCopyPath();
    static inline const QString RemoteFilePath = QStringLiteral("/Documents/Quorvit Bookmarks.quorvit");

private:
    struct Reply
    {
        int curlStatus = -1;
        int httpStatus = 0;
        QString body;
        QString error;
    };
    /// One WebDAV request through curl; the account's credentials go on curl's standard input.
    Reply request(const QStringList& arguments, const QString& remotePath);
    /// Whether the account's root answers as a WebDAV collection (remembered once seen).
    bool checkService(const QString& failureLine);
    QString urlFor(const QString& remotePath) const;

    QString m_serverURL;
    QString m_user;
    bool m_iDiskAvailable = false;
};

/// A file another machine of the local network shares, reached through the plug-in's peer object.
/// Holds its peer by shared pointer, so a peer that left stays valid (its transfers just fail).
class RendezvousFileHandle : public RemoteFileHandle
{
public:
    RendezvousFileHandle(const QString& fileID, std::shared_ptr<PeerLinkPeer> peer,
                         const QString& remotePath);
    ~RendezvousFileHandle() override;
    /// Null when the identifier is empty or there is no peer.
    static std::shared_ptr<RendezvousFileHandle>
    initWithID(const QString& fileID, std::shared_ptr<PeerLinkPeer> peer, const QString& remotePath);

    /// The adapter class for a sharing identifier ("SAFR1" → Safari, …), by its first four characters.
    static QString adapterIdForSharingID(const QString& fileID);
    /// The longest a transfer may take in all before it counts as failed (the peer's own limit is on
    /// silence); for tests.
    static void setTransferTimeout(int milliseconds);

    /// Both return once the transfer has ended: 0 done, 1 failed or timed out, 3 cancelled. They may
    /// run on any thread; on the main thread they keep its events going while they wait.
    int downloadFile() override;
    int uploadFile() override;
    QString host() const override;
    QString hostName() const { return host(); }
    /// Where downloads land: temporary items/Quorvit/<peer>/<id>-<remote file name>.
    QString tempFilePath() const;
    bool readBookmarkFile() override;
    bool writeNewBookmarks(const QVFolderPtr& tree, bool withBackup) override;

    const QString& remoteFileID() const { return m_fileID; }
    PeerLinkPeer* remoteNetwork() const { return m_peer.get(); }
    const QString& remoteFilePath() const { return m_remotePath; }
    bool uploadIsComplete() const { return m_uploadIsComplete; }

private:
    enum class Transfer { Idle, Download, Upload, Succeeded, Failed };
    /// Starts the transfer with start() and waits for its notification, a cancel or the time-out.
    int runPeerTransfer(Transfer kind, const std::function<void()>& start);
    /// Records a notification's outcome for a waiting transfer; false when none waits for it.
    bool settle(Transfer kind, bool succeeded, const QString& path = QString());

    QString m_fileID;
    std::shared_ptr<PeerLinkPeer> m_peer;
    QString m_remotePath;
    std::atomic<bool> m_uploadIsComplete{false};
    int m_downloadObserver = 0;
    int m_uploadObserver = 0;
    int m_failureObserver = 0;
    QMutex m_stateMutex;
    QWaitCondition m_stateChanged;
    Transfer m_transfer = Transfer::Idle;
    QString m_receivedPath;
};
