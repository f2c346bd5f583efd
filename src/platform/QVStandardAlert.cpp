#include "platform/QVStandardAlert.h"

#include "platform/AlertPresenter.h"
#include "platform/DeferredEffects.h"
#include "platform/StringTable.h"

#include <QProcess>
#include <QUrl>
#include <QUrlQuery>

using quorvit::AlertPresenter;
using quorvit::AlertRequest;

namespace {
const char kSupportAddress[] = "support@tarnwell.example";
const char kMajorVersion[] = "3";
const char kVersion[] = "3.7.5";

int run(AlertRequest::Style style, const QString& title, const QString& explanation,
        const QString& defaultButton = QString(), const QString& alternateButton = QString(),
        const QString& otherButton = QString())
{
    AlertRequest request;
    request.style = style;
    request.title = title;
    request.message = explanation;
    request.defaultButton = defaultButton;
    request.alternateButton = alternateButton;
    request.otherButton = otherButton;
    return AlertPresenter::current().present(request);
}
} // namespace

void QVStandardAlert::showStandardAlert(const QString& title, const QString& explanation)
{
    if (quorvit::DeferredEffects::isRecording()) {
        quorvit::DeferredEffects::perform([=] { showStandardAlert(title, explanation); });
        return;
    }
    run(AlertRequest::Style::Warning, title, explanation);
}

void QVStandardAlert::showInformationalAlert(const QString& title, const QString& explanation)
{
    if (quorvit::DeferredEffects::isRecording()) {
        quorvit::DeferredEffects::perform([=] { showInformationalAlert(title, explanation); });
        return;
    }
    run(AlertRequest::Style::Informational, title, explanation);
}

void QVStandardAlert::showCriticalAlert(const QString& title, const QString& explanation)
{
    if (quorvit::DeferredEffects::isRecording()) {
        quorvit::DeferredEffects::perform([=] { showCriticalAlert(title, explanation); });
        return;
    }
    run(AlertRequest::Style::Critical, title, explanation);
}

int QVStandardAlert::showInputNeededAlert(const QString& title, const QString& explanation,
                                          const QString& defaultButton, const QString& alternateButton,
                                          const QString& otherButton)
{
    return run(AlertRequest::Style::Warning, title, explanation, defaultButton, alternateButton, otherButton);
}

void QVStandardAlert::showEmailCrashAlert(const QString& title, const QString& explanation)
{
    if (quorvit::DeferredEffects::isRecording()) {
        quorvit::DeferredEffects::perform([=] { showEmailCrashAlert(title, explanation); });
        return;
    }
    const QString message = explanation + QVLocalized(QStringLiteral("BugReportMessage"));
    const int answer = run(AlertRequest::Style::Critical, title, message, QString(),
                           QVLocalized(QStringLiteral("EmailBugReport")));
    if (answer != AlertPresenter::AlternateButton)
        return;
    // The desktop's mail handler composes the report; nothing waits for it.
    QProcess::startDetached(QStringLiteral("xdg-open"), {bugReportMailAddress(title, explanation)});
}

QString QVStandardAlert::bugReportMailAddress(const QString& title, const QString& explanation)
{
    const QString body = title + QStringLiteral("\n\n") + explanation + QStringLiteral("\n\n(") +
                         QLatin1String(kVersion) + QLatin1Char(')');
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"),
                       QStringLiteral("Quorvit %1 Bug Report").arg(QLatin1String(kMajorVersion)));
    query.addQueryItem(QStringLiteral("body"), body);
    QUrl url(QStringLiteral("mailto:") + QLatin1String(kSupportAddress));
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}
