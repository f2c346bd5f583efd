#pragma once

#include <QString>

class BookmarkFileManager;
namespace quorvit {
class UserDefaults;
}

/// The remote locations' settings as the preferences window and the command line change them: server,
/// user and path in the preferences, the password only in the keychain.
class RemoteLocationSettings
{
public:
    struct FTP
    {
        bool enabled = false;
        QString server;
        QString user;
        QString remotePath;
    };
    struct WebDAV
    {
        bool enabled = false;
        QString serverURL;
        QString user;
    };

    static FTP ftpSettings(const quorvit::UserDefaults& defaults);
    static WebDAV webDAVSettings(const quorvit::UserDefaults& defaults);
    /// Stores the settings (synchronised to disk); syncing stays off while the server is empty.
    static void setFTPSettings(quorvit::UserDefaults& defaults, const FTP& settings);
    static void setWebDAVSettings(quorvit::UserDefaults& defaults, const WebDAV& settings);

    /// Stores the password in the keychain; false with the reason (no Secret Service, …).
    static bool storeFTPPassword(const FTP& settings, const QString& password, QString* reason);
    static bool storeWebDAVPassword(const WebDAV& settings, const QString& password, QString* reason);
    static bool hasFTPPassword(const FTP& settings);
    static bool hasWebDAVPassword(const WebDAV& settings);

    /// A WebDAV address is usable when it is http or https with a host.
    static bool isValidWebDAVAddress(const QString& url);

    /// Rebuilds the registry's FTP and WebDAV handles from the preferences (a changed setting takes
    /// effect at once). With activate, the enabled locations take part in synchronisation.
    static void applyTo(BookmarkFileManager& registry, const quorvit::UserDefaults& defaults,
                        bool activate = false);
};
