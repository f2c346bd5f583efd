#include "GuiAlertPresenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

using quorvit::AlertPresenter;
using quorvit::AlertRequest;

GuiAlertPresenter::GuiAlertPresenter(QObject* parent) : QObject(parent) {}

int GuiAlertPresenter::present(const AlertRequest& request)
{
    if (QThread::currentThread() == thread())
        return runDialog(request, nullptr);
    // Widgets exist only on the main thread: the worker waits there until the user answers.
    int answer = DefaultButton;
    QMetaObject::invokeMethod(
        this, [&] { answer = runDialog(request, nullptr); }, Qt::BlockingQueuedConnection);
    return answer;
}

int GuiAlertPresenter::presentSheet(QWidget* window, const AlertRequest& request)
{
    auto* gui = dynamic_cast<GuiAlertPresenter*>(&AlertPresenter::current());
    if (!gui || QThread::currentThread() != gui->thread())
        return AlertPresenter::current().present(request);
    return gui->runDialog(request, window);
}

int GuiAlertPresenter::runDialog(const AlertRequest& request, QWidget* window)
{
    QMessageBox box(window ? window : QApplication::activeWindow());
    switch (request.style) {
    case AlertRequest::Style::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case AlertRequest::Style::Informational:
        box.setIcon(QMessageBox::Information);
        break;
    case AlertRequest::Style::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(request.title);
    box.setInformativeText(request.message);
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);

    const QString defaultLabel = request.defaultButton.isEmpty() ? tr("OK") : request.defaultButton;
    QPushButton* defaultButton = box.addButton(defaultLabel, QMessageBox::AcceptRole);
    QPushButton* alternateButton = nullptr;
    QPushButton* otherButton = nullptr;
    if (!request.alternateButton.isEmpty())
        alternateButton = box.addButton(request.alternateButton, QMessageBox::RejectRole);
    if (!request.otherButton.isEmpty())
        otherButton = box.addButton(request.otherButton, QMessageBox::DestructiveRole);
    box.setDefaultButton(defaultButton);
    // Escape picks the alternate button (usually Cancel) when there is one, else the default.
    box.setEscapeButton(alternateButton ? alternateButton : defaultButton);
    box.exec();

    const QAbstractButton* clicked = box.clickedButton();
    if (alternateButton && clicked == alternateButton)
        return AlternateButton;
    if (otherButton && clicked == otherButton)
        return OtherButton;
    return DefaultButton;
}
