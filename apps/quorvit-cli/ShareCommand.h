#pragma once

#include "Command.h"

#include "sources/BookmarkFileHandle.h"

#include <memory>

class BookmarkFileManager;
class PeerLinkPrincipal;

/// The local-network plug-in for one command: loaded with the registry's offer and the sharing
/// password, switched off and unloaded at the end (declare it after the registry).
class PeerSession
{
public:
    /// browse: look for peers now (waits up to $QUORVIT_BROWSE_MS, 2000 by default, for their offers).
    PeerSession(BookmarkFileManager& registry, bool browse);
    ~PeerSession();
    PeerSession(const PeerSession&) = delete;
    PeerSession& operator=(const PeerSession&) = delete;

    PeerLinkPrincipal* principal() const { return m_principal; }
    /// The shared file "peer:NAME/ID", waiting for its peer's offer; null with the reason.
    BookmarkFileHandlePtr handleNamed(const QString& name, QString* reason);
    /// "peer:NAME/ID" for a peer's file; empty for any other handle.
    static QString nameOf(const BookmarkFileHandlePtr& handle);

private:
    BookmarkFileManager& m_registry;
    PeerLinkPrincipal* m_principal = nullptr;
};

/// Switches sharing and browsing, keeps the sharing password, or serves the offer in the foreground.
class ShareCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("share"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;

private:
    int serve(const QCommandLineParser& parser);
};
