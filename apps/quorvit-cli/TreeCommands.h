#pragma once

#include "Command.h"

#include "formats/AdapterRegistry.h"

#include <memory>

/// Reads a bookmark file with the adapter named by --as, or the one its content calls for.
/// On failure answers null and sets the reason.
std::unique_ptr<QVBrowser> readBookmarkFile(const QString& path, const QString& format, QString* reason);

/// The "--as FORMAT" option shared by the verbs that read files.
QCommandLineOption formatOption(const QString& name, const QString& description);

class DumpCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("dump"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};

class ConvertCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("convert"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};
