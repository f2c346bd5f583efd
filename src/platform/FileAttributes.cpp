#include "platform/FileAttributes.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/xattr.h>

namespace quorvit {

namespace {
const char kTypeAttribute[] = "user.quorvit.type";
const char kCreatorAttribute[] = "user.quorvit.creator";

QString readCode(const QByteArray& path, const char* name)
{
    char buffer[4];
    const ssize_t length = ::getxattr(path.constData(), name, buffer, sizeof buffer);
    if (length != 4)
        return QString();
    return QString::fromLatin1(buffer, 4);
}

bool writeCode(const QByteArray& path, const char* name, const QString& code)
{
    QByteArray bytes = code.toLatin1().left(4);
    while (bytes.size() < 4)
        bytes.append(' ');
    return ::setxattr(path.constData(), name, bytes.constData(), 4, 0) == 0;
}
} // namespace

bool readTypeAndCreator(const QString& path, TypeCreator* codes)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (path.isEmpty() || ::stat(native.constData(), &info) != 0)
        return false;
    if (codes) {
        codes->type = readCode(native, kTypeAttribute);
        codes->creator = readCode(native, kCreatorAttribute);
    }
    return true;
}

QString creatorCode(const QString& path)
{
    TypeCreator codes;
    return readTypeAndCreator(path, &codes) ? codes.creator : QString();
}

QString typeCode(const QString& path)
{
    TypeCreator codes;
    return readTypeAndCreator(path, &codes) ? codes.type : QString();
}

bool setTypeAndCreator(const QString& path, const QString& type, const QString& creator)
{
    const QByteArray native = QFile::encodeName(path);
    const bool typeSet = writeCode(native, kTypeAttribute, type);
    const bool creatorSet = writeCode(native, kCreatorAttribute, creator);
    return typeSet && creatorSet;
}

} // namespace quorvit
