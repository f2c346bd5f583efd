#include "TWUpdateController.h"

#include "GuiAlertPresenter.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "update/UpdateDownload.h"
#include "update/UpdateSchedule.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kExecutableName = QStringLiteral("Quorvit");
const char kHelpPage[] = "https://www.tarnwell.example/quorvit/help/update.html";
// Pauses before a download starts, letting the sheet or the chooser close first.
constexpr int kKnownFolderDelayMs = 300;
constexpr int kChosenFolderDelayMs = 1200;

QString chooseFolderWithDialog(QWidget* window)
{
    QFileDialog dialog(window);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(
        QFileDialog::Accept,
        quorvit::StringTable::table(QStringLiteral("TWUpdateStrings")).text(QStringLiteral("SelectLabel")));
    const QString desktop = QDir::home().filePath(QStringLiteral("Desktop"));
    dialog.setDirectory(QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
} // namespace

QString TWUpdateController::text(const QString& key)
{
    return quorvit::StringTable::table(QStringLiteral("TWUpdateStrings")).text(key);
}

QString TWUpdateController::desktopDownloadFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("XDG_DOWNLOAD_DIR");
    if (!fromEnvironment.isEmpty())
        return QFileInfo(fromEnvironment).isDir() ? fromEnvironment : QString();
    // The user's folder settings name it only when the desktop set one up.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::home().filePath(QStringLiteral(".config"));
    QFile dirs(QDir(config).filePath(QStringLiteral("user-dirs.dirs")));
    if (!dirs.open(QIODevice::ReadOnly) || !dirs.readAll().contains("XDG_DOWNLOAD_DIR"))
        return QString();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return QFileInfo(folder).isDir() ? folder : QString();
}

TWUpdateController::TWUpdateController(quorvit::UserDefaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window), m_defaults(defaults), m_checker(new UpdateChecker(this)),
      m_clock([] { return QDateTime::currentDateTimeUtc(); }), m_chooseFolder(chooseFolderWithDialog),
      m_openFile([](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }),
      m_downloadFolder(desktopDownloadFolder())
{
    setObjectName(QStringLiteral("scheduleWindow"));
    setWindowTitle(
        quorvit::StringTable::fillPlaceholders(text(QStringLiteral("UpdateWindowTitle")), {kExecutableName}));

    m_updateDescription = new QLabel(
        quorvit::StringTable::fillPlaceholders(text(QStringLiteral("UpdateDescription")), {kExecutableName}));
    m_updateDescription->setObjectName(QStringLiteral("updateDescription"));
    m_updateDescription->setWordWrap(true);

    m_autoUpdateCheck = new QCheckBox(text(QStringLiteral("CheckAutomatically")));
    m_autoUpdateCheck->setObjectName(QStringLiteral("autoUpdateCheck"));
    connect(m_autoUpdateCheck, &QCheckBox::clicked, this, &TWUpdateController::autoUpdateAction);
    m_checkPopupButton = new QComboBox;
    m_checkPopupButton->setObjectName(QStringLiteral("checkPopupButton"));
    m_checkPopupButton->addItems({text(QStringLiteral("EveryLaunch")), text(QStringLiteral("Weekly")),
                                  text(QStringLiteral("FourWeekly"))});
    m_checkPopupButton->setEnabled(false);
    connect(m_checkPopupButton, &QComboBox::activated, this, &TWUpdateController::checkPopupButtonAction);

    m_statusLabel = new QLabel(text(QStringLiteral("LastCheck")));
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_lastCheckField = new QLabel;
    m_lastCheckField->setObjectName(QStringLiteral("lastCheckField"));
    m_downloadProgressBar = new QProgressBar;
    m_downloadProgressBar->setObjectName(QStringLiteral("downloadProgressBar"));
    // Its place is kept while it is hidden, so the window does not jump when a check starts.
    QSizePolicy policy = m_downloadProgressBar->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_downloadProgressBar->setSizePolicy(policy);
    m_downloadProgressBar->hide();

    m_helpButton = new QPushButton(QStringLiteral("?"));
    m_helpButton->setObjectName(QStringLiteral("helpButton"));
    connect(m_helpButton, &QPushButton::clicked, this, &TWUpdateController::showHelp);
    m_checkUpdateButton = new QPushButton(text(QStringLiteral("CheckNow")));
    m_checkUpdateButton->setObjectName(QStringLiteral("checkUpdateButton"));
    connect(m_checkUpdateButton, &QPushButton::clicked, this, &TWUpdateController::checkUpdateButtonAction);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_updateDescription);
    auto* schedule = new QHBoxLayout;
    schedule->addWidget(m_autoUpdateCheck);
    schedule->addWidget(m_checkPopupButton);
    layout->addLayout(schedule);
    auto* status = new QHBoxLayout;
    status->addWidget(m_statusLabel);
    status->addWidget(m_lastCheckField, 1);
    layout->addLayout(status);
    layout->addWidget(m_downloadProgressBar);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_helpButton);
    buttons->addStretch();
    buttons->addWidget(m_checkUpdateButton);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    // The wrapped description needs its full height at the window's width.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();

    m_checker->setServerURL(UpdateSchedule::serverURL(m_defaults));
    connect(m_checker, &UpdateChecker::finished, this, &TWUpdateController::checkFinishedWith);
}

