#include "support/TestSupport.h"

#include "platform/QVLog.h"
#include "sources/TWCURLTaskInterface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/// Records what a transfer reports.
struct RecordingDelegate : TWCURLTaskDelegate
{
    void curlTaskDidComplete(TWCURLTaskInterface* task) override { completions.append(task->status()); }
    void curlTaskDidBegin(TWCURLTaskInterface*) override { ++begins; }
    void curlTaskPercentageComplete(TWCURLTaskInterface*, double percent) override
    {
        percents.append(percent);
    }
    void curlTaskThroughputIs(TWCURLTaskInterface*, const QString& text) override { throughput.append(text); }
    void curlTaskEstimatedTimeRemaining(TWCURLTaskInterface*, const QString& text) override
    {
        remaining.append(text);
    }
    QList<int> completions;
    int begins = 0;
    QList<double> percents;
    QStringList throughput;
    QStringList remaining;
};

/// Runs the event loop until the task has ended (15 s at most).
void waitForEnd(TWCURLTaskInterface& task)
{
    QEventLoop loop;
    QObject::connect(&task, &TWCURLTaskInterface::transferEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    if (task.isTransferInProgress())
        loop.exec();
}

// A port nothing listens on: curl fails at once, after its arguments were built for real.
const QString kClosedServer = QStringLiteral("127.0.0.1:9");

} // namespace

TEST(CurlTask, FtpAddressesFollowServerPathAndFileName)
{
    quorvit::LogCapture log;
    auto plain = TWCURLTaskInterface::initFTPWithRemoteFileName(QStringLiteral("Bookmarks.quorvit"),
                                                                QStringLiteral("ftp.example.org"));
    plain->setServerPath(QStringLiteral("sync/home"));
    EXPECT_EQ(plain->ftpURL(), QStringLiteral("ftp://ftp.example.org/sync/home/Bookmarks.quorvit"));

    auto slashes = TWCURLTaskInterface::initFTPWithRemoteFileName(QStringLiteral("Bookmarks.quorvit"),
                                                                  QStringLiteral("ftp://ftp.example.org/"));
    slashes->setServerPath(QStringLiteral("/sync"));
    EXPECT_EQ(slashes->ftpURL(), QStringLiteral("ftp://ftp.example.org//sync/Bookmarks.quorvit"));

    auto upload = TWCURLTaskInterface::initFTPWithLocalFilePath(QStringLiteral("/tmp/x/Bookmarks.quorvit"),
                                                                QStringLiteral("ftp.example.org"));
    upload->setServerPath(QStringLiteral("sync"));
    EXPECT_EQ(upload->ftpURL(), QStringLiteral("ftp://ftp.example.org/sync/"));
}

TEST(CurlTask, CredentialsNeverReachTheCommandLine)
{
    quorvit::LogCapture log;
    testsupport::TemporaryHome home;
    testsupport::writeBytes(home.filePath(QStringLiteral("up/Bookmarks.quorvit")), "x");
    struct Case
    {
        QString user, password;
        bool sendsCredentials;
    };
    const QList<Case> cases{{QStringLiteral("bob"), QStringLiteral("pa\"ss"), true},
                            {QStringLiteral("bob"), QLatin1String(""), true},
                            {QStringLiteral("bob"), QString(), false},
                            {QString(), QStringLiteral("pw"), false}};
    for (const Case& c : cases) {
        for (int type = 0; type < 2; ++type) {
            auto task = type == 0 ? TWCURLTaskInterface::initFTPWithRemoteFileName(
                                        QStringLiteral("B.quorvit"), kClosedServer)
                                  : TWCURLTaskInterface::initFTPWithLocalFilePath(
                                        home.filePath(QStringLiteral("up/Bookmarks.quorvit")), kClosedServer);
            RecordingDelegate delegate;
            task->setDelegate(&delegate);
            ASSERT_TRUE(type == 0 ? task->beginFTPDownloadWithUserName(c.user, c.password)
                                  : task->beginFTPUploadWithUserName(c.user, c.password));
            const QStringList arguments = task->arguments();
            waitForEnd(*task);
            SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
            EXPECT_EQ(arguments.first(), QStringLiteral("/usr/bin/curl"));
            EXPECT_FALSE(arguments.contains(QStringLiteral("-u")));
            EXPECT_EQ(arguments.contains(QStringLiteral("--config")), c.sendsCredentials);
            if (!c.password.isEmpty()) {
                EXPECT_FALSE(arguments.join(QLatin1Char(' ')).contains(c.password));
            }
            if (type == 1) {
                EXPECT_EQ(arguments.mid(1, 3),
                          (QStringList{QStringLiteral("-T"), QStringLiteral("Bookmarks.quorvit"),
                                       c.sendsCredentials ? QStringLiteral("--config") : task->ftpURL()}));
            }
            // Connection refused is curl's status 7, reported once.
            EXPECT_EQ(delegate.completions, QList<int>{7});
            EXPECT_EQ(delegate.begins, 1);
        }
    }
    EXPECT_FALSE(log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("pa\"ss")));
}

