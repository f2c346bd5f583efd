#pragma once

#include <QMainWindow>

#include <functional>
#include <utility>

namespace quorvit {
class UserDefaults;
}
class BookmarkFileManager;
class FileListController;
class PeerLinkPrincipal;
class QActionGroup;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QVBoxLayout;

/// The preferences window: four panes behind a toolbar. Each control stores its own preference key
/// (the controls are named after their keys) as soon as it changes; closing the window writes the
/// preferences to disk.
class PreferencesController : public QMainWindow
{
    Q_OBJECT

public:
    enum Pane { GeneralPane, FilesPane, SharingPane, RemotePane };

    /// plugin: the local-network plug-in's object, or null when it did not load.
    PreferencesController(quorvit::UserDefaults& defaults, BookmarkFileManager& registry,
                          PeerLinkPrincipal* plugin, QWidget* parent = nullptr);
    ~PreferencesController() override;

    void showPane(Pane pane);
    Pane currentPane() const { return m_pane; }
    QWidget* paneWidget(Pane pane) const { return m_panes[pane]; }

    /// How files are chosen (a file dialog over the window unless a test says otherwise); answers the
    /// chosen paths, none when cancelled.
    using FileChooser = std::function<QStringList(QWidget* window, const QString& message, bool multiple)>;
    void setFileChooser(FileChooser chooser) { m_chooseFiles = std::move(chooser); }

    /// Whether the WebDAV account behind the .Mac location offers its disk (by default the account is
    /// asked through the WebDAV handle).
    struct DotMacAnswer
    {
        bool requestSucceeded = true;
        bool hasIDisk = false;
        int httpStatus = 0;
        int requestState = 0;
    };
    using DotMacCheck = std::function<DotMacAnswer()>;
    void setDotMacCheck(DotMacCheck check) { m_dotMacCheck = std::move(check); }

    /// Where the remote accounts' passwords live: the desktop keyring unless a test says otherwise.
    /// Keyed by keychain protocol code, server and user; never the preferences.
    struct PasswordStore
    {
        std::function<bool(QString* reason)> available;
        std::function<QString(const QString& protocol, const QString& server, const QString& user)> password;
        std::function<bool(const QString& password, const QString& protocol, const QString& server,
                           const QString& user, QString* reason)>
            store;
    };
    void setPasswordStore(PasswordStore store);

    /// The bookmark-files pane's commands (the buttons call these on the selected row).
    void addFiles();
    void deleteSelectedFile();
    void changePathOfSelectedFile();
    /// The file is accepted as a bookmark file by one of the classic adapters, tried in a fixed order.
    static bool isAcceptableBookmarkFile(const QString& path);

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildGeneralPane();
    QWidget* buildFilesPane();
    QWidget* buildSharingPane();
    QWidget* buildRemotePane();
    QCheckBox* boundCheckBox(const QString& text, const QString& key);
    void updateSharingControls();
    void updateFTPControls();
    void activateDotMacSyncing(bool on);
    void activateFTPSyncing(bool on);
    void ftpFieldChanged(const QString& key, QLineEdit* field);
    void webDAVFieldChanged(const QString& key, QLineEdit* field);
    /// Keeps the password of the FTP or WebDAV account once server, user and password are all known;
    /// true when a new password was stored.
    bool storePassword(bool webDAV);
    void fillPasswords();
    /// The keychain item of one account: protocol code and server.
    std::pair<QString, QString> ftpKeychainItem() const;
    std::pair<QString, QString> webDAVKeychainItem() const;
    void sharingTypeChanged(int row);
    void restartSharing();
    /// Stores a changed sharing password; the plug-in gets it and the name with it.
    void sharingPasswordChanged();
    /// Hands the plug-in the current name and password, and shows what it cannot do.
    void updateSharingHost();
    int selectedRow() const;
    void updateFileButtons();

    quorvit::UserDefaults& m_defaults;
    BookmarkFileManager& m_registry;
    PeerLinkPrincipal* m_plugin;
    FileListController* m_fileList = nullptr;
    FileChooser m_chooseFiles;
    DotMacCheck m_dotMacCheck;
    PasswordStore m_passwords;
    bool m_keychainAvailable = false;

    Pane m_pane = GeneralPane;
    QWidget* m_panes[4] = {};
    QVBoxLayout* m_paneLayout = nullptr;
    QActionGroup* m_toolbarGroup = nullptr;

    QTableView* m_fileTable = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_changeButton = nullptr;

    QCheckBox* m_shareBox = nullptr;
    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_sharingPassword = nullptr;
    QLabel* m_sharingNote = nullptr;
    QLabel* m_nameLabel = nullptr;
    QButtonGroup* m_sharingType = nullptr;
    QTimer* m_sharingRestart = nullptr;

    QCheckBox* m_dotMacBox = nullptr;
    QCheckBox* m_ftpBox = nullptr;
    QList<QWidget*> m_ftpControls;
    QLineEdit* m_ftpServer = nullptr;
    QLineEdit* m_ftpUser = nullptr;
    QLineEdit* m_ftpPassword = nullptr;
    QLineEdit* m_ftpPath = nullptr;
    QLineEdit* m_webDAVServer = nullptr;
    QLineEdit* m_webDAVUser = nullptr;
    QLineEdit* m_webDAVPassword = nullptr;
    QLabel* m_keychainNote = nullptr;
};
