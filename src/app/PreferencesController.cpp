#include "PreferencesController.h"

#include "AppPreferences.h"
#include "GuiAlertPresenter.h"
#include "formats/Explorer.h"
#include "formats/ICab.h"
#include "formats/Netscape.h"
#include "formats/OmniWeb.h"
#include "formats/Opera.h"
#include "formats/QuorvitBrowser.h"
#include "formats/URLManagerPro.h"
#include "platform/Autostart.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"
#include "sources/FileListController.h"
#include "sources/KeychainManager.h"
#include "sources/PeerLink.h"
#include "sources/PeerSharing.h"
#include "sources/RemoteFileHandle.h"
#include "sources/RemoteLocationSettings.h"
#include "sources/SourceKeys.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char kDotMacSignUpPage[] = "https://tarnwell.example/quorvit/webdav/";
// Sharing goes off at once when its type changes and back on after this pause, so peers drop the old offer.
constexpr int kSharingRestartMs = 3000;

// The list's column headers as the user reads them (the model answers its column identifiers).
class FileListHeaders : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QIdentityProxyModel::headerData(section, orientation, role);
        return section == FileListController::BrowserNameColumn ? QObject::tr("Browser")
                                                                : QObject::tr("Location");
    }
};

QStringList chooseWithDialog(QWidget* window, const QString& message, bool multiple)
{
    QFileDialog dialog(window, message);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QObject::tr("Bookmark files (*.html *.htm *.txt *.xml *.plist *.quorvit *.qvfl *.adr "
                     "*.json *.xbel)"),
         QObject::tr("All files (*)")});
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

PreferencesController::PasswordStore desktopKeyring()
{
    PreferencesController::PasswordStore store;
    store.available = [](QString* reason) { return KeychainManager::isAvailable(reason); };
    store.password = [](const QString& protocol, const QString& server, const QString& user) {
        return KeychainManager::sharedManager().passwordForUserName(user, server, protocol);
    };
    store.store = [](const QString& password, const QString& protocol, const QString& server,
                     const QString& user, QString* reason) {
        KeychainManager& keychain = KeychainManager::sharedManager();
        if (keychain.setPassword(password, user, server, protocol))
            return true;
        *reason = keychain.lastError();
        return false;
    };
    return store;
}
} // namespace

PreferencesController::PreferencesController(quorvit::UserDefaults& defaults, BookmarkFileManager& registry,
                                             PeerLinkPrincipal* plugin, QWidget* parent)
    : QMainWindow(parent), m_defaults(defaults), m_registry(registry), m_plugin(plugin),
      m_chooseFiles(chooseWithDialog), m_passwords(desktopKeyring())
{
    // The account is asked whether its disk answers, with the address and user the pane holds.
    m_dotMacCheck = [this] {
        DotMacAnswer answer;
        const auto settings = RemoteLocationSettings::webDAVSettings(m_defaults);
        if (!RemoteLocationSettings::isValidWebDAVAddress(settings.serverURL)) {
            answer.requestSucceeded = false;
            return answer;
        }
        DotMacFileHandle handle(settings.serverURL.trimmed(), settings.user);
        const auto reply = handle.checkAccountService();
        answer.requestSucceeded = reply.curlStatus == 0 && reply.httpStatus > 0 && reply.httpStatus < 400;
        answer.hasIDisk = reply.available;
        answer.httpStatus = reply.httpStatus;
        answer.requestState = reply.curlStatus;
        return answer;
    };
    setObjectName(QStringLiteral("preferencesWindow"));
    auto* toolbar = addToolBar(QString());
    toolbar->setObjectName(QStringLiteral("prefWindowToolbar"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    m_toolbarGroup = new QActionGroup(this);

    struct Item
    {
        const char* identifier;
        const char* labelKey;
        const char* icon;
    };
    const Item items[] = {{"generalPrefs", "GeneralPrefLabel", "preferences-system"},
                          {"filesPrefs", "BookmarksPrefLabel", "bookmark-new"},
                          {"sharingPrefs", "Sharing", "network-workgroup"},
                          {"remotePrefs", ".Mac", "folder-remote"}};
    for (int i = 0; i < 4; ++i) {
        QAction* action = toolbar->addAction(QIcon::fromTheme(QLatin1String(items[i].icon)),
                                             QVLocalized(QLatin1String(items[i].labelKey)));
        action->setObjectName(QLatin1String(items[i].identifier));
        action->setCheckable(true);
        action->setData(i);
        m_toolbarGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, i] { showPane(Pane(i)); });
    }

    auto* central = new QWidget(this);
    m_paneLayout = new QVBoxLayout(central);
    m_paneLayout->setSizeConstraint(QLayout::SetFixedSize);
    setCentralWidget(central);

    m_panes[GeneralPane] = buildGeneralPane();
    m_panes[FilesPane] = buildFilesPane();
    m_panes[SharingPane] = buildSharingPane();
    m_panes[RemotePane] = buildRemotePane();
    for (QWidget* pane : m_panes) {
        pane->setParent(central);
        pane->hide();
    }
    m_pane = RemotePane; // anything but the general pane, so that showPane lays it out
    showPane(GeneralPane);
}