TEST(CurlTask, CredentialsConfigEscapesEveryCharacterThatCouldEndTheValue)
{
    EXPECT_EQ(TWCURLTaskInterface::credentialsConfig(QStringLiteral("bob"), QStringLiteral("a\"b\\c\nd")),
              QByteArray("user = \"bob:a\\\"b\\\\c\\nd\"\n"));
}

TEST(CurlTask, ProgressMeterRecordedFromThisMachinesCurl)
{
    // curl 7.88's progress meter on a pipe: two header lines, then 79-character lines that begin with
    // a carriage return.
    quorvit::LogCapture log;
    const QString sample =
        QString::fromUtf8(testsupport::readBytes(testsupport::dataPath("curl/progress-meter.txt")));
    ASSERT_GT(sample.size(), 300);
    auto task = TWCURLTaskInterface::initWithFileURL(QStringLiteral("http://127.0.0.1/sample.bin"));
    RecordingDelegate delegate;
    task->setDelegate(&delegate);
    // Delivered in uneven pieces, as a pipe does.
    for (qsizetype i = 0; i < sample.size(); i += 37)
        task->appendOutput(sample.mid(i, 37));
    EXPECT_EQ(delegate.percents, (QList<double>{0, 20, 55, 85, 100}));
    ASSERT_EQ(delegate.throughput.size(), 5);
    EXPECT_EQ(delegate.throughput.at(1), QStringLiteral("80000 of 390k (172k/sec)"));
    EXPECT_EQ(delegate.remaining.at(1), QStringLiteral("2 seconds remaining"));
    EXPECT_EQ(delegate.remaining.at(3), QStringLiteral("1 second remaining"));
    EXPECT_EQ(task->percentageReceived(), 100);
    EXPECT_EQ(task->totalDataSize(), QStringLiteral("390k"));
    EXPECT_TRUE(log.contains(QStringLiteral("55 percentage received")));
}

TEST(CurlTask, SpeedLabelsAndTimeInWords)
{
    EXPECT_EQ(TWCURLTaskInterface::addBytesLabel(QStringLiteral("950")), QStringLiteral("950bytes"));
    EXPECT_EQ(TWCURLTaskInterface::addBytesLabel(QStringLiteral("12345")), QStringLiteral("12k"));
    EXPECT_EQ(TWCURLTaskInterface::addBytesLabel(QStringLiteral("1500k")), QStringLiteral("1500k"));
    EXPECT_EQ(TWCURLTaskInterface::addBytesLabel(QStringLiteral("0")), QStringLiteral("0"));

    EXPECT_EQ(TWCURLTaskInterface::convertTimeStringToHumanReadable(QStringLiteral("0:01:05")),
              QStringLiteral("1 minute"));
    EXPECT_EQ(TWCURLTaskInterface::convertTimeStringToHumanReadable(QStringLiteral("1:00:00")),
              QStringLiteral("1 hour"));
    EXPECT_EQ(TWCURLTaskInterface::convertTimeStringToHumanReadable(QStringLiteral("--:--:--")),
              QStringLiteral("1 second"));
    EXPECT_EQ(TWCURLTaskInterface::convertTimeStringToHumanReadable(QStringLiteral("12:03:09")),
              QStringLiteral("12 hours and 3 minutes"));
    EXPECT_EQ(TWCURLTaskInterface::convertTimeStringToHumanReadable(QStringLiteral("0:00:42")),
              QStringLiteral("42 seconds"));
    // Malformed fields never crash and read as nothing.
    EXPECT_EQ(TWCURLTaskInterface::convertTimeStringToHumanReadable(QStringLiteral(":")),
              QStringLiteral("1 second"));
}

TEST(CurlTask, CancelIsReportedOnceAndStopsCurl)
{
    quorvit::LogCapture log;
    // A server that accepts the connection and never answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    testsupport::TemporaryHome home;
    auto task = TWCURLTaskInterface::initWithFileURL(
        QStringLiteral("http://127.0.0.1:%1/never.bin").arg(ntohs(address.sin_port)));
    RecordingDelegate delegate;
    task->setDelegate(&delegate);
    ASSERT_TRUE(task->beginDownload());
    const qint64 pid = task->processId();
    QTimer::singleShot(300, [&] {
        task->cancelDownload();
        task->cancelDownload();
    });
    QElapsedTimer clock;
    clock.start();
    waitForEnd(*task);
    // Let curl's own end arrive too: it must not be reported a second time.
    while (clock.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(delegate.completions, QList<int>{TWCURLTaskInterface::CancelledStatus});
    EXPECT_EQ(task->status(), 3);
    EXPECT_FALSE(task->isTransferInProgress());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1/cmdline").arg(pid)) &&
                 !testsupport::readBytes(QStringLiteral("/proc/%1/cmdline").arg(pid)).isEmpty())
        << "curl still runs";
    ::close(listener);
}
