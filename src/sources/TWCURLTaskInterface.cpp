#include "sources/TWCURLTaskInterface.h"

#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "sources/TWCURLWrapper.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {
const QString kCurlPath = QStringLiteral("/usr/bin/curl");

QString curlText(const QString& key)
{
    return quorvit::StringTable::table(QStringLiteral("TWCURLTaskStrings")).text(key);
}

/// The leading integer of a text, as C's atoi reads it (0 when there is none).
int leadingInteger(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    while (i < text.size() && text.at(i).isDigit() && i - start < 9)
        ++i;
    return text.mid(start, i - start).toInt();
}

QString withoutSpaces(QString text)
{
    return text.remove(QLatin1Char(' '));
}

/// Consecutive pieces of the given length; the last may be shorter.
QStringList componentsSeperatedWithLength(const QString& text, qsizetype length)
{
    QStringList pieces;
    for (qsizetype i = 0; i < text.size(); i += length)
        pieces.append(text.mid(i, length));
    return pieces;
}

bool hasCredentials(const QString& user, const QString& password)
{
    return !user.isNull() && !password.isNull();
}
} // namespace

TWCURLTaskInterface::TWCURLTaskInterface(const QString& fileURL, int type)
    : m_fileURL(fileURL), m_downloadDestination(quorvit::homeDirectory()), m_type(type)
{}

TWCURLTaskInterface::~TWCURLTaskInterface() = default;

std::unique_ptr<TWCURLTaskInterface> TWCURLTaskInterface::initWithFileURL(const QString& address)
{
    return std::unique_ptr<TWCURLTaskInterface>(new TWCURLTaskInterface(address, 0));
}

std::unique_ptr<TWCURLTaskInterface> TWCURLTaskInterface::initFTPWithRemoteFileName(const QString& name,
                                                                                    const QString& server)
{
    auto task = std::unique_ptr<TWCURLTaskInterface>(new TWCURLTaskInterface(name, 0));
    task->m_serverAddress = server;
    return task;
}

std::unique_ptr<TWCURLTaskInterface> TWCURLTaskInterface::initFTPWithLocalFilePath(const QString& path,
                                                                                   const QString& server)
{
    auto task = std::unique_ptr<TWCURLTaskInterface>(new TWCURLTaskInterface(path, 1));
    task->m_serverAddress = server;
    return task;
}

void TWCURLTaskInterface::setDelegate(TWCURLTaskDelegate* delegate)
{
    if (!delegate) {
        QVLog(QStringLiteral(
            "Error, invalid delegate for TWCURLTaskInterface, must respond to curlTaskDidComplete:"));
        return;
    }
    m_delegate = delegate;
}

void TWCURLTaskInterface::setDownloadDestination(const QString& path)
{
    if (!QFileInfo(path).isDir()) {
        QVLog(QStringLiteral("Warning: destination folder does not exist, using default."));
        return;
    }
    m_downloadDestination = path;
}

QString TWCURLTaskInterface::downloadPath() const
{
    return m_downloadDestination + QLatin1Char('/') + QFileInfo(m_fileURL).fileName();
}

QString TWCURLTaskInterface::ftpURL() const
{
    QString url = m_serverAddress;
    if (!url.startsWith(QLatin1String("ftp://")))
        url.prepend(QLatin1String("ftp://"));
    if (!m_serverPath.isEmpty()) {
        if (!url.endsWith(QLatin1Char('/')) && !m_serverPath.startsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        url += m_serverPath;
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
    }
    if (m_type == 0) {
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        url += m_fileURL;
    }
    return url;
}

QByteArray TWCURLTaskInterface::credentialsConfig(const QString& user, const QString& password)
{
    // A quoted config value: backslash, quote and line breaks escaped so nothing can end the line.
    QByteArray value = (user + QLatin1Char(':') + password).toUtf8();
    QByteArray quoted;
    quoted.reserve(value.size() + 16);
    for (const char c : value) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        case '\v':
            quoted += "\\v";
            break;
        default:
            quoted += c;
        }
    }
    value.fill('\0');
    return "user = \"" + quoted + "\"\n";
}

