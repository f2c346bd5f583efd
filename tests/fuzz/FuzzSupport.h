#pragma once

// What the round-trip fuzz targets share: reading a file back, failing loudly, a scratch folder.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

inline QByteArray slurp(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Reports a broken property as a crash, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

/// The template of a scratch folder for a target: atomic writes sync, and on a memory file system that
/// costs next to nothing.
inline QString scratchTemplate(const char* target)
{
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return base + QLatin1Char('/') + QLatin1String(target) + QStringLiteral("-XXXXXX");
}

} // namespace fuzzsupport