PreferencesController::~PreferencesController()
{
    // A window closed during the pause must not leave sharing switched off.
    if (m_sharingRestart->isActive())
        restartSharing();
}

void PreferencesController::showPane(Pane pane)
{
    m_toolbarGroup->actions().at(pane)->setChecked(true);
    if (pane == m_pane && m_paneLayout->count() > 0)
        return;
    const QPoint topLeft = geometry().topLeft();
    if (m_paneLayout->count() > 0) {
        QWidget* old = m_panes[m_pane];
        m_paneLayout->removeWidget(old);
        old->hide();
    }
    m_pane = pane;
    m_paneLayout->addWidget(m_panes[pane]);
    m_panes[pane]->show();
    if (pane == RemotePane || pane == SharingPane)
        fillPasswords();
    setWindowTitle(m_toolbarGroup->actions().at(pane)->text());
    // The window takes the size of the new pane and keeps its top-left corner where it was.
    centralWidget()->adjustSize();
    adjustSize();
    if (isVisible())
        move(topLeft);
}

QCheckBox* PreferencesController::boundCheckBox(const QString& text, const QString& key)
{
    auto* box = new QCheckBox(text);
    box->setObjectName(key);
    box->setChecked(m_defaults.boolForKey(key));
    connect(box, &QCheckBox::toggled, this, [this, key](bool on) { m_defaults.setObject(on, key); });
    return box;
}

QWidget* PreferencesController::buildGeneralPane()
{
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);

    auto* compare = new QGroupBox(tr("Compare bookmarks by"));
    auto* compareLayout = new QVBoxLayout(compare);
    auto* group = new QButtonGroup(pane);
    auto* byName = new QRadioButton(tr("Name"));
    byName->setObjectName(QStringLiteral("compareUsingName"));
    auto* byAddress = new QRadioButton(tr("Address"));
    byAddress->setObjectName(QStringLiteral("compareUsingAddress"));
    // The tags are the comparison methods the sync engine knows.
    group->addButton(byName, 0);
    group->addButton(byAddress, 2);
    compareLayout->addWidget(byName);
    compareLayout->addWidget(byAddress);
    if (QAbstractButton* chosen = group->button(int(m_defaults.integerForKey(PrefKey::CompareUsing))))
        chosen->setChecked(true);
    else
        byName->setChecked(true);
    connect(group, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            m_defaults.setObject(id, PrefKey::CompareUsing);
    });
    layout->addWidget(compare);

    layout->addWidget(boundCheckBox(tr("Leave out bookmarks the browsers put there themselves"),
                                    PrefKey::FilterDefaultDuplicates));
    layout->addWidget(boundCheckBox(tr("Show warnings"), PrefKey::DisplayWarnings));
    // The session's autostart entries are the setting itself: the desktop's own settings change them too.
    for (const auto& [id, text] :
         {std::pair{quorvit::autostart::kMenuId, tr("Start Quorvit Menu when you log in")},
          std::pair{quorvit::autostart::kDocklingId, tr("Start Quorvit Dockling when you log in")}}) {
        auto* box = new QCheckBox(text);
        box->setObjectName(id + QStringLiteral("-autostart"));
        box->setChecked(quorvit::autostart::isEnabled(id));
        connect(box, &QCheckBox::toggled, this, [box, id = id](bool on) {
            if (!quorvit::autostart::setEnabled(id, on)) {
                const QSignalBlocker blocker(box);
                box->setChecked(quorvit::autostart::isEnabled(id));
            }
        });
        layout->addWidget(box);
    }
    layout->addStretch();
    return pane;
}

