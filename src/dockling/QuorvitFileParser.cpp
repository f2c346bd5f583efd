#include "dockling/QuorvitFileParser.h"

#include "dockling/DocklingStrings.h"
#include "platform/Autostart.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/Workspace.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>

namespace {
const QString kItemType = QStringLiteral("ItemType");
const QString kChildren = QStringLiteral("Children");
const QString kTitle = QStringLiteral("Title");
const QString kURLString = QStringLiteral("URLString");
const QString kTypeFolder = QStringLiteral("TypeFolder");
const QString kTypeBookmark = QStringLiteral("TypeBookmark");
const QString kTypeDivider = QStringLiteral("TypeDivider");
const QString kUpdateNotification = QStringLiteral("updateDocklingNotification");
constexpr int kMaxTitleLength = 50;

// Menus read "&" as a mnemonic marker; a bookmark title means it literally.
QString menuText(const QString& title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The command of a .desktop entry's Exec= line without its field codes (%f, %U, …).
QStringList execCommand(const QString& desktopFile)
{
    // The value's own escapes (\\ for a backslash) come off first, then the quoting of the command.
    QString exec = quorvit::autostart::desktopEntryValue(desktopFile, QStringLiteral("Exec"));
    exec.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    QStringList command;
    for (const QString& word : QProcess::splitCommand(exec)) {
        if (word.size() == 2 && word.startsWith(QLatin1Char('%')))
            continue;
        command.append(QString(word).replace(QStringLiteral("%%"), QStringLiteral("%")));
    }
    return command;
}
} // namespace

// The icons live in this static library: its resources must be registered by hand.
static void registerDocklingResources()
{
    Q_INIT_RESOURCE(dockling);
}

QuorvitFileParser::QuorvitFileParser(Program program, QObject* parent)
    : QObject(parent), m_program(program), m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      m_askOldFile([] {
          QMessageBox box(QMessageBox::Information, QVDocklingLocalized(QStringLiteral("QVOldFileAlert")),
                          QVDocklingLocalized(QStringLiteral("QVOldFileMessage")));
          QPushButton* now =
              box.addButton(QVDocklingLocalized(QStringLiteral("QVUpdateNow")), QMessageBox::AcceptRole);
          box.addButton(QVDocklingLocalized(QStringLiteral("QVLater")), QMessageBox::RejectRole);
          box.setDefaultButton(now);
          box.exec();
          return box.clickedButton() == now;
      })
{}

QuorvitFileParser::~QuorvitFileParser()
{
    delete m_connectWindow.data();
    delete m_mainMenu;
}

QIcon QuorvitFileParser::icon(const QString& name)
{
    static const bool registered = (registerDocklingResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/dockling/%1.svg").arg(name));
}

void QuorvitFileParser::applicationDidFinishLaunching(quorvit::DistributedNotificationCenter* center)
{
    quorvit::DistributedNotificationCenter& notifications =
        center ? *center : quorvit::DistributedNotificationCenter::defaultCenter();
    if (!notifications.addObserver(kUpdateNotification, [this] { readBookmarkFile(); }))
        QVLog(QStringLiteral("No session bus: the bookmarks menu is read at start only."));

    m_folderIcon = icon(QStringLiteral("smallFolder"));
    m_bookmarkIcon = icon(QStringLiteral("smallBookmark"));

    m_mainMenu = new QMenu(QStringLiteral("Root"));
    m_mainMenu->setObjectName(QStringLiteral("Root"));
    QAction* placeholder = m_mainMenu->addAction(QVDocklingLocalized(QStringLiteral("QVNoFileAvailable")));
    placeholder->setEnabled(false);

    createConnectWindow();

    if (m_program == Program::Menu) {
        installStatusItemWithMenu(m_mainMenu);
        addOtherMenus();
    } else {
        buildConnectToMenu();
    }
    if (!sourceFileNeedsConverting())
        readBookmarkFile();
}

void QuorvitFileParser::installStatusItemWithMenu(QMenu* menu)
{
    QIcon image = icon(QStringLiteral("menuIcon"));
    // Shown while pressed where the tray supports it.
    image.addFile(QStringLiteral(":/dockling/menuIconDown.svg"), QSize(), QIcon::Active);
    image.addFile(QStringLiteral(":/dockling/menuIconDown.svg"), QSize(), QIcon::Selected);
    m_statusItem = new QSystemTrayIcon(image, this);
    m_statusItem->setToolTip(QStringLiteral("Quorvit Menu"));
    m_statusItem->setContextMenu(menu);
    // A left click opens the menu too, as the status area's menus do.
    connect(m_statusItem, &QSystemTrayIcon::activated, this,
            [menu](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    menu->popup(QCursor::pos());
            });
    m_statusItem->show();
}

void QuorvitFileParser::readBookmarkFile()
{
    if (m_bookmarkPath.isEmpty())
        m_bookmarkPath = quorvit::expandTilde(QVDocklingLocalized(QStringLiteral("QVDocklingPath")));
    const QFileInfo file(m_bookmarkPath);
    if (!file.exists() || file.isDir())
        return;
    const std::optional<QVariant> plist = quorvit::plist::readFile(m_bookmarkPath);
    if (!plist || plist->typeId() != QMetaType::QVariantMap) {
        QVLog(QStringLiteral("Failed to read dictionary from dockling file."));
        return;
    }
    const QVariantMap root = plist->toMap();
    const bool hasChildren = root.value(kItemType).toString() == kTypeFolder &&
                             root.value(kChildren).typeId() == QMetaType::QVariantList;

    clearMainMenu();
    if (m_program == Program::Menu) {
        if (hasChildren)
            parseQuorvitBookmarkArray(root.value(kChildren).toList(), m_mainMenu);
        buildConnectToMenu();
        addOtherMenus();
    } else {
        buildConnectToMenu();
        if (hasChildren)
            parseQuorvitBookmarkArray(root.value(kChildren).toList(), m_mainMenu);
    }
}

void QuorvitFileParser::clearMainMenu()
{
    m_mainMenu->clear();
    // Submenus are children of their menus, not of their items: clear() leaves them behind. One may
    // be open while the file changes, so each goes once the event that shows it is done.
    for (QMenu* submenu : m_mainMenu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        submenu->deleteLater();
}

void QuorvitFileParser::parseQuorvitBookmarkArray(const QVariantList& items, QMenu* menu)
{
    for (const QVariant& value : items) {
        const QVariantMap item = value.toMap();
        const QString type = item.value(kItemType).toString();
        if (type == kTypeFolder) {
            const QString title = item.value(kTitle).toString();
            auto* submenu = new QMenu(menuText(title), menu);
            QAction* folderItem = menu->addMenu(submenu);
            if (m_program == Program::Menu)
                folderItem->setIcon(m_folderIcon);
            parseQuorvitBookmarkArray(item.value(kChildren).toList(), submenu);
        } else if (type == kTypeBookmark) {
            QAction* bookmark = menu->addAction(menuText(trimName(item.value(kTitle).toString())));
            bookmark->setData(item.value(kURLString).toString());
            if (m_program == Program::Menu)
                bookmark->setIcon(m_bookmarkIcon);
            connect(bookmark, &QAction::triggered, this, [this, bookmark] { selectBookmarkItem(bookmark); });
        } else if (type == kTypeDivider) {
            menu->addSeparator();
        }
    }
}

QString QuorvitFileParser::trimName(const QString& name)
{
    if (name.size() <= kMaxTitleLength)
        return name;
    return name.left(kMaxTitleLength) + QStringLiteral("...");
}

void QuorvitFileParser::selectBookmarkItem(QAction* item)
{
    // Tolerant, as browsers are: bookmarks often hold spaces or braces that were never escaped.
    const QUrl url(item->data().toString(), QUrl::TolerantMode);
    // A bookmark without a usable address has nothing to open.
    if (url.isEmpty() || !url.isValid() || url.scheme().isEmpty()) {
        QVLog(QStringLiteral("The bookmark \"%1\" has no address that can be opened.").arg(item->text()));
        return;
    }
    m_openUrl(url);
}

QAction* QuorvitFileParser::addFixedItem(const QString& key, const std::function<void()>& action)
{
    QAction* item = m_mainMenu->addAction(QVDocklingLocalized(key));
    item->setObjectName(key);
    connect(item, &QAction::triggered, this, action);
    return item;
}

void QuorvitFileParser::buildConnectToMenu()
{
    if (m_program == Program::Menu) {
        m_mainMenu->addSeparator();
        addFixedItem(QStringLiteral("QVOpenAddress"), [this] { showConnectToWindow(); });
    } else {
        addFixedItem(QStringLiteral("QVOpenQuorvit"), [this] { openQuorvit(); });
        addFixedItem(QStringLiteral("QVOpenAddress"), [this] { showConnectToWindow(); });
        m_mainMenu->addSeparator();
    }
}

void QuorvitFileParser::addOtherMenus()
{
    addFixedItem(QStringLiteral("QVOpenQuorvit"), [this] { openQuorvit(); });
    addFixedItem(QStringLiteral("QVQuit"), [] { QCoreApplication::quit(); });
}

void QuorvitFileParser::createConnectWindow()
{
    auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    window->setObjectName(QStringLiteral("connectWindow"));
    window->setWindowTitle(QVDocklingLocalized(QStringLiteral("QVAddressWindowTitle")));
    m_addressComboBox = new QComboBox(window);
    m_addressComboBox->setObjectName(QStringLiteral("addressComboBox"));
    m_addressComboBox->setEditable(true);
    // The history is ours to keep, every address opened, in order.
    m_addressComboBox->setInsertPolicy(QComboBox::NoInsert);
    m_addressComboBox->setMinimumWidth(320);
    auto* open = new QPushButton(QVDocklingLocalized(QStringLiteral("QVOpen")), window);
    open->setObjectName(QStringLiteral("openButton"));
    open->setDefault(true);
    auto* layout = new QHBoxLayout(window);
    layout->addWidget(m_addressComboBox, 1);
    layout->addWidget(open);
    connect(open, &QPushButton::clicked, this, &QuorvitFileParser::connectToAction);
    connect(m_addressComboBox->lineEdit(), &QLineEdit::returnPressed, this,
            &QuorvitFileParser::connectToAction);
    m_connectWindow = window;
}

void QuorvitFileParser::showConnectToWindow()
{
    m_connectWindow->show();
    m_connectWindow->raise();
    m_connectWindow->activateWindow();
    m_addressComboBox->setFocus();
}

QString QuorvitFileParser::addressFromTypedText(const QString& text)
{
    if (text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://")))
        return text;
    return QStringLiteral("http://") + text;
}

void QuorvitFileParser::connectToAction()
{
    const QString typed = m_addressComboBox->currentText().trimmed();
    // Nothing typed: nothing to open, and the window stays for the address.
    if (typed.isEmpty())
        return;
    const QString address = addressFromTypedText(typed);
    m_addressComboBox->addItem(address);
    m_openUrl(QUrl(address));
    m_addressComboBox->setCurrentIndex(-1);
    m_addressComboBox->clearEditText();
    m_connectWindow->close();
}

bool QuorvitFileParser::openQuorvit()
{
    const auto application = quorvit::Workspace::shared().findApplication(QStringLiteral("WcbK"));
    if (!application)
        return false;
    QStringList command = execCommand(application->desktopFile);
    if (command.isEmpty())
        return false;
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command);
}

bool QuorvitFileParser::sourceFileNeedsConverting()
{
    const QString oldPath = quorvit::expandTilde(QVDocklingLocalized(QStringLiteral("QVOldDocklingPath")));
    if (QFileInfo(oldPath).isFile() && m_askOldFile())
        openQuorvit();
    return false;
}
