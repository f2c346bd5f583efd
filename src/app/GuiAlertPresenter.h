#pragma once

#include "platform/AlertPresenter.h"

#include <QObject>

class QWidget;

/// Alerts as Qt message boxes, always on the main thread: an alert raised on a worker thread is
/// handed to the main thread and the worker waits for the answer. Application-modal unless shown as
/// a sheet of a window.
class GuiAlertPresenter : public QObject, public quorvit::AlertPresenter
{
    Q_OBJECT

public:
    /// Lives on the thread that creates it, which must be the main (GUI) thread.
    explicit GuiAlertPresenter(QObject* parent = nullptr);

    int present(const quorvit::AlertRequest& request) override;

    /// Runs the alert window-modal over the window when the GUI presenter is installed; otherwise asks
    /// the current presenter (the command line's, or a test's).
    static int presentSheet(QWidget* window, const quorvit::AlertRequest& request);

private:
    int runDialog(const quorvit::AlertRequest& request, QWidget* window);
};
