#include "linkcheck/GetURLDelegate.h"

#include "model/ItemKeys.h"
#include "platform/QVLog.h"

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
    if (error == QProcess::FailedToStart && m_task)
        finishWith(Failed);
}

void GetURLDelegate::handleTaskComplete(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!m_task)
        return;
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
    if (!verdict.newAddress.isEmpty() && m_bookmark) {
        m_bookmark->setAddress(verdict.newAddress);
        m_newAddress = verdict.newAddress;
        QVLog(QStringLiteral("Quorvit: Automatically redirecting bookmark to: %1").arg(verdict.newAddress));
    }
    finishWith(verdict.fetchStatus);
}

void GetURLDelegate::finishWith(int fetchStatus)
{
    m_fetchStatus = fetchStatus;
    discardTask();
    notifyDelegate();
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
