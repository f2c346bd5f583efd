#include "app/GuiAlertPresenter.h"
#include "app/QuorvitApp.h"
#include "app/SingleInstance.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

// A worker's alert is shown on the main thread and the worker gets the button the user pressed.
TEST(GuiAlertPresenter, WorkerAlertIsAnsweredOnTheMainThread)
{
    GuiAlertPresenter presenter;
    quorvit::ScopedAlertPresenter scope(&presenter);
    QThread* dialogThread = nullptr;
    QString shownTitle;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        dialogThread = box->thread();
        shownTitle = box->text();
        modality = box->windowModality();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QLatin1String("Keep"))
                button->click();
        }
    });
    poll.start(20);

    int answer = 99;
    QThread* worker = QThread::create([&] {
        quorvit::AlertRequest request;
        request.title = QStringLiteral("Replace the file?");
        request.defaultButton = QStringLiteral("Replace");
        request.alternateButton = QStringLiteral("Keep");
        answer = quorvit::AlertPresenter::current().present(request);
    });
    worker->start();
    QElapsedTimer clock;
    clock.start();
    while (!worker->isFinished() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(worker->wait(1000));
    delete worker;
    EXPECT_EQ(answer, quorvit::AlertPresenter::AlternateButton);
    EXPECT_EQ(dialogThread, QCoreApplication::instance()->thread());
    EXPECT_EQ(shownTitle, QStringLiteral("Replace the file?"));
    EXPECT_EQ(modality, Qt::ApplicationModal);
}

// A sheet belongs to its window: modal for that window only, answered like any alert.
TEST(GuiAlertPresenter, SheetIsModalForItsWindowOnly)
{
    GuiAlertPresenter presenter;
    quorvit::ScopedAlertPresenter scope(&presenter);
    QWidget window;
    window.show();
    QWidget* parent = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(50, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            parent = box->parentWidget();
            modality = box->windowModality();
            box->buttons().constFirst()->click();
        }
    });
    quorvit::AlertRequest request;
    request.title = QStringLiteral("Remove this file from the list?");
    request.defaultButton = QStringLiteral("Remove");
    EXPECT_EQ(GuiAlertPresenter::presentSheet(&window, request), quorvit::AlertPresenter::DefaultButton);
    EXPECT_EQ(parent, &window);
    EXPECT_EQ(modality, Qt::WindowModal);
}

// A later start hands its files, as absolute paths, to the program that holds the name.
TEST(SingleInstance, SecondStartHandsItsFilesOver)
{
    QDBusConnection first =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("first"));
    if (!first.isConnected())
        GTEST_SKIP() << "no D-Bus session bus (run under dbus-run-session)";
    QDBusConnection second =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"));
    const QString name =
        QStringLiteral("com.tarnwell.quorvit.test%1").arg(QCoreApplication::applicationPid());

    EXPECT_FALSE(SingleInstance::handOff({QStringLiteral("a.quorvit")}, second, name)); // nobody running yet
    {
        SingleInstance running;
        ASSERT_TRUE(running.listen(first, name));
        SingleInstance other;
        EXPECT_FALSE(other.listen(second, name)); // the name is taken
        QSignalSpy opened(&running, &SingleInstance::openRequested);
        ASSERT_TRUE(SingleInstance::handOff({QStringLiteral("a.quorvit")}, second, name));
        ASSERT_EQ(opened.size(), 1);
        EXPECT_EQ(opened.at(0).at(0).toStringList(),
                  QStringList{QDir::current().absoluteFilePath("a.quorvit")});
    }
    // The name is given back when the program ends.
    EXPECT_FALSE(SingleInstance::handOff({}, second, name));
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
}

// The desktop session ends programs with SIGTERM: preferences are saved and the temporary folder goes.
TEST(QuorvitProgram, SigtermSavesStateAsQuitDoes)
{
    QTemporaryDir dir;
    const QString config = dir.filePath("config");
    const QString runtime = dir.filePath("runtime");
    QDir().mkpath(dir.filePath("home"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // An old preferences file: the program brings it up to date and must write that on the way out.
    {
        quorvit::UserDefaults old(config + "/com.tarnwell.quorvit.plist");
        old.setObject(349, "VersionNumber");
        ASSERT_TRUE(old.synchronize());
    }

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.filePath("home"));
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("QUORVIT_DBUS_NAME",
               QStringLiteral("com.tarnwell.quorvit.sigterm%1").arg(QCoreApplication::applicationPid()));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(QUORVIT_GUI_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());

    // The temporary folder appears once the program has started up.
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(runtime + "/Quorvit") && clock.elapsed() < 30000)
        QThread::msleep(50);
    ASSERT_TRUE(QFileInfo::exists(runtime + "/Quorvit"));
    QThread::msleep(300);
    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(runtime + "/Quorvit"));
    quorvit::UserDefaults saved(config + "/com.tarnwell.quorvit.plist");
    EXPECT_EQ(saved.integerForKey("VersionNumber"), 350);
}

// The temporary folder may sit in the shared /tmp: the clean-up never follows a link planted there.
TEST(QuorvitProgram, TemporaryFolderCleanUpNeverFollowsALink)
{
    QTemporaryDir dir;
    const QString victim = dir.filePath("victim");
    testsupport::writeBytes(victim + "/keep.txt", "precious");
    const QString planted = dir.filePath("Quorvit");
    ASSERT_TRUE(QFile::link(victim, planted));
    EXPECT_FALSE(QuorvitApp::removeTemporaryFolder(planted));
    EXPECT_TRUE(QFileInfo::exists(victim + "/keep.txt"));

    const QString own = dir.filePath("own");
    testsupport::writeBytes(own + "/scratch", "x");
    EXPECT_TRUE(QuorvitApp::removeTemporaryFolder(own));
    EXPECT_FALSE(QFileInfo::exists(own));
}