QWidget* PreferencesController::buildFilesPane()
{
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    m_fileList = new FileListController(m_registry, this);
    m_fileTable = new QTableView;
    m_fileTable->setObjectName(QStringLiteral("fileList"));
    auto* headers = new FileListHeaders(this);
    headers->setSourceModel(m_fileList);
    m_fileTable->setModel(headers);
    m_fileTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_fileTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fileTable->verticalHeader()->hide();
    m_fileTable->horizontalHeader()->setStretchLastSection(true);
    m_fileTable->setMinimumSize(560, 240);
    m_fileTable->setColumnWidth(0, 160);
    layout->addWidget(m_fileTable);

    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(tr("Add…"));
    add->setObjectName(QStringLiteral("addFile"));
    m_deleteButton = new QPushButton(tr("Delete"));
    m_deleteButton->setObjectName(QStringLiteral("deleteFile"));
    m_changeButton = new QPushButton(tr("Change Location…"));
    m_changeButton->setObjectName(QStringLiteral("changeFilePath"));
    buttons->addWidget(add);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch();
    buttons->addWidget(m_changeButton);
    layout->addLayout(buttons);

    connect(add, &QPushButton::clicked, this, &PreferencesController::addFiles);
    connect(m_deleteButton, &QPushButton::clicked, this, &PreferencesController::deleteSelectedFile);
    connect(m_changeButton, &QPushButton::clicked, this, &PreferencesController::changePathOfSelectedFile);
    connect(m_fileTable, &QTableView::doubleClicked, this, &PreferencesController::changePathOfSelectedFile);
    connect(m_fileTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PreferencesController::updateFileButtons);
    connect(m_fileList, &QAbstractItemModel::modelReset, this, &PreferencesController::updateFileButtons);
    updateFileButtons();
    return pane;
}

