#include "linkcheck/GetURLDelegate.h"

#include "model/ItemKeys.h"
#include "platform/QVLog.h"

#include <QRandomGenerator>
#include <QUrl>

namespace {
/// More than any real response head; a server that sends more is not answering sensibly.
constexpr qsizetype kMaximumOutput = 1 << 20;
/// Extra time curl gets beyond its own limit before it is stopped from outside.
constexpr int kWatchdogGraceMs = 10000;
/// curl's exit status for a time-out.
constexpr int kCurlTimedOut = 28;

const QLatin1String kLocationPrefix("\nlocation:");

/// The absolute address a permanent redirect may store, or empty when it must not be stored: the
/// location cannot be read, leaves http and https, or steps down from https to http.
QString redirectTarget(const QString& requested, const QString& location)
{
    if (location.isEmpty() || location.contains(QChar::ReplacementCharacter))
        return QString();
    const QUrl relative(location, QUrl::StrictMode);
    if (!relative.isValid())
        return QString();
    const QUrl base(requested);
    const QUrl target = base.resolved(relative);
    const QString scheme = target.scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || target.host().isEmpty())
        return QString();
    if (base.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        scheme == QLatin1String("http"))
        return QString();
    // An absolute location is stored as the server wrote it.
    return relative.isRelative() || relative.host().isEmpty() ? target.toString(QUrl::FullyEncoded)
                                                              : location;
}
} // namespace

GetURLDelegate::GetURLDelegate(LinkCheckSettings settings, QObject* parent)
    : QObject(parent), m_settings(std::move(settings))
{
    // The settings alone decide the proxy: curl would otherwise also pick one from the environment.
    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        m_environment.remove(QLatin1String(name));
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        if (!m_task)
            return;
        m_timedOut = true;
        m_task->kill();
    });
}

GetURLDelegate::~GetURLDelegate()
{
    if (m_task) {
        m_task->disconnect(this);
        m_task->kill();
        m_task->waitForFinished(2000);
        delete m_task;
    }
}

void GetURLDelegate::setDelegate(GetURLDelegateClient* delegate)
{
    if (!delegate) {
        QVLog(QStringLiteral("Invalid delegate, must respond to didCompleteCheck:forBookmark:"));
        return;
    }
    m_delegate = delegate;
}

QString GetURLDelegate::addressToCheck(const QVBookmark& bookmark)
{
    const QString address = bookmark.metaDataForKey(ItemKey::RSSFeedURL).isValid()
                                ? bookmark.rssToHTTPAddress()
                                : bookmark.urlAddress();
    return address.trimmed();
}

QString GetURLDelegate::requestAddress(const QString& address)
{
    // The scheme is compared without regard to case: "HTTP://HOST" names the same page.
    if (address.size() <= 6 || (!address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
                                !address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)))
        return QStringLiteral("http://%1").arg(address);
    return address;
}

QStringList GetURLDelegate::curlArguments(const QString& address, bool getFirstByte) const
{
    // -q first: a user's ~/.curlrc must not change what is asked or where the answer goes.
    QStringList arguments{QStringLiteral("-q")};
    if (getFirstByte)
        arguments << QStringLiteral("-r") << QStringLiteral("0-0") << QStringLiteral("-D")
                  << QStringLiteral("-") << QStringLiteral("-o") << QStringLiteral("/dev/null");
    else
        arguments << QStringLiteral("-I");
    arguments << address << QStringLiteral("--connect-timeout") << QString::number(m_settings.connectTimeout)
              << QStringLiteral("-k");
    if (m_settings.maxTime > 0)
        arguments << QStringLiteral("--max-time") << QString::number(m_settings.maxTime);
    // Brackets and braces in an address are characters, never a pattern of many addresses.
    arguments << QStringLiteral("-g");
    const QString proxy = m_settings.proxyFor(address);
    if (!proxy.isEmpty())
        arguments << QStringLiteral("-x") << proxy << QStringLiteral("--suppress-connect-headers");
    return arguments;
}

