#include "formats/plist/PlistFile.h"

#include "formats/FileHead.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QFileInfo>

namespace PlistFile {

namespace {
std::optional<QByteArray> readBytes(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        *error = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    // Checked before reading: QFile::read(limit) would reserve the whole limit up front.
    const QByteArray bytes = file.size() > kMaxFileSize ? QByteArray() : FileHead::readWhole(file);
    if (file.size() > kMaxFileSize || bytes.size() > kMaxFileSize) {
        *error = QStringLiteral("file is too large");
        return std::nullopt;
    }
    return bytes;
}

std::optional<QVariantMap> dictionaryFrom(const QByteArray& bytes, QString* error)
{
    if (const auto value = quorvit::plist::fromData(bytes, error)) {
        if (value->typeId() == QMetaType::QVariantMap)
            return value->toMap();
        *error = QStringLiteral("property list is not a dictionary");
    }
    return std::nullopt;
}

void logUnreadable(const QString& path, const QString& adapterName, const QString& reason)
{
    QVLog(QStringLiteral("%1 - bookmarks or saved file dict is nil").arg(adapterName));
    QVLog(QStringLiteral("%1: %2").arg(path, reason));
}
} // namespace

std::optional<QVariantMap> loadDictionary(const QString& path, QString* reason)
{
    QString error;
    std::optional<QVariantMap> root;
    if (const auto bytes = readBytes(path, &error))
        root = dictionaryFrom(*bytes, &error);
    if (!root && reason)
        *reason = error;
    return root;
}

std::optional<Root> loadRootForReading(const QString& path, const QString& adapterName)
{
    QString error;
    std::optional<Root> root;
    if (auto bytes = readBytes(path, &error)) {
        if (auto binary = BinaryPlist::open(*bytes)) {
            root.emplace();
            root->binary = std::move(binary);
        } else if (auto xml = XmlPlist::open(*bytes)) {
            root.emplace();
            root->xml = std::move(xml);
        } else if (auto dictionary = dictionaryFrom(*bytes, &error)) {
            root.emplace();
            root->dictionary = std::move(*dictionary);
        }
    }
    if (!root)
        logUnreadable(path, adapterName, error);
    return root;
}

std::optional<QVariantMap> loadForReading(const QString& path, const QString& adapterName)
{
    QString reason;
    auto root = loadDictionary(path, &reason);
    if (!root)
        logUnreadable(path, adapterName, reason);
    return root;
}

bool hasTopLevelKey(const QString& path, const QString& key, QString* reason)
{
    QString error;
    bool readable = false;
    bool found = false;
    if (auto bytes = readBytes(path, &error)) {
        if (const auto binary = BinaryPlist::open(*bytes)) {
            readable = true;
            found = binary->value(binary->top(), key).has_value();
        } else if (const auto xml = XmlPlist::open(*bytes)) {
            readable = true;
            found = xml->value(xml->top(), key).has_value();
        } else if (const auto root = dictionaryFrom(*bytes, &error)) {
            readable = true;
            found = root->contains(key);
        }
    }
    if (reason) {
        if (!readable)
            *reason = error;
        else if (!found)
            *reason = QStringLiteral("no \"%1\" key at the top level").arg(key);
    }
    return found;
}

} // namespace PlistFile
