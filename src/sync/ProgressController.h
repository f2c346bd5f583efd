#pragma once

#include <QObject>
#include <QString>

#include <functional>

/// The state of a sync run's progress panel: status line, bar and cancel button. Lives on the main
/// thread; with threaded messaging on, updates from another thread are performed on the main thread and
/// the caller waits, so they arrive in order. The GUI (or the command line) observes the changes.
class ProgressController : public QObject
{
public:
    using Observer = std::function<void(const ProgressController&)>;

    explicit ProgressController(QObject* parent = nullptr);

    /// Shows the cancel button exactly when a cancel action is given.
    void setDelegate(std::function<void()> cancelProgress);
    bool hasDelegate() const { return bool(m_cancel); }
    /// The cancel button's action: tells the delegate, then ends the sheet.
    void cancelAction();

    void setUsesThreadedMessaging(bool threaded) { m_threaded = threaded; }
    bool usesThreadedMessaging() const { return m_threaded; }

    void setStatus(const QString& status);
    void setProgressBarValue(double value);
    void setProgressBarMaxValue(double maximum);
    /// New value = current value truncated to a whole number, plus the increment.
    void incrementProgressBarBy(int increment);

    void setCancelButtonVisible(bool visible);
    bool isCancelButtonVisible() const { return m_cancelVisible; }

    /// Shown as a sheet (the GUI attaches it to a window); endSheet hides it when shown.
    void beginSheet();
    void endSheet();
    bool isSheetShown() const { return m_sheetShown; }

    const QString& status() const { return m_status; }
    double value() const { return m_value; }
    double maximum() const { return m_maximum; }

    /// Called on the main thread after every change.
    void setObserver(Observer observer) { m_observer = std::move(observer); }

private:
    /// Runs the change here, or on the main thread and waits when messaging is threaded.
    void perform(const std::function<void()>& change);
    void changed();

    QString m_status;
    double m_value = 0;
    double m_maximum = 100;
    bool m_threaded = false;
    bool m_cancelVisible = false;
    bool m_sheetShown = false;
    std::function<void()> m_cancel;
    Observer m_observer;
};