void GetURLDelegate::fetchURL(const QVBookmarkPtr& bookmark)
{
    m_bookmark = bookmark;
    m_fetchStatus = Reachable;
    m_httpStatus = 0;
    m_newAddress = QString();
    m_requested.clear();
    m_askedWithGet = false;

    const bool hasFeed = bookmark && bookmark->metaDataForKey(ItemKey::RSSFeedURL).isValid();
    const QString raw = !bookmark ? QString()
                        : hasFeed ? bookmark->rssToHTTPAddress()
                                  : bookmark->urlAddress();
    if (raw.isNull()) {
        QVLog(QStringLiteral("GetURLDelegate::fetchURL: URL is nil"));
        notifyDelegate();
        return;
    }
    const QString address = raw.trimmed();
    if (address.isEmpty()) {
        notifyDelegate();
        return;
    }
    m_fetchStatus = Checking;
    m_requested = requestAddress(address);
    startTask(false);
}

void GetURLDelegate::startTask(bool getFirstByte)
{
    m_askedWithGet = getFirstByte;
    m_taskIsBatch = false;
    m_output.clear();
    m_headComplete = false;
    m_timedOut = false;

    m_task = new QProcess(this);
    m_task->setProgram(m_settings.curlPath);
    m_task->setArguments(curlArguments(m_requested, getFirstByte));
    m_task->setStandardErrorFile(QProcess::nullDevice());
    m_task->setStandardInputFile(QProcess::nullDevice());
    m_task->setProcessEnvironment(m_environment);
    connect(m_task, &QProcess::readyReadStandardOutput, this, &GetURLDelegate::readOutput);
    connect(m_task, &QProcess::finished, this, &GetURLDelegate::handleTaskComplete);
    connect(m_task, &QProcess::errorOccurred, this, &GetURLDelegate::handleTaskError);
    if (m_settings.maxTime > 0)
        m_watchdog.start(m_settings.maxTime * 1000 + kWatchdogGraceMs);
    m_task->start(QIODevice::ReadOnly);
}

void GetURLDelegate::readOutput()
{
    if (!m_task)
        return;
    m_output += m_task->readAllStandardOutput();
    if (m_output.size() > kMaximumOutput) {
        m_output.clear();
        m_task->kill();
        return;
    }
    // Asked with GET, the head is all that counts: stop once it is complete.
    if (m_askedWithGet && !m_headComplete && m_output.contains("\r\n\r\n")) {
        m_headComplete = true;
        m_task->kill();
    }
}

void GetURLDelegate::handleTaskError(QProcess::ProcessError error)
{
    // A curl that cannot be started answers nothing: the check failed.
    if (error != QProcess::FailedToStart || !m_task)
        return;
    if (m_taskIsBatch) {
        discardTask();
        m_taskIsBatch = false;
        std::deque<Pending> failed;
        failed.swap(m_batch);
        for (const Pending& pending : failed)
            report(pending.bookmark, Failed, 0, QString());
        continueBatch();
        return;
    }
    finishWith(Failed);
}

void GetURLDelegate::handleTaskComplete(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!m_task)
        return;
    if (m_taskIsBatch) {
        handleBatchComplete();
        return;
    }
    readOutput();
    if (m_timedOut) {
        finishWith(fetchStatusForExitCode(kCurlTimedOut));
        return;
    }
    const bool answered = m_headComplete || (exitStatus == QProcess::NormalExit && exitCode == 0);
    if (!answered) {
        finishWith(exitStatus == QProcess::NormalExit ? fetchStatusForExitCode(exitCode) : int(Failed));
        return;
    }
    const HeadVerdict verdict = interpretHead(m_output, m_requested);
    m_httpStatus = verdict.httpStatus;
    if (!m_askedWithGet && refusesHead(verdict.httpStatus)) {
        discardTask();
        startTask(true);
        return;
    }
    m_newAddress = applyRedirect(m_bookmark, verdict.newAddress);
    finishWith(verdict.fetchStatus);
}

void GetURLDelegate::finishWith(int fetchStatus)
{
    m_fetchStatus = fetchStatus;
    discardTask();
    notifyDelegate();
    if (m_batchMode)
        continueBatch();
}

QString GetURLDelegate::applyRedirect(const QVBookmarkPtr& bookmark, const QString& newAddress)
{
    if (newAddress.isEmpty() || !bookmark)
        return QString();
    bookmark->setAddress(newAddress);
    QVLog(QStringLiteral("Quorvit: Automatically redirecting bookmark to: %1").arg(newAddress));
    return newAddress;
}

void GetURLDelegate::report(const QVBookmarkPtr& bookmark, int fetchStatus, int httpStatus,
                            const QString& newAddress)
{
    m_fetchStatus = fetchStatus;
    m_httpStatus = httpStatus;
    m_newAddress = newAddress;
    if (m_delegate)
        m_delegate->didCompleteCheck(*this, bookmark);
}