TWUpdateController::~TWUpdateController() = default;

TWUpdateController& TWUpdateController::sharedInstance()
{
    static QPointer<TWUpdateController> instance;
    if (!instance) {
        instance = new TWUpdateController(quorvit::UserDefaults::standard());
        // A window without parent: it goes with the program, a download with it.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { delete instance.data(); });
    }
    return *instance;
}

bool TWUpdateController::isDownloading() const
{
    return m_download && m_download->isInProgress();
}

void TWUpdateController::launchUpdateCheck()
{
    if (UpdateSchedule::decideAtLaunch(m_defaults, m_clock()) == UpdateSchedule::LaunchDecision::Check)
        checkForUpdateWithInteraction(false);
}

void TWUpdateController::showScheduleWindow()
{
    const bool automatic = m_defaults.boolForKey(UpdateSchedule::UpdateAuto);
    m_checkPopupButton->setEnabled(automatic);
    m_checkPopupButton->setCurrentIndex(
        UpdateSchedule::popupIndexForFrequency(m_defaults.integerForKey(UpdateSchedule::UpdateFrequency)));
    if (automatic) {
        m_autoUpdateCheck->setChecked(true);
        autoUpdateAction();
    }
    if (UpdateSchedule::lastChecked(m_defaults).isValid())
        showLastCheck();
    show();
    raise();
    activateWindow();
}

void TWUpdateController::autoUpdateAction()
{
    const bool on = m_autoUpdateCheck->isChecked();
    m_checkPopupButton->setEnabled(on);
    m_defaults.setObject(on, UpdateSchedule::UpdateAuto);
    if (on)
        m_defaults.setObject(UpdateSchedule::frequencyForPopupIndex(m_checkPopupButton->currentIndex()),
                             UpdateSchedule::UpdateFrequency);
    m_defaults.synchronize();
}

void TWUpdateController::checkPopupButtonAction()
{
    m_defaults.setObject(UpdateSchedule::frequencyForPopupIndex(m_checkPopupButton->currentIndex()),
                         UpdateSchedule::UpdateFrequency);
    m_defaults.synchronize();
}

void TWUpdateController::showHelp()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(kHelpPage)));
}

void TWUpdateController::showLastCheck()
{
    const QDateTime last = UpdateSchedule::lastChecked(m_defaults);
    m_statusLabel->setText(text(QStringLiteral("LastCheck")));
    m_lastCheckField->setText(
        last.isValid() ? QLocale().toString(last.toLocalTime(), QStringLiteral("ddd, MMM d, yyyy, h:mm AP"))
                       : QString());
}

void TWUpdateController::setProgressVisible(bool visible, bool determinate)
{
    m_downloadProgressBar->setRange(0, determinate ? 100 : 0);
    m_downloadProgressBar->setValue(0);
    m_downloadProgressBar->setVisible(visible);
}

void TWUpdateController::checkForUpdateWithInteraction(bool interaction)
{
    if (m_checker->isChecking())
        return;
    m_interaction = interaction;
    m_checkUpdateButton->setEnabled(false);
    if (interaction) {
        if (!isVisible())
            showScheduleWindow();
        m_lastCheckField->setText(text(QStringLiteral("CheckingForUpdate")));
        m_statusLabel->setText(text(QStringLiteral("Status")));
        setProgressVisible(true, false);
    }
    m_checker->setServerURL(UpdateSchedule::serverURL(m_defaults));
    m_checker->check();
}