int PreferencesController::selectedRow() const
{
    const QModelIndexList rows = m_fileTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void PreferencesController::updateFileButtons()
{
    const int row = selectedRow();
    m_deleteButton->setEnabled(m_fileList->isRowRemovable(row));
    const BookmarkFileHandlePtr handle = row >= 0 ? m_fileList->handleAtRow(row) : nullptr;
    m_changeButton->setEnabled(handle && !handle->isRemote());
}

void PreferencesController::addFiles()
{
    const QStringList paths = m_chooseFiles(
        this, QVLocalized(QStringLiteral("Select the bookmark file you would like to add.")), true);
    for (const QString& path : paths)
        m_registry.addFileReferenceWithPath(path, false, true, false, QString());
    m_fileList->reloadList();
}

void PreferencesController::deleteSelectedFile()
{
    const int row = selectedRow();
    if (!m_fileList->isRowRemovable(row))
        return;
    const BookmarkFileHandlePtr handle = m_fileList->handleAtRow(row);
    quorvit::AlertRequest request;
    request.title = QVLocalized(QStringLiteral("DeleteBookmarkTitle"), {handle->browserName()});
    request.message = QVLocalized(QStringLiteral("DeleteBookmarkMessage"), {handle->filePath()});
    request.defaultButton = tr("Delete");
    request.alternateButton = QVLocalized(QStringLiteral("CancelLabel"));
    if (GuiAlertPresenter::presentSheet(this, request) != quorvit::AlertPresenter::DefaultButton)
        return;
    m_registry.deleteFileReference(handle);
    m_fileList->reloadList();
}

bool PreferencesController::isAcceptableBookmarkFile(const QString& path)
{
    return Explorer::isValidFile(path) || ICab::isValidFile(path) || Netscape::isValidFile(path) ||
           Opera::isValidFile(path) || OmniWeb::isValidFile(path) || QuorvitBrowser::isValidFile(path) ||
           URLManagerPro::isValidFile(path);
}

void PreferencesController::changePathOfSelectedFile()
{
    const int row = selectedRow();
    const BookmarkFileHandlePtr handle = row >= 0 ? m_fileList->handleAtRow(row) : nullptr;
    if (!handle || handle->isRemote())
        return;
    const QStringList chosen =
        m_chooseFiles(this, tr("Choose the new location of this bookmark file."), false);
    if (chosen.isEmpty())
        return;
    const QString path = chosen.first();
    if (!isAcceptableBookmarkFile(path)) {
        BookmarkFileManager::displayInvalidFileAlert(path);
        return;
    }
    handle->setFilePath(path);
    m_fileList->reloadList();
}

QWidget* PreferencesController::buildSharingPane()
{
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    auto* browse =
        boundCheckBox(tr("Look for bookmarks shared on the local network"), PrefKey::LookupRendezvousServers);
    connect(browse, &QCheckBox::toggled, this, [this](bool on) {
        if (m_plugin)
            m_plugin->setRendezvousServiceDiscoveryEnabled(on);
        updateSharingHost();
    });
    layout->addWidget(browse);

    m_shareBox =
        boundCheckBox(tr("Share my bookmarks on the local network"), PrefKey::ShareBookmarksViaRendezvous);
    connect(m_shareBox, &QCheckBox::toggled, this, [this](bool on) {
        updateSharingControls();
        if (m_plugin)
            m_plugin->setRendezvousSharingEnabled(on);
        updateSharingHost();
    });
    layout->addWidget(m_shareBox);

    auto* nameRow = new QHBoxLayout;
    m_nameLabel = new QLabel(tr("Shared as:"));
    m_nameField = new QLineEdit(m_defaults.stringForKey(PrefKey::RendezvousName));
    m_nameField->setObjectName(PrefKey::RendezvousName);
    m_nameLabel->setBuddy(m_nameField);
    connect(m_nameField, &QLineEdit::editingFinished, this, [this] {
        m_defaults.setObject(m_nameField->text(), PrefKey::RendezvousName);
        updateSharingHost();
    });
    nameRow->addSpacing(20);
    nameRow->addWidget(m_nameLabel);
    nameRow->addWidget(m_nameField);
    layout->addLayout(nameRow);

    // Every machine of the household uses the same password; without it nothing is shared or seen.
    auto* passwordRow = new QHBoxLayout;
    auto* passwordLabel = new QLabel(tr("Sharing password:"));
    m_sharingPassword = new QLineEdit;
    m_sharingPassword->setObjectName(QStringLiteral("sharingPassword"));
    m_sharingPassword->setEchoMode(QLineEdit::Password);
    m_sharingPassword->setToolTip(tr("The same on every machine that shares; kept in the desktop keyring."));
    passwordLabel->setBuddy(m_sharingPassword);
    connect(m_sharingPassword, &QLineEdit::editingFinished, this,
            &PreferencesController::sharingPasswordChanged);
    passwordRow->addSpacing(20);
    passwordRow->addWidget(passwordLabel);
    passwordRow->addWidget(m_sharingPassword);
    layout->addLayout(passwordRow);
    m_sharingNote = new QLabel;
    m_sharingNote->setObjectName(QStringLiteral("sharingNote"));
    m_sharingNote->setWordWrap(true);
    m_sharingNote->setMaximumWidth(420);
    layout->addWidget(m_sharingNote);

    m_sharingRestart = new QTimer(this);
    m_sharingRestart->setSingleShot(true);
    connect(m_sharingRestart, &QTimer::timeout, this, &PreferencesController::restartSharing);
    m_sharingType = new QButtonGroup(pane);
    const QString labels[] = {tr("Share only the base browser's bookmarks"),
                              tr("Share every browser's bookmarks")};
    for (int row = 0; row < 2; ++row) {
        auto* radio = new QRadioButton(labels[row]);
        radio->setObjectName(PrefKey::RendezvousSharingType + QString::number(row));
        m_sharingType->addButton(radio, row);
        auto* indent = new QHBoxLayout;
        indent->addSpacing(20);
        indent->addWidget(radio);
        layout->addLayout(indent);
    }
    const int type = int(m_defaults.integerForKey(PrefKey::RendezvousSharingType));
    m_sharingType->button(type == 0 ? 0 : 1)->setChecked(true);
    connect(m_sharingType, &QButtonGroup::idToggled, this, [this](int row, bool on) {
        if (on)
            sharingTypeChanged(row);
    });

    if (!m_plugin) {
        auto* note = new QLabel(tr("The local-network plug-in is not installed: these settings are kept, "
                                   "and take effect once it is."));
        note->setWordWrap(true);
        note->setEnabled(false);
        layout->addWidget(note);
    }
    layout->addStretch();
    updateSharingControls();
    updateSharingHost();
    return pane;
}

void PreferencesController::sharingPasswordChanged()
{
    const QString password = m_sharingPassword->text();
    if (!m_keychainAvailable || password.isEmpty() ||
        m_passwords.password(PeerSharing::KeychainProtocol, PeerSharing::KeychainServer,
                             PeerSharing::KeychainUser) == password)
        return;
    QString reason;
    if (!m_passwords.store(password, PeerSharing::KeychainProtocol, PeerSharing::KeychainServer,
                           PeerSharing::KeychainUser, &reason)) {
        quorvit::AlertRequest request;
        request.title = tr("The password was not stored.");
        request.message = reason;
        request.defaultButton = tr("OK");
        GuiAlertPresenter::presentSheet(this, request);
        return;
    }
    updateSharingHost();
    // Sharing that waited for a password starts now.
    if (m_plugin && m_shareBox->isChecked())
        m_plugin->setRendezvousSharingEnabled(true);
}

void PreferencesController::updateSharingHost()
{
    if (!m_sharingNote)
        return;
    if (m_plugin && m_keychainAvailable)
        PeerSharing::connect(m_plugin, m_registry, m_defaults,
                             m_passwords.password(PeerSharing::KeychainProtocol, PeerSharing::KeychainServer,
                                                  PeerSharing::KeychainUser));
    const QString problem = m_plugin ? m_plugin->problem() : QString();
    m_sharingNote->setText(problem);
    m_sharingNote->setVisible(!problem.isEmpty());
}

void PreferencesController::updateSharingControls()
{
    const bool sharing = m_shareBox->isChecked();
    m_nameField->setEnabled(sharing);
    m_nameLabel->setEnabled(sharing);
    for (QAbstractButton* button : m_sharingType->buttons())
        button->setEnabled(sharing);
}

void PreferencesController::sharingTypeChanged(int row)
{
    m_defaults.setObject(row, PrefKey::RendezvousSharingType);
    if (!m_plugin)
        return;
    m_plugin->setRendezvousSharingEnabled(false);
    m_sharingRestart->start(kSharingRestartMs);
}

void PreferencesController::restartSharing()
{
    m_sharingRestart->stop();
    if (m_plugin && m_defaults.boolForKey(PrefKey::ShareBookmarksViaRendezvous))
        m_plugin->setRendezvousSharingEnabled(true);
}

QWidget* PreferencesController::buildRemotePane()
{
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    const auto field = [&](QFormLayout* form, const QString& label, const QString& key, const QString& name) {
        auto* edit = new QLineEdit(key.isEmpty() ? QString() : m_defaults.stringForKey(key));
        edit->setObjectName(name);
        edit->setMinimumWidth(260);
        if (key.isEmpty())
            edit->setEchoMode(QLineEdit::Password);
        auto* caption = new QLabel(label);
        caption->setBuddy(edit);
        form->addRow(caption, edit);
        return std::pair{caption, edit};
    };

    m_dotMacBox = new QCheckBox(tr("Keep a copy on my WebDAV disk (.Mac)"));
    m_dotMacBox->setObjectName(PrefKey::EnableDotMacSyncing);
    m_dotMacBox->setChecked(m_defaults.boolForKey(PrefKey::EnableDotMacSyncing));
    connect(m_dotMacBox, &QCheckBox::clicked, this, &PreferencesController::activateDotMacSyncing);
    layout->addWidget(m_dotMacBox);
    // The account is filled in before the box is checked: checking it asks the account.
    auto* davForm = new QFormLayout;
    davForm->setContentsMargins(20, 0, 0, 0);
    m_webDAVServer =
        field(davForm, tr("Address:"), SourceKey::WebDAVServerURL, SourceKey::WebDAVServerURL).second;
    m_webDAVServer->setPlaceholderText(QStringLiteral("https://dav.example.net/"));
    m_webDAVUser =
        field(davForm, tr("User name:"), SourceKey::WebDAVUserName, SourceKey::WebDAVUserName).second;
    m_webDAVPassword = field(davForm, tr("Password:"), QString(), QStringLiteral("webdavPassword")).second;
    for (QLineEdit* edit : {m_webDAVServer, m_webDAVUser}) {
        const QString key = edit->objectName();
        connect(edit, &QLineEdit::editingFinished, this,
                [this, key, edit] { webDAVFieldChanged(key, edit); });
    }
    connect(m_webDAVPassword, &QLineEdit::editingFinished, this, [this] { storePassword(true); });
    layout->addLayout(davForm);

    m_ftpBox = new QCheckBox(tr("Keep a copy on an FTP server"));
    m_ftpBox->setObjectName(PrefKey::EnableFTPSyncing);
    m_ftpBox->setChecked(m_defaults.boolForKey(PrefKey::EnableFTPSyncing));
    connect(m_ftpBox, &QCheckBox::clicked, this, &PreferencesController::activateFTPSyncing);
    layout->addWidget(m_ftpBox);

    auto* form = new QFormLayout;
    form->setContentsMargins(20, 0, 0, 0);
    const auto ftpField = [&](const QString& label, const QString& key, const QString& name) {
        const auto pair = field(form, label, key, name);
        QLineEdit* edit = pair.second;
        m_ftpControls << pair.first << edit;
        if (!key.isEmpty())
            connect(edit, &QLineEdit::editingFinished, this,
                    [this, key, edit] { ftpFieldChanged(key, edit); });
        return edit;
    };
    m_ftpServer = ftpField(tr("Server:"), PrefKey::FTPServerName, PrefKey::FTPServerName);
    m_ftpUser = ftpField(tr("User name:"), PrefKey::FTPUserName, PrefKey::FTPUserName);
    m_ftpPassword = ftpField(tr("Password:"), QString(), QStringLiteral("ftpPassword"));
    connect(m_ftpPassword, &QLineEdit::editingFinished, this, [this] {
        if (storePassword(false))
            ftpFieldChanged(QString(), m_ftpPassword);
    });
    m_ftpPath = ftpField(tr("Path on the server:"), PrefKey::FTPRemotePath, PrefKey::FTPRemotePath);
    layout->addLayout(form);

    m_keychainNote = new QLabel;
    m_keychainNote->setObjectName(QStringLiteral("keychainNote"));
    m_keychainNote->setWordWrap(true);
    m_keychainNote->setMaximumWidth(420);
    layout->addWidget(m_keychainNote);
    layout->addStretch();
    setPasswordStore(m_passwords);
    return pane;
}

void PreferencesController::setPasswordStore(PasswordStore store)
{
    m_passwords = std::move(store);
    QString reason;
    m_keychainAvailable = m_passwords.available(&reason);
    // Passwords live only in the desktop keyring; without one the fields stay closed and say why.
    m_keychainNote->setText(m_keychainAvailable
                                ? QString()
                                : tr("Passwords are kept only in the desktop keyring, which cannot be "
                                     "reached: %1")
                                      .arg(reason));
    m_keychainNote->setVisible(!m_keychainAvailable);
    for (QLineEdit* field : {m_ftpPassword, m_webDAVPassword})
        field->setToolTip(m_keychainAvailable ? tr("Kept in the desktop keyring.") : m_keychainNote->text());
    updateFTPControls();
    m_webDAVPassword->setEnabled(m_keychainAvailable);
    if (m_sharingPassword) {
        m_sharingPassword->setEnabled(m_keychainAvailable);
        m_sharingPassword->setToolTip(m_keychainAvailable ? tr("Kept in the desktop keyring.")
                                                          : m_keychainNote->text());
    }
}

std::pair<QString, QString> PreferencesController::ftpKeychainItem() const
{
    return {KeychainManager::FTPAccount, m_ftpServer->text().trimmed()};
}

std::pair<QString, QString> PreferencesController::webDAVKeychainItem() const
{
    const QString address = m_webDAVServer->text().trimmed();
    return {DotMacFileHandle::keychainProtocol(address), QUrl(address).host()};
}

bool PreferencesController::storePassword(bool webDAV)
{
    if (!m_keychainAvailable)
        return false;
    const auto [protocol, server] = webDAV ? webDAVKeychainItem() : ftpKeychainItem();
    const QString user = (webDAV ? m_webDAVUser : m_ftpUser)->text();
    const QString password = (webDAV ? m_webDAVPassword : m_ftpPassword)->text();
    if (user.isEmpty() || server.isEmpty() || password.isEmpty())
        return false;
    if (m_passwords.password(protocol, server, user) == password)
        return false;
    QString reason;
    if (m_passwords.store(password, protocol, server, user, &reason))
        return true;
    quorvit::AlertRequest request;
    request.title = tr("The password was not stored.");
    request.message = reason;
    request.defaultButton = tr("OK");
    GuiAlertPresenter::presentSheet(this, request);
    return false;
}

void PreferencesController::fillPasswords()
{
    if (!m_keychainAvailable)
        return;
    const auto fill = [this](QLineEdit* field, const std::pair<QString, QString>& item, const QString& user) {
        if (!user.isEmpty() && !item.second.isEmpty())
            field->setText(m_passwords.password(item.first, item.second, user));
    };
    fill(m_ftpPassword, ftpKeychainItem(), m_ftpUser->text());
    fill(m_webDAVPassword, webDAVKeychainItem(), m_webDAVUser->text());
    if (m_sharingPassword)
        m_sharingPassword->setText(m_passwords.password(
            PeerSharing::KeychainProtocol, PeerSharing::KeychainServer, PeerSharing::KeychainUser));
}

void PreferencesController::updateFTPControls()
{
    for (QWidget* control : m_ftpControls)
        control->setEnabled(m_ftpBox->isChecked());
    m_ftpPassword->setEnabled(m_ftpBox->isChecked() && m_keychainAvailable);
}

void PreferencesController::webDAVFieldChanged(const QString& key, QLineEdit* field)
{
    const QString value = key == SourceKey::WebDAVServerURL ? field->text().trimmed() : field->text();
    if (value == m_defaults.stringForKey(key) && m_defaults.hasStoredValue(key))
        return;
    m_defaults.setObject(value, key);
    storePassword(true);
    // The location takes the new account at once, or goes while the address is unusable.
    if (m_defaults.boolForKey(PrefKey::EnableDotMacSyncing)) {
        m_registry.setDotMacSyncingEnabled(false);
        m_registry.setDotMacSyncingEnabled(
            RemoteLocationSettings::isValidWebDAVAddress(m_webDAVServer->text()));
    }
}

void PreferencesController::activateDotMacSyncing(bool on)
{
    if (on == m_defaults.boolForKey(PrefKey::EnableDotMacSyncing))
        return;
    if (!on) {
        m_defaults.setObject(false, PrefKey::EnableDotMacSyncing);
        m_registry.setDotMacSyncingEnabled(false);
        return;
    }
    const DotMacAnswer answer = m_dotMacCheck();
    if (answer.requestSucceeded && answer.hasIDisk) {
        m_defaults.setObject(true, PrefKey::EnableDotMacSyncing);
        m_registry.setDotMacSyncingEnabled(true);
        return;
    }
    if (!answer.requestSucceeded) {
        QVLog(QStringLiteral("Transaction failed with error %1").arg(answer.httpStatus));
        QVLog(QStringLiteral("Transaction state is %1").arg(answer.requestState));
    }
    m_dotMacBox->setChecked(false);
    m_defaults.setObject(false, PrefKey::EnableDotMacSyncing);
    m_registry.setDotMacSyncingEnabled(false);
    quorvit::AlertRequest request;
    request.title = QVLocalized(QStringLiteral(".Mac bookmark sycning requires iDisk access."));
    request.message = QVLocalized(QStringLiteral("It appears that you do not have a .Mac account. To use "
                                                 ".Mac sycning you must have a .Mac account, for "
                                                 "more information click the button below."));
    request.defaultButton = tr("OK");
    request.alternateButton = QVLocalized(QStringLiteral(".Mac info..."));
    if (GuiAlertPresenter::presentSheet(this, request) == quorvit::AlertPresenter::AlternateButton)
        QDesktopServices::openUrl(QUrl(QLatin1String(kDotMacSignUpPage)));
}

void PreferencesController::activateFTPSyncing(bool on)
{
    updateFTPControls();
    if (on == m_defaults.boolForKey(PrefKey::EnableFTPSyncing))
        return;
    m_defaults.setObject(on, PrefKey::EnableFTPSyncing);
    m_registry.setFTPSyncingEnabled(on && !m_ftpServer->text().isEmpty());
}

void PreferencesController::ftpFieldChanged(const QString& key, QLineEdit* field)
{
    // key is empty for the password, which only ever goes to the keychain.
    if (!key.isEmpty()) {
        if (field->text() == m_defaults.stringForKey(key) && m_defaults.hasStoredValue(key))
            return;
        m_defaults.setObject(field->text(), key);
        if (key != PrefKey::FTPRemotePath)
            storePassword(false);
    }
    if (key == PrefKey::FTPServerName && field->text().isEmpty()) {
        m_registry.setFTPSyncingEnabled(false);
        return;
    }
    // The FTP location takes the new server, user or path: made again while FTP syncing is on.
    if (m_defaults.boolForKey(PrefKey::EnableFTPSyncing)) {
        m_registry.setFTPSyncingEnabled(false);
        m_registry.setFTPSyncingEnabled(!m_ftpServer->text().isEmpty());
    }
}

void PreferencesController::closeEvent(QCloseEvent* event)
{
    m_defaults.synchronize();
    Q_EMIT closed();
    QMainWindow::closeEvent(event);
}