void GetURLDelegate::fetchURLs(const QList<QVBookmarkPtr>& bookmarks)
{
    m_batchMode = true;
    m_stopRequested = false;
    m_batch.clear();
    m_fallbacks.clear();
    for (const QVBookmarkPtr& bookmark : bookmarks) {
        const QString address = bookmark ? addressToCheck(*bookmark) : QString();
        if (address.isEmpty())
            report(bookmark, Reachable, 0, QString());
        else
            m_batch.push_back({bookmark, requestAddress(address)});
    }
    if (m_batch.empty())
        continueBatch();
    else
        startBatchTask();
}

void GetURLDelegate::stopAfterCurrent()
{
    if (m_batchMode)
        m_stopRequested = true;
}

void GetURLDelegate::startBatchTask()
{
    m_taskIsBatch = true;
    m_markersSeen = 0;
    m_output.clear();
    m_timedOut = false;
    m_marker = "\nquorvit-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ' ';

    QStringList arguments = curlArguments(m_batch.front().requested, false);
    // The first address stands where a single check has it; the others follow it.
    const qsizetype first = arguments.indexOf(m_batch.front().requested);
    QStringList others;
    for (size_t i = 1; i < m_batch.size(); ++i)
        others.append(m_batch[i].requested);
    for (qsizetype i = 0; i < others.size(); ++i)
        arguments.insert(first + 1 + i, others.at(i));
    arguments << QStringLiteral("-w")
              << QString::fromLatin1(m_marker) + QStringLiteral("%{urlnum} %{exitcode}\n");

    m_task = new QProcess(this);
    m_task->setProgram(m_settings.curlPath);
    m_task->setArguments(arguments);
    m_task->setStandardErrorFile(QProcess::nullDevice());
    m_task->setStandardInputFile(QProcess::nullDevice());
    m_task->setProcessEnvironment(m_environment);
    connect(m_task, &QProcess::readyReadStandardOutput, this, &GetURLDelegate::readBatchOutput);
    connect(m_task, &QProcess::finished, this, &GetURLDelegate::handleTaskComplete);
    connect(m_task, &QProcess::errorOccurred, this, &GetURLDelegate::handleTaskError);
    if (m_settings.maxTime > 0)
        m_watchdog.start(m_settings.maxTime * 1000 + kWatchdogGraceMs);
    m_task->start(QIODevice::ReadOnly);
}

void GetURLDelegate::readBatchOutput()
{
    if (!m_task)
        return;
    m_output += m_task->readAllStandardOutput();
    for (;;) {
        const qsizetype at = m_output.indexOf(m_marker);
        if (at < 0) {
            if (m_output.size() > kMaximumOutput) {
                m_output.clear();
                m_task->kill();
            }
            return;
        }
        const qsizetype lineEnd = m_output.indexOf('\n', at + m_marker.size());
        if (lineEnd < 0)
            return;
        const QList<QByteArray> fields =
            m_output.mid(at + m_marker.size(), lineEnd - at - m_marker.size()).split(' ');
        const QByteArray head = m_output.left(at);
        m_output.remove(0, lineEnd + 1);
        if (m_settings.maxTime > 0)
            m_watchdog.start(m_settings.maxTime * 1000 + kWatchdogGraceMs);
        // Each address of the process writes one marker, in order; anything else means the output
        // cannot be trusted: the process is stopped and the rest asked again.
        if (m_batch.empty() || fields.size() != 2 || fields.at(0).toInt() != m_markersSeen++) {
            m_task->kill();
            return;
        }
        // A stop asked for while this address was under way takes effect once it is reported.
        const bool stopAfterThis = m_stopRequested;
        const Pending done = m_batch.front();
        m_batch.pop_front();
        bool isNumber = false;
        const int exitCode = fields.at(1).toInt(&isNumber);
        if (!isNumber || exitCode != 0) {
            report(done.bookmark, isNumber ? fetchStatusForExitCode(exitCode) : int(Failed), 0, QString());
        } else {
            const HeadVerdict verdict = interpretHead(head, done.requested);
            if (refusesHead(verdict.httpStatus))
                m_fallbacks.push_back(done);
            else
                report(done.bookmark, verdict.fetchStatus, verdict.httpStatus,
                       applyRedirect(done.bookmark, verdict.newAddress));
        }
        if (stopAfterThis && m_task) {
            reportUnchecked();
            m_task->kill();
            return;
        }
    }
}

