#include "AppPreferences.h"

#include "platform/UserDefaults.h"

#include <QSysInfo>

namespace AppPreferences {

void migrateAndRegisterDefaults(quorvit::UserDefaults& defaults)
{
    if (!defaults.hasStoredValue(PrefKey::VersionNumber)) {
        // Preferences older than the version number kept a column layout that no longer fits.
        defaults.removeObjectForKey(PrefKey::MissingColumns);
        defaults.setObject(kCurrentVersion, PrefKey::VersionNumber);
    } else if (defaults.integerForKey(PrefKey::VersionNumber) <= 349) {
        defaults.setObject(kCurrentVersion, PrefKey::VersionNumber);
    }

    defaults.registerDefaults({
        {PrefKey::DrawerVisible, true},
        {PrefKey::HasShownEList, false},
        {PrefKey::LookupRendezvousServers, false},
        {PrefKey::ShareBookmarksViaRendezvous, false},
        {PrefKey::RendezvousSharingType, 0},
        {PrefKey::EnableDotMacSyncing, false},
        {PrefKey::EnableFTPSyncing, false},
        {PrefKey::AutoWriteDockling, false},
        {PrefKey::WriteQuorvitFileEnabled, false},
        {PrefKey::VisibleViewIdentifier, QStringLiteral("Sync")},
        {PrefKey::RendezvousName, QSysInfo::machineHostName()},
    });

    if (defaults.hasStoredValue(PrefKey::MainWindowUpLeft))
        defaults.removeObjectForKey(PrefKey::MainWindowUpLeft);

    if (defaults.boolForKey(PrefKey::StartupCheckUpdate)) {
        defaults.setObject(true, PrefKey::UpdateAuto);
        defaults.setObject(-1, PrefKey::UpdateFrequency);
        defaults.removeObjectForKey(PrefKey::StartupCheckUpdate);
    }
}

QString dateFormatFor(DateOrder order, const QString& separator)
{
    QString pattern;
    switch (order) {
    case DateOrder::DayMonthYear:
        pattern = QStringLiteral("%d/%1m/%y");
        break;
    case DateOrder::YearMonthDay:
        pattern = QStringLiteral("%y/%1m/%d");
        break;
    case DateOrder::MonthYearDay:
        pattern = QStringLiteral("%1m/%y/%d");
        break;
    case DateOrder::DayYearMonth:
        pattern = QStringLiteral("%d/%y/%1m");
        break;
    case DateOrder::YearDayMonth:
        pattern = QStringLiteral("%y/%d/%1m");
        break;
    case DateOrder::MonthDayYear:
        pattern = QStringLiteral("%1m/%d/%y");
        break;
    }
    if (separator.size() == 1 && separator != QLatin1String("/"))
        pattern.replace(QLatin1Char('/'), separator);
    return pattern + QStringLiteral(", %1I:%M %p");
}

QString dateFormatForLocale(const QLocale& locale)
{
    // The short format names the fields in the locale's order ("dd.MM.yy", "M/d/yy", "y-MM-dd").
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    QString order;
    QString separator;
    for (const QChar c : format) {
        const QChar field = c.toLower();
        if (field == QLatin1Char('d') || field == QLatin1Char('m') || field == QLatin1Char('y')) {
            if (!order.contains(field))
                order.append(field);
        } else if (separator.isEmpty() && order.size() == 1 && !c.isLetter() && c != QLatin1Char('\'')) {
            separator = c;
        }
    }
    DateOrder dateOrder = DateOrder::MonthDayYear;
    if (order == QLatin1String("dmy"))
        dateOrder = DateOrder::DayMonthYear;
    else if (order == QLatin1String("ymd"))
        dateOrder = DateOrder::YearMonthDay;
    else if (order == QLatin1String("myd"))
        dateOrder = DateOrder::MonthYearDay;
    else if (order == QLatin1String("dym"))
        dateOrder = DateOrder::DayYearMonth;
    else if (order == QLatin1String("ydm"))
        dateOrder = DateOrder::YearDayMonth;
    return dateFormatFor(dateOrder, separator);
}

QString formatDate(const QDateTime& date, const QString& pattern)
{
    const QDateTime local = date.toLocalTime();
    const QDate day = local.date();
    const QTime time = local.time();
    const auto number = [](int value, bool padded) {
        return padded ? QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')) : QString::number(value);
    };
    QString out;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) != QLatin1Char('%') || i + 1 >= pattern.size()) {
            out.append(pattern.at(i));
            continue;
        }
        // "%1x" is the field without its leading zero.
        bool padded = true;
        QChar field = pattern.at(++i);
        if (field == QLatin1Char('1') && i + 1 < pattern.size()) {
            padded = false;
            field = pattern.at(++i);
        }
        const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
        switch (field.unicode()) {
        case 'd':
            out += number(day.day(), padded);
            break;
        case 'm':
            out += number(day.month(), padded);
            break;
        case 'y':
            out += number(day.year() % 100, true);
            break;
        case 'Y':
            out += QString::number(day.year());
            break;
        case 'H':
            out += number(time.hour(), padded);
            break;
        case 'I':
            out += number(hour12, padded);
            break;
        case 'M':
            out += number(time.minute(), true);
            break;
        case 'S':
            out += number(time.second(), true);
            break;
        case 'p':
            out += time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            break;
        case '%':
            out += QLatin1Char('%');
            break;
        default:
            out += QLatin1Char('%') + field;
            break;
        }
    }
    return out;
}

} // namespace AppPreferences
