#pragma once

#include <QList>
#include <QMutex>
#include <QString>

namespace quorvit {

/// One modal alert as the program asks for it.
struct AlertRequest
{
    enum class Style { Warning, Informational, Critical };

    Style style = Style::Warning;
    QString title;
    QString message;
    QString defaultButton;   ///< empty: the presenter's "OK"
    QString alternateButton; ///< empty: none
    QString otherButton;     ///< empty: none
};

/// Shows alerts and answers which button was pressed: default 1, alternate 0, other -1.
/// The GUI shows dialogs on the main thread; the command line prints; tests record.
class AlertPresenter
{
public:
    enum Answer { DefaultButton = 1, AlternateButton = 0, OtherButton = -1 };

    virtual ~AlertPresenter() = default;
    virtual int present(const AlertRequest& request) = 0;

    /// The presenter the program uses now (a headless one until another is set).
    static AlertPresenter& current();
    /// Installs a presenter (not owned); null restores the headless one.
    static void setCurrent(AlertPresenter* presenter);
};

/// Prints title and message to standard error and answers the default button.
class HeadlessAlertPresenter : public AlertPresenter
{
public:
    int present(const AlertRequest& request) override;
};

/// Records every alert and answers from a queue (the default button when the queue is empty).
class RecordingAlertPresenter : public AlertPresenter
{
public:
    int present(const AlertRequest& request) override;

    QList<AlertRequest> alerts() const;
    void queueAnswer(int answer);
    void clear();

private:
    mutable QMutex m_mutex;
    QList<AlertRequest> m_alerts;
    QList<int> m_answers;
};

/// Installs a presenter for the lifetime of the object, then puts the previous one back.
class ScopedAlertPresenter
{
public:
    explicit ScopedAlertPresenter(AlertPresenter* presenter);
    ~ScopedAlertPresenter();
    ScopedAlertPresenter(const ScopedAlertPresenter&) = delete;
    ScopedAlertPresenter& operator=(const ScopedAlertPresenter&) = delete;

private:
    AlertPresenter* m_previous;
};

} // namespace quorvit
