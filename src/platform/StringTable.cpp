#include "platform/StringTable.h"

#include "platform/QVLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

#include <map>
#include <memory>

namespace quorvit {

namespace detail {
QByteArray embeddedStringTable(const QString& name);
}

StringTable::StringTable(const QString& name)
{
    const QByteArray json = detail::embeddedStringTable(name);
    if (json.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject()) {
        QVLog(QStringLiteral("String table %1 could not be read: %2").arg(name, error.errorString()));
        return;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        m_texts.insert(it.key(), it.value().toString());
}

StringTable& StringTable::table(const QString& name)
{
    static QMutex mutex;
    static std::map<QString, std::unique_ptr<StringTable>> tables;
    QMutexLocker lock(&mutex);
    auto& slot = tables[name];
    if (!slot)
        slot = std::make_unique<StringTable>(name);
    return *slot;
}

QString StringTable::text(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_texts.constFind(key);
    return found == m_texts.constEnd() ? key : found.value();
}

bool StringTable::contains(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_texts.contains(key);
}

void StringTable::setText(const QString& key, const QString& text)
{
    QMutexLocker lock(&m_mutex);
    if (text.isNull())
        m_texts.remove(key);
    else
        m_texts.insert(key, text);
}

QString StringTable::fillPlaceholders(QString text, const QStringList& arguments)
{
    // Positions are found in the template first, so an argument holding "^1" is never filled in turn.
    std::map<qsizetype, int> positions;
    for (int i = 0; i < arguments.size(); ++i) {
        const qsizetype at = text.indexOf(QLatin1Char('^') + QString::number(i));
        if (at >= 0)
            positions.emplace(at, i);
    }
    for (auto it = positions.rbegin(); it != positions.rend(); ++it)
        text.replace(it->first, 1 + QString::number(it->second).size(), arguments.at(it->second));
    return text;
}

} // namespace quorvit

QString QVLocalized(const QString& key)
{
    return quorvit::StringTable::table().text(key);
}

QString QVLocalized(const QString& key, const QStringList& arguments)
{
    return quorvit::StringTable::fillPlaceholders(QVLocalized(key), arguments);
}
