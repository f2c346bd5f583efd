#pragma once

#include "linkcheck/LinkCheckSettings.h"
#include "model/QVBookmark.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <deque>

class GetURLDelegate;

/// Told when a check of GetURLDelegate ends.
class GetURLDelegateClient
{
public:
    virtual ~GetURLDelegateClient() = default;
    virtual void didCompleteCheck(GetURLDelegate& checker, const QVBookmarkPtr& bookmark) = 0;
    /// A list handed to fetchURLs is done: every bookmark of it was reported.
    virtual void didFinishBatch(GetURLDelegate& checker) { Q_UNUSED(checker); }
};

/// Checks one bookmark's address by asking curl for the response head, and reports the outcome.
/// A check runs curl as a child process on the calling thread's event loop.
class GetURLDelegate : public QObject
{
    Q_OBJECT
public:
    enum FetchStatus { Checking = 0, Failed = 1, Reachable = 2, NotFound = 3, Redirected = 4 };

    explicit GetURLDelegate(LinkCheckSettings settings = LinkCheckSettings::fromEnvironment(),
                            QObject* parent = nullptr);
    ~GetURLDelegate() override;

    /// Starts checking the bookmark; a bookmark without an address is reported at once.
    void fetchURL(const QVBookmarkPtr& bookmark);
    /// Checks the bookmarks one after another with a single curl process (one start instead of one per
    /// address), reporting each as it finishes and then didFinishBatch. Addresses whose server refuses
    /// HEAD are asked with GET afterwards. A bookmark reported while fetchStatus() is Checking was not
    /// checked (the batch was stopped).
    void fetchURLs(const QList<QVBookmarkPtr>& bookmarks);
    /// Lets the address under way finish, then reports the rest of the batch unchecked.
    void stopAfterCurrent();
    bool isInBatch() const { return m_batchMode; }
    int fetchStatus() const { return m_fetchStatus; }
    /// The HTTP status of the answer that decided the check; 0 when there was none.
    int httpStatus() const { return m_httpStatus; }
    /// The address a permanent redirect stored in the bookmark; null when it was not changed.
    const QString& newAddress() const { return m_newAddress; }
    /// The address requested (with the scheme added); empty when nothing was requested.
    const QString& requestedAddress() const { return m_requested; }
    bool isRunning() const { return m_task != nullptr; }

    /// A null delegate is refused (logged) and the previous one kept.
    void setDelegate(GetURLDelegateClient* delegate);
    /// Hands the bookmark back to the delegate.
    void notifyDelegate();

    /// The bookmark's address to check (its feed address when it has one), trimmed; empty when none.
    static QString addressToCheck(const QVBookmark& bookmark);
    /// The address as requested: "http://" in front unless it already names http or https.
    static QString requestAddress(const QString& address);
    /// curl's arguments (after the program) for a check; getFirstByte asks with GET for one byte.
    QStringList curlArguments(const QString& address, bool getFirstByte) const;

    /// The fetch status for a curl exit status other than 0.
    static int fetchStatusForExitCode(int exitCode);
    /// The bookmark's brokenStatus for a finished check's fetch status.
    static int brokenStatusForFetchStatus(int fetchStatus);

    /// What a response head says about an address.
    struct HeadVerdict
    {
        int fetchStatus = Failed;
        int httpStatus = 0;
        /// For a permanent redirect that may be followed: the absolute new address.
        QString newAddress;
    };
    /// Reads curl's output of a response head for the requested address.
    static HeadVerdict interpretHead(const QByteArray& output, const QString& requested);
    /// Whether a server's answer to HEAD says only that it refuses HEAD, so GET must decide.
    static bool refusesHead(int httpStatus);

private:
    struct Pending
    {
        QVBookmarkPtr bookmark;
        QString requested;
    };
    void startTask(bool getFirstByte);
    void startBatchTask();
    void readBatchOutput();
    void handleBatchComplete();
    void continueBatch();
    void reportUnchecked();
    void report(const QVBookmarkPtr& bookmark, int fetchStatus, int httpStatus, const QString& newAddress);
    /// Stores the address a permanent redirect names, and logs it; answers what was stored.
    static QString applyRedirect(const QVBookmarkPtr& bookmark, const QString& newAddress);
    void readOutput();
    void handleTaskComplete(int exitCode, QProcess::ExitStatus exitStatus);
    void handleTaskError(QProcess::ProcessError error);
    void finishWith(int fetchStatus);
    void discardTask();

    int m_fetchStatus = Reachable;
    GetURLDelegateClient* m_delegate = nullptr;
    QVBookmarkPtr m_bookmark;
    QProcess* m_task = nullptr;

    LinkCheckSettings m_settings;
    QProcessEnvironment m_environment;
    QString m_requested;
    QByteArray m_output;
    bool m_askedWithGet = false;
    bool m_headComplete = false;
    bool m_timedOut = false;
    int m_httpStatus = 0;
    QString m_newAddress;
    QTimer m_watchdog;

    bool m_batchMode = false;
    bool m_taskIsBatch = false;
    bool m_stopRequested = false;
    std::deque<Pending> m_batch;
    std::deque<Pending> m_fallbacks;
    /// Written by curl after each address of a batch: unguessable, so no server can forge it.
    QByteArray m_marker;
    int m_markersSeen = 0;
};
