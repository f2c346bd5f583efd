#pragma once

#include <QMutex>
#include <QString>

/// Internet passwords in the desktop's Secret Service (gnome-keyring, KWallet): service "Quorvit", one
/// item per (protocol, server, account). There is no fallback: where no Secret Service answers, nothing
/// is stored and lastError() says why.
class KeychainManager
{
public:
    /// Protocol codes: an FTP account, a WebDAV account over http or https.
    static inline const QString FTPAccount = QStringLiteral("ftpa");
    static inline const QString HTTPAccount = QStringLiteral("http");
    static inline const QString HTTPSAccount = QStringLiteral("htps");

    static KeychainManager& sharedManager();

    /// The stored password; null when there is none or the arguments are invalid.
    QString passwordForUserName(const QString& user, const QString& server, const QString& protocol);
    /// Stores or replaces the password; false (logged) for invalid arguments or a keychain failure.
    bool setPassword(const QString& password, const QString& user, const QString& server,
                     const QString& protocol);
    /// True when an item was there and is gone.
    bool removeEntryForUserName(const QString& user, const QString& server, const QString& protocol);

    /// Why the last call failed, in words for the user; empty after a success.
    QString lastError() const;
    /// Whether a Secret Service answers on the session bus (reason filled when not).
    static bool isAvailable(QString* reason = nullptr);

    /// The item key for one account.
    static QString itemKey(const QString& user, const QString& server, const QString& protocol);
    static inline const QString ServiceName = QStringLiteral("Quorvit");

private:
    void setLastError(const QString& error);
    mutable QMutex m_mutex;
    QString m_lastError;
};
