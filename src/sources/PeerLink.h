#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <QtPlugin>

#include <functional>
#include <memory>

/// A machine of the local network that shares bookmark files. Owned by the plug-in; it is the object
/// of the plug-in's notifications ("RendezvousServicesDidChangedNotification", "DownloadDidComplete",
/// "UploadDidComplete"), posted on the default centre with the PeerLinkPeer pointer as object.
/// A transfer that fails, times out or is cancelled ends with "TransferDidFail" instead ("FailedFileID",
/// "Reason", "TimedOut"). The plug-in owns its peers through shared pointers; whoever keeps a peer
/// beyond one notification takes a share (shared_from_this), so it is never used after it is freed.
/// The transfer calls may come from any thread.
class PeerLinkPeer : public std::enable_shared_from_this<PeerLinkPeer>
{
public:
    virtual ~PeerLinkPeer() = default;
    /// The peer's name as shown to the user.
    virtual QString serviceName() const = 0;
    /// Starts a download of the shared file with that identifier to the local path; returns at once.
    /// "DownloadDidComplete" follows with "DownloadedFileID" and "LocalFilePath".
    virtual void downloadFileWithID(const QString& fileID, const QString& localPath) = 0;
    /// Starts an upload of the local file as the shared file with that identifier; returns at once.
    /// "UploadDidComplete" follows with "UploadedFileID".
    virtual void uploadFileWithID(const QString& fileID, const QString& localPath) = 0;
    /// Stops the running transfers of that identifier; each ends with "TransferDidFail".
    virtual void cancelTransferWithID(const QString& fileID) { Q_UNUSED(fileID); }
};

/// What the program gives the plug-in: the plug-in has its own copy of every library and so never
/// reaches the program's notification centre, log or files directly.
struct PeerLinkHost
{
    QString serviceName;     ///< published under this name ("rendezvousName")
    QString sharingPassword; ///< every request is signed with it; empty: neither sharing nor browsing
    QString listenAddress;   ///< where the server listens; empty: every interface
    quint16 port = 0;        ///< 0: any free port
    /// Posts a notification on the program's default centre, the peer as object.
    std::function<void(const QString& name, PeerLinkPeer* peer, const QVariantMap& userInfo)> post;
    /// Puts a peer's upload in place of the shared local file; empty answer: done, else why not.
    std::function<QString(const QString& fileID, const QString& localPath, const QByteArray& bytes)>
        receiveUpload;
    std::function<void(const QString& line)> log;
};

/// The plug-in's principal object: what the program switches on and off.
class PeerLinkPrincipal
{
public:
    /// What this machine offers: sharing identifier → local file path (empty: nothing).
    using SharedPathsProvider = std::function<QVariantMap()>;

    virtual ~PeerLinkPrincipal() = default;
    /// Look for peers that share bookmarks, or stop looking.
    virtual void setRendezvousServiceDiscoveryEnabled(bool enabled) = 0;
    /// Offer this machine's bookmark files, or stop.
    virtual void setRendezvousSharingEnabled(bool enabled) = 0;
    /// How the plug-in asks the registry for the files to offer.
    virtual void setSharedPathsProvider(SharedPathsProvider provider) = 0;
    /// Settings and call-backs; sent before switching on, and again when one changes.
    virtual void setHost(const PeerLinkHost& host) { Q_UNUSED(host); }
    /// Why sharing or browsing cannot work as asked (no discovery service, no password); empty if none.
    virtual QString problem() const { return QString(); }
    /// "address:port" the sharing server listens on; empty while not sharing.
    virtual QString sharingAddress() const { return QString(); }
};

/// The interface the PeerLinkPlugin shared object exports through QPluginLoader.
class PeerLinkPluginInterface
{
public:
    virtual ~PeerLinkPluginInterface() = default;
    /// Makes the principal object; it lives for the whole run.
    virtual PeerLinkPrincipal* principal() = 0;
};

#define PeerLinkPluginInterface_iid "com.tarnwell.quorvit.PeerLinkPlugin/1.0"
Q_DECLARE_INTERFACE(PeerLinkPluginInterface, PeerLinkPluginInterface_iid)