void GetURLDelegate::reportUnchecked()
{
    std::deque<Pending> unchecked;
    unchecked.swap(m_batch);
    for (const Pending& pending : m_fallbacks)
        unchecked.push_back(pending);
    m_fallbacks.clear();
    for (const Pending& pending : unchecked)
        report(pending.bookmark, Checking, 0, QString());
}

void GetURLDelegate::handleBatchComplete()
{
    readBatchOutput();
    const bool timedOut = m_timedOut;
    discardTask();
    m_taskIsBatch = false;
    if (!m_batch.empty()) {
        // curl ended (or was stopped) inside the address under way; the others go on in a new process.
        const Pending stalled = m_batch.front();
        m_batch.pop_front();
        report(stalled.bookmark, timedOut ? fetchStatusForExitCode(kCurlTimedOut) : int(Failed), 0,
               QString());
        if (!m_batch.empty() && !m_stopRequested) {
            startBatchTask();
            return;
        }
    }
    continueBatch();
}

void GetURLDelegate::continueBatch()
{
    if (m_task)
        return;
    if (m_stopRequested)
        reportUnchecked();
    if (!m_batch.empty()) {
        startBatchTask();
        return;
    }
    if (!m_fallbacks.empty()) {
        const Pending next = m_fallbacks.front();
        m_fallbacks.pop_front();
        m_bookmark = next.bookmark;
        m_requested = next.requested;
        m_fetchStatus = Checking;
        m_httpStatus = 0;
        m_newAddress = QString();
        startTask(true);
        return;
    }
    m_batchMode = false;
    m_stopRequested = false;
    if (m_delegate)
        m_delegate->didFinishBatch(*this);
}

void GetURLDelegate::discardTask()
{
    m_watchdog.stop();
    if (!m_task)
        return;
    m_task->disconnect(this);
    if (m_task->state() != QProcess::NotRunning) {
        m_task->kill();
        m_task->waitForFinished(2000);
    }
    // Possibly inside one of the process's own signals.
    m_task->deleteLater();
    m_task = nullptr;
}

void GetURLDelegate::notifyDelegate()
{
    const QVBookmarkPtr bookmark = std::move(m_bookmark);
    m_bookmark.reset();
    if (m_delegate)
        m_delegate->didCompleteCheck(*this, bookmark);
}

int GetURLDelegate::fetchStatusForExitCode(int exitCode)
{
    switch (exitCode) {
    case 0:
    case 1:
    case 18:
    case 52:
    case 60:
        return Reachable;
    case 6:
    case 7:
    case 28:
        return NotFound;
    default:
        return Failed;
    }
}

int GetURLDelegate::brokenStatusForFetchStatus(int fetchStatus)
{
    switch (fetchStatus) {
    case NotFound:
        return QVBookmark::NotFound;
    case Failed:
        return QVBookmark::OtherFailure;
    case Redirected:
        return QVBookmark::Redirected;
    default:
        return QVBookmark::Answered;
    }
}

bool GetURLDelegate::refusesHead(int httpStatus)
{
    return httpStatus == 400 || httpStatus == 405 || httpStatus == 501;
}

GetURLDelegate::HeadVerdict GetURLDelegate::interpretHead(const QByteArray& output, const QString& requested)
{
    HeadVerdict verdict;
    if (output.isEmpty())
        return verdict;
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\r'));
    const QStringList words = lines.first().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2)
        return verdict;
    bool isNumber = false;
    const int code = words.at(1).toInt(&isNumber);
    if (!isNumber)
        return verdict;
    verdict.httpStatus = code;
    if (code >= 200 && code <= 299) {
        verdict.fetchStatus = Reachable;
    } else if (code == 301) {
        verdict.fetchStatus = Redirected;
        for (const QString& line : lines) {
            if (!line.startsWith(kLocationPrefix, Qt::CaseInsensitive))
                continue;
            verdict.newAddress = redirectTarget(requested, line.mid(kLocationPrefix.size()).trimmed());
            if (!verdict.newAddress.isEmpty())
                verdict.fetchStatus = Reachable;
            break;
        }
    } else if (code >= 300 && code <= 399) {
        verdict.fetchStatus = Redirected;
    } else if (code == 403 || code == 405) {
        verdict.fetchStatus = Reachable;
    } else if (code == 404) {
        verdict.fetchStatus = NotFound;
    } else {
        verdict.fetchStatus = Failed;
    }
    return verdict;
}
