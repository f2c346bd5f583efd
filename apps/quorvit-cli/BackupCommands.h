#pragma once

#include "Command.h"

/// Lists the backups made before bookmark files were overwritten.
class BackupsCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("backups"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};

/// Copies chosen backups back over the bookmark files they were made from.
class RestoreCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("restore"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};

/// Replaces one browser's bookmarks with another's through the sync engine.
class MigrateCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("migrate"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};
