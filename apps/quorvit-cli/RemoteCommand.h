#pragma once

#include "Command.h"

#include "sources/BookmarkFileHandle.h"

class BookmarkFileManager;

/// Stores the FTP and WebDAV locations' settings; the password goes to the keychain, read from
/// standard input, never from an argument.
class RemoteCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("remote"); }
    QString summary() const override;

    /// Puts the enabled remote locations into the registry, taking part in synchronisation.
    static void addRemoteLocations(BookmarkFileManager& registry);
    /// The remote location named "ftp:" or "webdav:" on the command line; null for any other name.
    static BookmarkFileHandlePtr remoteHandleNamed(const BookmarkFileManager& registry, const QString& name);

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};
