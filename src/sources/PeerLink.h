#pragma once

#include <QString>
#include <QVariantMap>
#include <QtPlugin>

#include <functional>

/// A machine of the local network that shares bookmark files. Owned by the plug-in; it is the object
/// of the plug-in's notifications ("RendezvousServicesDidChangedNotification", "DownloadDidComplete",
/// "UploadDidComplete"), posted on the default centre with the PeerLinkPeer pointer as object.
class PeerLinkPeer
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
