#pragma once

#include "TestPaths.h"

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace testsupport {

struct CliResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs quorvit-cli to its end (a minute at most) with no input; a crash gives exit code -1.
inline CliResult runCli(const QStringList& arguments,
                        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUORVIT_CLI_PATH), arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        ADD_FAILURE() << "quorvit-cli did not finish";
    }
    return CliResult{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                     process.readAllStandardOutput(), process.readAllStandardError()};
}

/// The environment of a home of the test's own: configuration, data and runtime folders inside it and
/// no system-wide applications, so nothing of the machine's user is read or changed.
inline QProcessEnvironment privateHomeEnvironment(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QDir dir(home);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral(".config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral(".local/share")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), dir.filePath(QStringLiteral("no-system-apps")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    return environment;
}

} // namespace testsupport
