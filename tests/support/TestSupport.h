#pragma once

#include "TestPaths.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <memory>

#include "model/QVBookmark.h"
#include "model/QVFolder.h"

namespace testsupport {

/// Path of a file in tests/data.
QString dataPath(const QString& name);
/// Path of a file in the shared real-world samples.
QString realworldPath(const QString& name);

/// Skips the running test when a sample file is absent: the real-world samples live in ../shared beside
/// the clone, which a plain clone of the project does not have.
#define QUORVIT_SKIP_WITHOUT(samplePath)                                                                     \
    do {                                                                                                     \
        if (!QFileInfo::exists(samplePath))                                                                  \
            GTEST_SKIP() << "sample " << QString(samplePath).toStdString()                                   \
                         << " is absent (the real-world samples in ../shared are not beside this clone)";    \
    } while (false)

QByteArray readBytes(const QString& path);
/// Writes bytes to a file (creating folders); fails the test on error.
void writeBytes(const QString& path, const QByteArray& bytes);

/// A temporary folder that is also $HOME for the test's lifetime.
class TemporaryHome
{
public:
    TemporaryHome();
    ~TemporaryHome();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    bool m_hadHome;
};

/// A root folder (type 4, "Root") to build trees in.
QVFolderPtr newRoot();
/// Appends a bookmark to the folder, parent link set.
QVBookmarkPtr add(const QVFolderPtr& folder, const QString& name, const QString& address);
/// Appends a folder of that type to the parent, parent link set.
QVFolderPtr addFolder(const QVFolderPtr& parent, const QString& name, int type = QVFolder::Ordinary);

/// The tree as indented text, one item a line, for readable comparisons.
QString outline(const std::shared_ptr<QVFolder>& folder);

} // namespace testsupport

#include <ostream>

// Readable values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.toStdString() << '"';
}
