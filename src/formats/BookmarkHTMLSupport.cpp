#include "formats/BookmarkHTMLSupport.h"

#include "model/ItemKeys.h"

#include <QTimeZone>

#include <climits>

namespace BookmarkHTML {

void convertDateStrings(QVariantMap& item)
{
    for (const QString& key : {ItemKey::LastVisit, ItemKey::CreationDate, ItemKey::LastUpdate}) {
        if (!item.contains(key))
            continue;
        bool ok = false;
        const double seconds = item.value(key).toString().trimmed().toDouble(&ok);
        // Beyond year 9999 the date is nonsense anyway; keep it out of QDateTime's undefined range.
        // Dates are kept to the millisecond; one that rounds to the epoch itself would not read back.
        const qint64 msecs =
            ok && seconds > 0 && seconds < 253402300800.0 ? qint64(seconds * 1000.0 + 0.5) : 0;
        if (msecs > 0)
            item.insert(key, QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc()));
        else
            item.remove(key);
    }
}

QString formatDate(const QDateTime& date)
{
    return QString::asprintf("%.16g", double(date.toMSecsSinceEpoch()) / 1000.0);
}

QString attributeAddress(const QString& address)
{
    static const QLatin1String kUnsafe(" \"<>\r\n");
    QString out;
    out.reserve(address.size());
    for (const QChar ch : address) {
        if (ch.unicode() < 0x80 && kUnsafe.contains(QLatin1Char(char(ch.unicode()))))
            out += QLatin1Char('%') +
                   QString::number(ch.unicode(), 16).rightJustified(2, QLatin1Char('0')).toUpper();
        else
            out += ch;
    }
    return out;
}

int intValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        negative = text.at(i++) == u'-';
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > qint64(INT_MAX) + 1)
            value = qint64(INT_MAX) + 1; // saturate; clamped below
    }
    if (negative)
        return int(std::max(-value, qint64(INT_MIN)));
    return int(std::min(value, qint64(INT_MAX)));
}

} // namespace BookmarkHTML
