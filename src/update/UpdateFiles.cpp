#include "update/UpdateFiles.h"

#include "platform/PropertyList.h"

#include <QLocale>
#include <QUrl>

#include <limits>

namespace UpdateFiles {

namespace {

// Nesting accepted in the text form; the published files are flat dictionaries.
constexpr int kMaxTextDepth = 32;

/// The old text form: dictionaries, arrays and strings (quoted or bare), with comments.
class TextPlistReader
{
public:
    explicit TextPlistReader(const QString& text) : m_text(text) {}

    std::optional<QVariant> read()
    {
        auto value = readValue(0);
        skipSpace();
        if (!value || m_pos != m_text.size())
            return std::nullopt;
        return value;
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text.at(m_pos); }

    void skipSpace()
    {
        while (!atEnd()) {
            const QChar c = peek();
            if (c.isSpace()) {
                ++m_pos;
            } else if (c == u'/' && m_pos + 1 < m_text.size() && m_text.at(m_pos + 1) == u'/') {
                while (!atEnd() && peek() != u'\n')
                    ++m_pos;
            } else if (c == u'/' && m_pos + 1 < m_text.size() && m_text.at(m_pos + 1) == u'*') {
                const qsizetype end = m_text.indexOf(QLatin1String("*/"), m_pos + 2);
                m_pos = end < 0 ? m_text.size() : end + 2;
            } else {
                return;
            }
        }
    }

    static bool isBare(QChar c)
    {
        return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'+' || c == u'/' || c == u':' ||
               c == u'.' || c == u'-';
    }

    std::optional<QString> readString()
    {
        skipSpace();
        if (peek() == u'"') {
            ++m_pos;
            QString out;
            while (!atEnd() && peek() != u'"') {
                QChar c = m_text.at(m_pos++);
                if (c == u'\\' && !atEnd()) {
                    c = m_text.at(m_pos++);
                    if (c == u'n')
                        c = u'\n';
                    else if (c == u't')
                        c = u'\t';
                }
                out += c;
            }
            if (atEnd())
                return std::nullopt;
            ++m_pos;
            return out;
        }
        const qsizetype start = m_pos;
        while (!atEnd() && isBare(peek()))
            ++m_pos;
        if (m_pos == start)
            return std::nullopt;
        return m_text.mid(start, m_pos - start);
    }

    std::optional<QVariant> readValue(int depth)
    {
        skipSpace();
        if (depth > kMaxTextDepth)
            return std::nullopt;
        if (peek() == u'{') {
            ++m_pos;
            QVariantMap map;
            for (;;) {
                skipSpace();
                if (peek() == u'}') {
                    ++m_pos;
                    return map;
                }
                const auto key = readString();
                skipSpace();
                if (!key || peek() != u'=')
                    return std::nullopt;
                ++m_pos;
                auto value = readValue(depth + 1);
                skipSpace();
                if (!value || peek() != u';')
                    return std::nullopt;
                ++m_pos;
                map.insert(*key, *value);
            }
        }
        if (peek() == u'(') {
            ++m_pos;
            QVariantList list;
            skipSpace();
            if (peek() == u')') {
                ++m_pos;
                return list;
            }
            for (;;) {
                auto value = readValue(depth + 1);
                if (!value)
                    return std::nullopt;
                list.append(*value);
                skipSpace();
                if (peek() == u',') {
                    ++m_pos;
                    continue;
                }
                if (peek() != u')')
                    return std::nullopt;
                ++m_pos;
                return list;
            }
        }
        auto text = readString();
        if (!text)
            return std::nullopt;
        return QVariant(*text);
    }

    QString m_text;
    qsizetype m_pos = 0;
};

/// The number at the start of a text, as the version file's values are read: leading blanks and a
/// sign allowed, reading stops at the first non-digit, none reads as 0; out of range saturates.
qlonglong leadingInteger(const QVariant& value)
{
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int ||
        value.typeId() == QMetaType::ULongLong)
        return value.toLongLong();
    if (value.typeId() != QMetaType::QString)
        return 0;
    const QString text = value.toString().trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        negative = text.at(i++) == u'-';
    qlonglong result = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        const int digit = text.at(i).unicode() - u'0';
        if (result > (std::numeric_limits<qlonglong>::max() - digit) / 10)
            return negative ? std::numeric_limits<qlonglong>::min() : std::numeric_limits<qlonglong>::max();
        result = result * 10 + digit;
    }
    return negative ? -result : result;
}

bool isWebAddress(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

QString Version::toString() const
{
    return QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(point).arg(beta);
}

bool isNewerThanCurrent(const Version& v)
{
    const Version& c = kCurrentVersion;
    if (v.major != c.major)
        return v.major > c.major;
    if (v.minor != c.minor)
        return v.minor > c.minor;
    if (v.point != c.point)
        return v.point > c.point;
    return v.beta > c.beta;
}

std::optional<QVariant> parsePropertyList(const QByteArray& data)
{
    if (auto value = quorvit::plist::fromData(data))
        return value;
    // The text form is ASCII; anything else is not a version file.
    for (const char c : data) {
        if (static_cast<unsigned char>(c) > 0x7f)
            return std::nullopt;
    }
    return TextPlistReader(QString::fromLatin1(data)).read();
}

Version parseVersionFile(const QByteArray& data)
{
    const auto value = parsePropertyList(data);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return {};
    const QVariantMap map = value->toMap();
    return {leadingInteger(map.value(QStringLiteral("majorVersion"))),
            leadingInteger(map.value(QStringLiteral("minorVersion"))),
            leadingInteger(map.value(QStringLiteral("pointVersion"))),
            leadingInteger(map.value(QStringLiteral("betaVersion")))};
}

Description parseDescriptionFile(const QByteArray& data, const QStringList& preferredLanguages)
{
    Description description;
    description.urlPath = defaultDownloadURL();
    const auto value = data.isEmpty() ? std::nullopt : parsePropertyList(data);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return description;
    const QVariantMap map = value->toMap();
    QStringList keys;
    for (const QString& language : preferredLanguages)
        keys << language.toLower();
    keys << QStringLiteral("english");
    for (const QString& key : keys) {
        const QVariant text = map.value(key);
        if (text.typeId() == QMetaType::QString) {
            description.text = text.toString();
            break;
        }
    }
    const QVariant url = map.value(QStringLiteral("URLPath"));
    // Only a web address is fetched: a file or other scheme from the server is never followed.
    if (url.typeId() == QMetaType::QString && isWebAddress(url.toString()))
        description.urlPath = url.toString().trimmed();
    return description;
}

QStringList systemLanguageKeys()
{
    QStringList keys;
    const QStringList languages = QLocale::system().uiLanguages();
    if (languages.isEmpty())
        return {QStringLiteral("english")};
    // The most preferred language by name, then by code.
    const QLocale first(languages.first());
    if (first.language() != QLocale::C)
        keys << QLocale::languageToString(first.language()).toLower();
    keys << languages.first().section(u'-', 0, 0).section(u'_', 0, 0).toLower();
    return keys;
}

QString defaultDownloadURL()
{
    return DefaultServerURL + QStringLiteral("/download/quorvit.dmg");
}

QString fileURL(const QString& serverURL, const QString& path)
{
    QString base = serverURL.trimmed();
    while (base.endsWith(u'/'))
        base.chop(1);
    return base + path;
}

} // namespace UpdateFiles
