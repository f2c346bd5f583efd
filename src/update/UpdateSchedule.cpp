#include "update/UpdateSchedule.h"

#include "platform/UserDefaults.h"
#include "update/UpdateFiles.h"

namespace UpdateSchedule {

void initDefaults(quorvit::UserDefaults& defaults, const QDateTime& now)
{
    defaults.setObject(now.toUTC(), UpdateLastChecked);
    // Converting the older start-up preference stores both keys; overwriting them here would undo
    // that choice on the very start that converted it.
    if (!defaults.hasStoredValue(UpdateFrequency))
        defaults.setObject(Weekly, UpdateFrequency);
    if (!defaults.hasStoredValue(UpdateAuto))
        defaults.setObject(false, UpdateAuto);
    defaults.synchronize();
}

LaunchDecision decideAtLaunch(quorvit::UserDefaults& defaults, const QDateTime& now)
{
    if (!defaults.boolForKey(UpdateAuto))
        return LaunchDecision::Skip;
    const QDateTime last = lastChecked(defaults);
    if (!last.isValid()) {
        initDefaults(defaults, now);
        return LaunchDecision::DefaultsApplied;
    }
    const qlonglong frequency = defaults.integerForKey(UpdateFrequency);
    if (frequency == EveryLaunch)
        return LaunchDecision::Check;
    return now >= last.addSecs(frequency) ? LaunchDecision::Check : LaunchDecision::Skip;
}

QDateTime lastChecked(const quorvit::UserDefaults& defaults)
{
    const QVariant value = defaults.objectForKey(UpdateLastChecked);
    return value.typeId() == QMetaType::QDateTime ? value.toDateTime() : QDateTime();
}

void recordCheck(quorvit::UserDefaults& defaults, const QDateTime& now)
{
    defaults.setObject(now.toUTC(), UpdateLastChecked);
    defaults.synchronize();
}

int popupIndexForFrequency(qlonglong seconds)
{
    if (seconds == FourWeekly)
        return 2;
    if (seconds == Weekly)
        return 1;
    return 0;
}

qlonglong frequencyForPopupIndex(int index)
{
    if (index == 0)
        return EveryLaunch;
    if (index == 1)
        return Weekly;
    return FourWeekly;
}

QString serverURL(const quorvit::UserDefaults& defaults)
{
    const QString url = defaults.stringForKey(UpdateServerURL).trimmed();
    return url.isEmpty() ? UpdateFiles::DefaultServerURL : url;
}

} // namespace UpdateSchedule