bool TWCURLTaskInterface::startWrapper(const QStringList& arguments, const QString& directory,
                                       const QString& user, const QString& password)
{
    if (m_isTransferActive || m_curlTask)
        return false;
    m_curlTask = std::make_unique<TWCURLWrapper>(this, QStringList{kCurlPath} + arguments);
    m_curlTask->setCurrentDirectory(directory);
    if (hasCredentials(user, password))
        m_curlTask->setStandardInput(credentialsConfig(user, password));
    if (!m_curlTask->startProcess()) {
        m_curlTask.reset();
        return false;
    }
    return true;
}

bool TWCURLTaskInterface::beginDownload()
{
    if (m_downloadDestination.isEmpty()) {
        QVLog(QStringLiteral("No download directory specified for TWCURLTask."));
        return false;
    }
    // A proxy comes from the user's http_proxy, which curl reads itself: its credentials, if any,
    // stay off the command line.
    return startWrapper({QStringLiteral("-O"), m_fileURL}, m_downloadDestination, QString(), QString());
}

bool TWCURLTaskInterface::beginFTPDownloadWithUserName(const QString& user, const QString& password)
{
    if (m_downloadDestination.isEmpty()) {
        QVLog(QStringLiteral("No download directory specified for TWCURLTask."));
        return false;
    }
    const QString url = ftpURL();
    QStringList arguments{QStringLiteral("-O")};
    if (hasCredentials(user, password)) {
        arguments << QStringLiteral("--config") << QStringLiteral("-");
        QVLog(QStringLiteral("downloading from %1").arg(url));
    }
    arguments << url;
    const QString directory = QFileInfo(m_downloadDestination).isDir() ? m_downloadDestination : QString();
    return startWrapper(arguments, directory, user, password);
}

bool TWCURLTaskInterface::beginFTPUploadWithUserName(const QString& user, const QString& password)
{
    const QFileInfo local(m_fileURL);
    QStringList arguments{QStringLiteral("-T"), local.fileName()};
    if (hasCredentials(user, password))
        arguments << QStringLiteral("--config") << QStringLiteral("-");
    // A server folder that does not exist yet is made, so a first upload to a new path works.
    arguments << ftpURL() << QStringLiteral("--ftp-create-dirs");
    return startWrapper(arguments, local.absolutePath(), user, password);
}

bool TWCURLTaskInterface::beginTransferWithArguments(const QStringList& arguments,
                                                     const QString& workingDirectory, const QString& user,
                                                     const QString& password)
{
    m_readsProgressMeter = false;
    QStringList all = arguments;
    if (hasCredentials(user, password))
        all << QStringLiteral("--config") << QStringLiteral("-");
    return startWrapper(all, workingDirectory, user, password);
}

void TWCURLTaskInterface::cancelDownload()
{
    if (m_isTransferActive && m_curlTask)
        m_curlTask->stopProcessWithErrorCode(CancelledStatus);
}

QString TWCURLTaskInterface::errorText() const
{
    QStringList lines;
    const QStringList all = m_collectedOutput.split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (const QString& line : all) {
        if (line.startsWith(QLatin1String("curl: ")))
            lines.append(line.trimmed());
    }
    return lines.isEmpty() ? m_currentTaskOutput.trimmed() : lines.join(QLatin1Char('\n'));
}

QStringList TWCURLTaskInterface::arguments() const
{
    return m_curlTask ? m_curlTask->arguments() : QStringList();
}

qint64 TWCURLTaskInterface::processId() const
{
    return m_curlTask ? m_curlTask->processId() : 0;
}

void TWCURLTaskInterface::processStarted()
{
    m_isTransferActive = true;
    if (m_delegate)
        m_delegate->curlTaskDidBegin(this);
}

