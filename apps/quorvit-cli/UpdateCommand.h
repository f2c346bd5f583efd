#pragma once

#include "Command.h"

/// Asks the update server whether a newer version exists. Exit 0 when this one is current, 10 when a
/// newer one exists, 1 when the server could not be asked.
class UpdateCommand : public Command
{
public:
    enum { NewerVersion = 10 };
    QString name() const override { return QStringLiteral("check-update"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};
