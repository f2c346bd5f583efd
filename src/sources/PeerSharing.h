#pragma once

#include "sources/PeerLink.h"

#include <QString>

class BookmarkFileManager;
namespace quorvit {
class UserDefaults;
}

/// The program's side of local-network sharing: the sharing password in the keychain, and what the
/// plug-in is given to reach the registry, the notification centre and the log.
namespace PeerSharing {

/// The keychain item of the sharing password (one per user, whatever the machine's name).
inline const QString KeychainProtocol = QStringLiteral("qvsh");
inline const QString KeychainServer = QStringLiteral("local-network");
inline const QString KeychainUser = QStringLiteral("sharing");

QString sharingPassword();
/// False (with the keychain's reason) when it could not be stored.
bool setSharingPassword(const QString& password, QString* reason);

/// Settings from the preferences ("rendezvousName") and the keychain, call-backs into the registry.
/// The upload receiver and the posts run on the caller's thread.
PeerLinkHost hostFor(BookmarkFileManager& registry, const quorvit::UserDefaults& defaults,
                     const QString& password);
/// Hands the principal the registry's offer and the host; nothing when principal is null.
void connect(PeerLinkPrincipal* principal, BookmarkFileManager& registry,
             const quorvit::UserDefaults& defaults, const QString& password);

/// Accepts a peer's new version of a shared file: it must parse with the format of its identifier,
/// and then replaces the local file through its handle, backed up first, as a local write does.
/// Empty answer: done; else why not.
QString receiveUpload(const BookmarkFileManager& registry, const QString& fileID, const QString& localPath,
                      const QByteArray& bytes);

} // namespace PeerSharing