void TWCURLTaskInterface::processFinishedWithError(int code)
{
    if (code != 0)
        QVLog(QStringLiteral("TWCURLTaskInterface - Error downloading: %1 %2")
                  .arg(code)
                  .arg(m_currentTaskOutput));
    if (!m_isTransferActive || m_reported)
        return;
    m_reported = true;
    m_status = code;
    m_isTransferActive = false;
    if (m_delegate)
        m_delegate->curlTaskDidComplete(this);
    Q_EMIT transferEnded();
}

void TWCURLTaskInterface::appendOutput(const QString& text)
{
    m_collectedOutput += text;
    m_currentTaskOutput += text;
    if (!m_readsProgressMeter || m_currentTaskOutput.size() <= kProgressLineLength)
        return;
    const QStringList pieces = componentsSeperatedWithLength(m_currentTaskOutput, kProgressLineLength + 1);
    for (const QString& piece : pieces) {
        if (piece.size() < kProgressLineLength + 1)
            break;
        m_currentTaskOutput.remove(0, kProgressLineLength);
        if (!piece.contains(QLatin1String("Total"))) {
            processOutput(piece);
            updateInterface();
        }
    }
}

void TWCURLTaskInterface::processOutput(const QString& line)
{
    m_percentageReceived = qBound(0, leadingInteger(withoutSpaces(line.mid(1, 4))), 100);
    QVLog(QStringLiteral("%1 percentage received").arg(m_percentageReceived));
    m_totalDataSize = withoutSpaces(line.mid(5, 6));
    m_receivedDataSize = withoutSpaces(line.mid(15, 6));
    m_currentDownloadSpeed = addBytesLabel(withoutSpaces(line.mid(73, 6)));
    QVLog(m_currentDownloadSpeed);
    m_timeRemaining = convertTimeStringToHumanReadable(withoutSpaces(line.mid(64, 9)));
}

void TWCURLTaskInterface::updateInterface()
{
    if (!m_delegate)
        return;
    m_delegate->curlTaskPercentageComplete(this, double(m_percentageReceived));
    m_delegate->curlTaskThroughputIs(this,
                                     quorvit::StringTable::fillPlaceholders(
                                         curlText(QStringLiteral("DownloadSize")),
                                         {m_receivedDataSize, m_totalDataSize, m_currentDownloadSpeed}));
    m_delegate->curlTaskEstimatedTimeRemaining(
        this, quorvit::StringTable::fillPlaceholders(curlText(QStringLiteral("DownloadTimeRemaining")),
                                                     {m_timeRemaining}));
}

QString TWCURLTaskInterface::addBytesLabel(const QString& speed)
{
    const int n = leadingInteger(speed);
    if (n <= 0 || speed.endsWith(QLatin1Char('k')) || speed.endsWith(QLatin1Char('M')))
        return speed;
    if (n > 1000)
        return QString::number(n / 1000) + QLatin1Char('k');
    return speed + QStringLiteral("bytes");
}

QString TWCURLTaskInterface::convertTimeStringToHumanReadable(const QString& time)
{
    const qsizetype length = time.size();
    auto number = [&](qsizetype from, qsizetype count) {
        return from < 0 ? 0 : leadingInteger(time.mid(from, count));
    };
    const int hours = length >= 6 ? number(0, length - 6) : 0;
    const int minutes = number(length - 5, 2);
    const int seconds = number(length - 2, 2);
    QString result;
    if (hours >= 1)
        result += hours == 1 ? curlText(QStringLiteral("SingleHourLabel"))
                             : QString::number(hours) + curlText(QStringLiteral("HoursLabel"));
    if (minutes >= 1) {
        if (hours >= 1)
            result += curlText(QStringLiteral("TimeAndLabel"));
        result += minutes == 1 ? curlText(QStringLiteral("SingleMinuteLabel"))
                               : QString::number(minutes) + curlText(QStringLiteral("MinutesLabel"));
    }
    if (hours < 1 && minutes < 1) {
        if (seconds <= 1)
            result = curlText(QStringLiteral("SingleSecondLabel"));
        else
            result = QString::number(seconds) + curlText(QStringLiteral("SecondsLabel"));
    }
    return result;
}
