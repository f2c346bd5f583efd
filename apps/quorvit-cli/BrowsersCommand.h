#pragma once

#include "Command.h"

/// Lists the registry of bookmark files and changes it as the preferences window would.
class BrowsersCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("browsers"); }
    QString summary() const override;

protected:
    void configure(QCommandLineParser& parser) override;
    int execute(const QCommandLineParser& parser) override;
    QStringList multiValueOptions() const override
    {
        return {QStringLiteral("add"), QStringLiteral("remove"), QStringLiteral("activate"),
                QStringLiteral("deactivate")};
    }
};
