#pragma once

#include "update/UpdateChecker.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace quorvit {
class UserDefaults;
}
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class UpdateDownload;

/// The update window: the automatic-check schedule, a check on demand, and the download of a newer
/// version into a folder, handed to the desktop once complete. One per program (sharedInstance), but
/// tests build their own over their own preferences.
class TWUpdateController : public QWidget
{
    Q_OBJECT

public:
    explicit TWUpdateController(quorvit::UserDefaults& defaults, QWidget* parent = nullptr);
    ~TWUpdateController() override;

    static TWUpdateController& sharedInstance();

    /// Start-up: checks without interaction when the schedule says so.
    void launchUpdateCheck();
    void showScheduleWindow();
    void checkForUpdateWithInteraction(bool interaction);

    // The window's actions.
    void checkUpdateButtonAction() { checkForUpdateWithInteraction(true); }
    void autoUpdateAction();
    void checkPopupButtonAction();
    void downloadButtonAction();
    void showHelp();

    // Where the program meets the desktop; tests replace these.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    /// The folder a download goes to when the desktop names none; empty when the user cancels.
    void setFolderChooser(std::function<QString(QWidget*)> chooser) { m_chooseFolder = std::move(chooser); }
    /// Hands a complete download to the desktop (never run by the program itself).
    void setFileOpener(std::function<void(const QString&)> opener) { m_openFile = std::move(opener); }
    /// The desktop's download folder; by default XDG_DOWNLOAD_DIR when set.
    void setDownloadFolder(const QString& folder) { m_downloadFolder = folder; }

    UpdateChecker& checker() { return *m_checker; }
    bool isChecking() const { return m_checker->isChecking(); }
    bool isDownloading() const;
    QString URLPath() const { return m_URLPath; }

    /// The desktop's download folder: XDG_DOWNLOAD_DIR from the environment or user-dirs.dirs.
    static QString desktopDownloadFolder();

Q_SIGNALS:
    void checkFinished();
    void downloadFinished(int outcome, const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void checkFinishedWith(const UpdateChecker::Result& result);
    void beginDownloadNow(const QString& folder);
    void downloadDidComplete(int outcome, const QString& path, int status);
    void showLastCheck();
    void setProgressVisible(bool visible, bool determinate);
    static QString text(const QString& key);

    quorvit::UserDefaults& m_defaults;
    QLabel* m_updateDescription = nullptr;
    QPushButton* m_helpButton = nullptr;
    QPushButton* m_checkUpdateButton = nullptr;
    QCheckBox* m_autoUpdateCheck = nullptr;
    QComboBox* m_checkPopupButton = nullptr;
    QLabel* m_lastCheckField = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_downloadProgressBar = nullptr;
    UpdateChecker* m_checker = nullptr;
    std::unique_ptr<UpdateDownload> m_download;
    QString m_URLPath;
    bool m_interaction = false;

    std::function<QDateTime()> m_clock;
    std::function<QString(QWidget*)> m_chooseFolder;
    std::function<void(const QString&)> m_openFile;
    QString m_downloadFolder;
};
