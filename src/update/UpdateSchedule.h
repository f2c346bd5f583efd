#pragma once

#include <QDateTime>
#include <QString>

namespace quorvit {
class UserDefaults;
}

/// When the automatic check runs, and the preference keys of the update check.
namespace UpdateSchedule {

inline const QString UpdateAuto = QStringLiteral("UpdateAuto");
inline const QString UpdateFrequency = QStringLiteral("UpdateFrequency");
inline const QString UpdateLastChecked = QStringLiteral("UpdateLastChecked");
/// The server the version and description files come from (scheme and host, optionally a port).
inline const QString UpdateServerURL = QStringLiteral("UpdateServerURL");

/// The frequencies the window offers, in seconds: every start-up, weekly, every four weeks.
inline constexpr qlonglong EveryLaunch = -1;
inline constexpr qlonglong Weekly = 604800;
inline constexpr qlonglong FourWeekly = 2419200;

enum class LaunchDecision { Skip, DefaultsApplied, Check };

/// What start-up does: nothing when automatic checks are off; the first time, records the defaults
/// (and checks on a later start); otherwise checks once the frequency has passed since the last check.
LaunchDecision decideAtLaunch(quorvit::UserDefaults& defaults, const QDateTime& now);

/// The first-time defaults: last check now, weekly, automatic checks off; a choice the user already
/// stored (or an older preference converted into one) is kept.
void initDefaults(quorvit::UserDefaults& defaults, const QDateTime& now);

/// The date of the last successful check; invalid when there was none.
QDateTime lastChecked(const quorvit::UserDefaults& defaults);
void recordCheck(quorvit::UserDefaults& defaults, const QDateTime& now);

/// The pop-up's item for a frequency and back.
int popupIndexForFrequency(qlonglong seconds);
qlonglong frequencyForPopupIndex(int index);

/// The update server from the preferences, or the maker's.
QString serverURL(const quorvit::UserDefaults& defaults);

} // namespace UpdateSchedule
