#pragma once

#include "Command.h"

/// Checks every web address of a bookmark file and lists what answered, what is dead and what moved.
class CheckLinksCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("check-links"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
};
