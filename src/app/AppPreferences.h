#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace quorvit {
class UserDefaults;
}

/// The preference keys the application shell and the preferences window read and write.
namespace PrefKey {
inline const QString DrawerVisible = QStringLiteral("drawerVisible");
inline const QString HasShownEList = QStringLiteral("hasShownEList");
inline const QString LookupRendezvousServers = QStringLiteral("lookupRendezvousServers");
inline const QString ShareBookmarksViaRendezvous = QStringLiteral("shareBookmarksViaRendezvous");
inline const QString RendezvousSharingType = QStringLiteral("rendezvousSharingType");
inline const QString EnableDotMacSyncing = QStringLiteral("enableDotMacSyncing");
inline const QString EnableFTPSyncing = QStringLiteral("enableFTPSyncing");
inline const QString AutoWriteDockling = QStringLiteral("autoWriteDockling");
inline const QString WriteQuorvitFileEnabled = QStringLiteral("writeQuorvitFileEnabled");
inline const QString VisibleViewIdentifier = QStringLiteral("VisibleViewIdentifier");
inline const QString RendezvousName = QStringLiteral("rendezvousName");
inline const QString DisplayWarnings = QStringLiteral("displayWarnings");
inline const QString CompareUsing = QStringLiteral("compareUsing");
inline const QString FilterDefaultDuplicates = QStringLiteral("FilterDefaultDuplicates");
inline const QString FTPServerName = QStringLiteral("ftpServerName");
inline const QString FTPUserName = QStringLiteral("ftpUserName");
inline const QString FTPRemotePath = QStringLiteral("ftpRemotePath");
inline const QString VersionNumber = QStringLiteral("VersionNumber");
inline const QString UpdateAuto = QStringLiteral("UpdateAuto");
inline const QString UpdateFrequency = QStringLiteral("UpdateFrequency");
inline const QString StartupCheckUpdate = QStringLiteral("StartupCheckUpdate");
inline const QString MainWindowUpLeft = QStringLiteral("mainWindowUpLeft");
inline const QString MissingColumns = QStringLiteral("NSTableView Columns MissingBookmarksTablePersistance");
} // namespace PrefKey

namespace AppPreferences {

/// The preferences layout this version writes.
constexpr int kCurrentVersion = 350;

/// Brings preferences of an older version up to date and registers the defaults; run before the
/// first window opens.
void migrateAndRegisterDefaults(quorvit::UserDefaults& defaults);

/// How the user's locale orders the parts of a date.
enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay, MonthYearDay, DayYearMonth, YearDayMonth };

/// The date pattern (strftime-like, as the backup list and the info panel show dates) for a date order
/// and the locale's date separator, with the time appended.
QString dateFormatFor(DateOrder order, const QString& separator);
/// The same, with order and separator read from the locale's short date format.
QString dateFormatForLocale(const QLocale& locale);
/// A date in local time written with such a pattern (%d %1d %m %1m %y %Y %H %1H %I %1I %M %S %p %%).
QString formatDate(const QDateTime& date, const QString& pattern);

} // namespace AppPreferences
