#include "support/TestSupport.h"

#include "model/QVBookmark.h"
#include "model/QVFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace testsupport {

QString dataPath(const QString& name)
{
    return QStringLiteral(QUORVIT_TEST_DATA_DIR "/") + name;
}

QString realworldPath(const QString& name)
{
    return QStringLiteral(QUORVIT_REALWORLD_DIR "/") + name;
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return QByteArray();
    }
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return;
    }
    file.write(bytes);
}

TemporaryHome::TemporaryHome() : m_oldHome(qgetenv("HOME")), m_hadHome(qEnvironmentVariableIsSet("HOME"))
{
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

TemporaryHome::~TemporaryHome()
{
    if (m_hadHome)
        qputenv("HOME", m_oldHome);
    else
        qunsetenv("HOME");
}

namespace {
void appendOutline(const QVFolder& folder, int depth, QString& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        out += QString(depth * 2, QLatin1Char(' '));
        if (item->isFolder()) {
            const auto* child = static_cast<const QVFolder*>(item.get());
            out += QStringLiteral("[%1] %2\n").arg(child->type()).arg(child->name());
            appendOutline(*child, depth + 1, out);
        } else if (item->isDivider()) {
            out += QStringLiteral("---\n");
        } else {
            out += item->name() + QStringLiteral(" <") + item->urlAddress() + QStringLiteral(">\n");
        }
    }
}
} // namespace

QVFolderPtr newRoot()
{
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    root->setType(QVFolder::Root);
    return root;
}

QVBookmarkPtr add(const QVFolderPtr& folder, const QString& name, const QString& address)
{
    auto bookmark = std::make_shared<QVBookmark>();
    bookmark->setName(name);
    bookmark->setAddress(address);
    folder->addItem(bookmark);
    bookmark->setParentFolder(folder);
    return bookmark;
}

QVFolderPtr addFolder(const QVFolderPtr& parent, const QString& name, int type)
{
    auto folder = QVFolder::initWithName(name, QStringLiteral("Quorvit"));
    folder->setType(type);
    parent->addItem(folder);
    folder->setParentFolder(parent);
    return folder;
}

QString outline(const std::shared_ptr<QVFolder>& folder)
{
    QString out;
    if (folder)
        appendOutline(*folder, 0, out);
    return out;
}

} // namespace testsupport
