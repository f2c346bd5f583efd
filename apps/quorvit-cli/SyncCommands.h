#pragma once

#include "Command.h"

/// Compares the active browsers (or the files named) against the base and prints the result.
class CompareCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("compare"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
    QStringList multiValueOptions() const override { return {QStringLiteral("sources")}; }
};

/// Compares, then writes the base tree (with the missing bookmarks in a folder, when asked) to every
/// destination, backing each file up first.
class SyncCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("sync"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
    QStringList multiValueOptions() const override
    {
        return {QStringLiteral("sources"), QStringLiteral("to")};
    }
};
