#include "formats/BookmarkHTMLSupport.h"

#include "model/ItemKeys.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <type_traits>

namespace BookmarkHTML {

void convertDateStrings(QVariantMap& item)
{
    for (const QString& key : {ItemKey::LastVisit, ItemKey::CreationDate, ItemKey::LastUpdate}) {
        if (!item.contains(key))
            continue;
        bool ok = false;
        const double seconds = secondsValue(item.value(key).toString(), &ok);
        // Beyond year 9999 the date is nonsense anyway; keep it out of QDateTime's undefined range.
        // Dates are kept to the millisecond; one that rounds to the epoch itself would not read back.
        const qint64 msecs =
            ok && seconds > 0 && seconds < 253402300800.0 ? qint64(seconds * 1000.0 + 0.5) : 0;
        if (msecs > 0)
            item.insert(key, QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
        else
            item.remove(key);
    }
}

namespace {
double secondsOfText(QStringView text, bool* ok)
{
    // Dates are digits with perhaps a fraction. Those are converted here, correctly rounded as toDouble
    // does, without its locale machinery, which otherwise costs a third of a whole read.
    const QStringView trimmed = text.trimmed();
    char digits[64];
    const qsizetype size = trimmed.size();
    bool plain = size > 0 && size < qsizetype(sizeof digits);
    for (qsizetype i = 0, dots = 0; plain && i < size; ++i) {
        const char16_t unit = trimmed[i].unicode();
        if (unit == u'.')
            plain = ++dots == 1 && i > 0 && i < size - 1;
        else
            plain = unit >= u'0' && unit <= u'9';
        digits[i] = char(unit);
    }
    if (plain) {
        double value = 0;
        const auto [end, error] = std::from_chars(digits, digits + size, value);
        if (error == std::errc() && end == digits + size) {
            *ok = true;
            return value;
        }
    }
    return trimmed.toDouble(ok);
}
} // namespace

double secondsValue(QAnyStringView any, bool* ok)
{
    return any.visit([ok](auto text) {
        if constexpr (std::is_same_v<decltype(text), QStringView>) {
            return secondsOfText(text, ok);
        } else {
            // Bytes that are plain digits are converted as they stand; anything else as text.
            const char* const begin = text.data();
            const char* const end = begin + text.size();
            const auto digit = [](char ch) { return (ch >= '0' && ch <= '9') || ch == '.'; };
            if (text.size() > 0 && text.size() < 64 && std::all_of(begin, end, digit) &&
                std::count(begin, end, '.') <= 1 && *begin != '.' && end[-1] != '.') {
                double value = 0;
                const auto [stop, error] = std::from_chars(begin, end, value);
                if (error == std::errc() && stop == end) {
                    *ok = true;
                    return value;
                }
            }
            return secondsOfText(text.toString(), ok);
        }
    });
}

QString formatDate(const QDateTime& date)
{
    char text[32];
    return QString::fromLatin1(text, formatDate(date, text));
}

qsizetype formatDate(const QDateTime& date, char (&out)[32])
{
    // Whole seconds print as the integer "%.16g" gives for them (below 10^16 it never uses an exponent),
    // without the general conversion, which dominates writing otherwise.
    const qint64 msecs = date.toMSecsSinceEpoch();
    if (msecs % 1000 == 0 && msecs / 1000 < 10000000000000000LL && msecs / 1000 > -10000000000000000LL)
        return std::to_chars(out, out + sizeof out, msecs / 1000).ptr - out;
    const QByteArray general = QString::asprintf("%.16g", double(msecs) / 1000.0).toLatin1();
    const qsizetype size = std::min<qsizetype>(general.size(), sizeof out);
    std::memcpy(out, general.constData(), size_t(size));
    return size;
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
