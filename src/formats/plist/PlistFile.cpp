#include "formats/plist/PlistFile.h"

#include "platform/PropertyList.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QFileInfo>

namespace PlistFile {

std::optional<QVariantMap> loadDictionary(const QString& path, QString* reason)
{
    QString error;
    const QFileInfo info(path);
    if (!info.isFile()) {
        error = QStringLiteral("not a regular file");
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = file.errorString();
        } else {
            // Checked before reading: QFile::read(limit) would reserve the whole limit up front.
            const QByteArray bytes = file.size() > kMaxFileSize ? QByteArray() : file.readAll();
            if (file.size() > kMaxFileSize || bytes.size() > kMaxFileSize) {
                error = QStringLiteral("file is too large");
            } else if (const auto value = quorvit::plist::fromData(bytes, &error)) {
                if (value->typeId() == QMetaType::QVariantMap)
                    return value->toMap();
                error = QStringLiteral("property list is not a dictionary");
            }
        }
    }
    if (reason)
        *reason = error;
    return std::nullopt;
}

std::optional<QVariantMap> loadForReading(const QString& path, const QString& adapterName)
{
    QString reason;
    auto root = loadDictionary(path, &reason);
    if (!root) {
        QVLog(QStringLiteral("%1 - bookmarks or saved file dict is nil").arg(adapterName));
        QVLog(QStringLiteral("%1: %2").arg(path, reason));
    }
    return root;
}

bool hasTopLevelKey(const QString& path, const QString& key, QString* reason)
{
    const auto root = loadDictionary(path, reason);
    if (root && !root->contains(key) && reason)
        *reason = QStringLiteral("no \"%1\" key at the top level").arg(key);
    return root && root->contains(key);
}

} // namespace PlistFile