void TWUpdateController::checkFinishedWith(const UpdateChecker::Result& result)
{
    m_checkUpdateButton->setEnabled(true);
    if (!result.succeeded) {
        if (m_interaction) {
            showLastCheck();
            setProgressVisible(false, false);
            if (isVisible()) {
                quorvit::AlertRequest request;
                request.title = text(QStringLiteral("ErrorWhenChecking"));
                request.message = text(QStringLiteral("ErrorWhenCheckingMessage"));
                GuiAlertPresenter::presentSheet(this, request);
            }
        }
        Q_EMIT checkFinished();
        return;
    }
    UpdateSchedule::recordCheck(m_defaults, m_clock());
    showLastCheck();
    if (m_interaction)
        setProgressVisible(false, false);
    if (!result.newer) {
        if (m_interaction && isVisible()) {
            quorvit::AlertRequest request;
            request.style = quorvit::AlertRequest::Style::Informational;
            request.title = quorvit::StringTable::fillPlaceholders(text(QStringLiteral("CurrentVersion")),
                                                                   {kExecutableName});
            GuiAlertPresenter::presentSheet(this, request);
        }
        Q_EMIT checkFinished();
        return;
    }
    m_URLPath = result.description.urlPath;
    // An automatic check that finds a new version always shows the window.
    if (!isVisible())
        showScheduleWindow();
    quorvit::AlertRequest request;
    request.style = quorvit::AlertRequest::Style::Informational;
    request.title = quorvit::StringTable::fillPlaceholders(text(QStringLiteral("NewVersionAvailable")),
                                                           {kExecutableName});
    request.message = result.description.text;
    request.defaultButton = text(QStringLiteral("DownloadLabel"));
    request.alternateButton = text(QStringLiteral("CancelLabel"));
    Q_EMIT checkFinished();
    if (GuiAlertPresenter::presentSheet(this, request) == quorvit::AlertPresenter::DefaultButton)
        downloadButtonAction();
    else
        m_URLPath.clear();
}

void TWUpdateController::downloadButtonAction()
{
    if (m_URLPath.isEmpty() || isDownloading())
        return;
    if (!m_downloadFolder.isEmpty() && QFileInfo(m_downloadFolder).isDir()) {
        const QString folder = m_downloadFolder;
        QTimer::singleShot(kKnownFolderDelayMs, this, [this, folder] { beginDownloadNow(folder); });
        return;
    }
    const QString folder = m_chooseFolder(this);
    if (folder.isEmpty()) {
        m_URLPath.clear();
        return;
    }
    QTimer::singleShot(kChosenFolderDelayMs, this, [this, folder] { beginDownloadNow(folder); });
}

void TWUpdateController::beginDownloadNow(const QString& folder)
{
    if (m_URLPath.isEmpty() || isDownloading())
        return;
    m_checkUpdateButton->setEnabled(false);
    setProgressVisible(true, true);
    m_lastCheckField->setText(text(QStringLiteral("DownloadingUpdatedVersion")));
    m_statusLabel->setText(text(QStringLiteral("Status")));

    m_download = std::make_unique<UpdateDownload>();
    connect(m_download.get(), &UpdateDownload::progress, m_downloadProgressBar, &QProgressBar::setValue);
    connect(m_download.get(), &UpdateDownload::finished, this, &TWUpdateController::downloadDidComplete);
    const QString url = m_URLPath;
    m_URLPath.clear();
    if (!m_download->begin(url, folder)) {
        m_download.reset();
        m_checkUpdateButton->setEnabled(true);
        setProgressVisible(false, false);
        showLastCheck();
        quorvit::AlertRequest request;
        request.style = quorvit::AlertRequest::Style::Critical;
        request.title = text(QStringLiteral("DownloadFailed"));
        GuiAlertPresenter::presentSheet(this, request);
    }
}

void TWUpdateController::downloadDidComplete(int outcome, const QString& path, int /*status*/)
{
    m_checkUpdateButton->setEnabled(true);
    setProgressVisible(false, false);
    showLastCheck();
    // The object is still reporting; it goes once the event loop is back.
    m_download.release()->deleteLater();
    if (outcome == UpdateDownload::Completed) {
        m_openFile(path);
    } else if (outcome == UpdateDownload::Failed) {
        QApplication::beep();
        quorvit::AlertRequest request;
        request.style = quorvit::AlertRequest::Style::Critical;
        request.title = text(QStringLiteral("DownloadFailed"));
        GuiAlertPresenter::presentSheet(this, request);
    }
    Q_EMIT downloadFinished(outcome, path);
}

void TWUpdateController::closeEvent(QCloseEvent* event)
{
    if (!isDownloading()) {
        event->accept();
        return;
    }
    quorvit::AlertRequest request;
    request.style = quorvit::AlertRequest::Style::Informational;
    request.title = text(QStringLiteral("CloseConformation"));
    request.message = text(QStringLiteral("CloseConformationMessage"));
    request.defaultButton = text(QStringLiteral("ContinueLabel"));
    request.alternateButton = text(QStringLiteral("CancelLabel"));
    if (GuiAlertPresenter::presentSheet(this, request) == quorvit::AlertPresenter::DefaultButton) {
        event->ignore();
        raise();
        return;
    }
    if (m_download)
        m_download->cancel();
    event->accept();
}
