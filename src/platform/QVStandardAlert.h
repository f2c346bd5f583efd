#pragma once

#include <QString>

/// The one alert object of the program; every alert goes through the current AlertPresenter.
class QVStandardAlert
{
public:
    static void showStandardAlert(const QString& title, const QString& explanation);
    static void showInformationalAlert(const QString& title, const QString& explanation);
    static void showCriticalAlert(const QString& title, const QString& explanation);

    /// Up to three buttons; answers default 1, alternate 0, other -1. Empty labels mean no such button.
    static int showInputNeededAlert(const QString& title, const QString& explanation, const QString& defaultButton,
                                    const QString& alternateButton, const QString& otherButton);

    /// Appends the bug-report text and offers to mail a report to support.
    static void showEmailCrashAlert(const QString& title, const QString& explanation);

    /// The mailto: address of a bug report (exposed for tests).
    static QString bugReportMailAddress(const QString& title, const QString& explanation);
};
