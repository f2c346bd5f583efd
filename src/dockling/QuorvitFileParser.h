#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QWidget>

#include <functional>

class QAction;
class QComboBox;
class QMenu;
class QSystemTrayIcon;
namespace quorvit {
class DistributedNotificationCenter;
}

/// The heart of both menu companions: reads the dockling file the main program writes into a menu of
/// bookmarks, adds the fixed items (open an address, open Quorvit, quit) in each program's order, and
/// rebuilds the menu whenever the main program announces a new file.
class QuorvitFileParser : public QObject
{
    Q_OBJECT

public:
    /// Menu: the status-area (tray) program. Dock: the launcher-tile program.
    enum class Program { Menu, Dock };

    explicit QuorvitFileParser(Program program, QObject* parent = nullptr);
    ~QuorvitFileParser() override;

    /// Start-up: observe the update notification (on the given centre, or the session bus's), the
    /// placeholder menu, the fixed items, the old-file check, then the first read.
    void applicationDidFinishLaunching(quorvit::DistributedNotificationCenter* center = nullptr);

    /// Rebuilds the menu from the dockling file; leaves it as it was when there is no readable file.
    void readBookmarkFile();
    /// Appends the items of an item array (the program's own layout) to the menu, folders as submenus.
    void parseQuorvitBookmarkArray(const QVariantList& items, QMenu* menu);
    /// A title of more than 50 characters keeps its first 50 and gets "...".
    static QString trimName(const QString& name);
    void selectBookmarkItem(QAction* item);
    void buildConnectToMenu();
    void addOtherMenus();

    void showConnectToWindow();
    /// The address window's Open button.
    void connectToAction();
    /// What is opened for a typed address: "http://" in front unless it starts with "http://" or
    /// "https://" (exactly so: other capitalisations get the prefix too).
    static QString addressFromTypedText(const QString& text);

    /// Launches the main program through its .desktop entry; false when it is not installed.
    bool openQuorvit();
    /// Offers to open the main program (which converts it) when an old-format file is still there.
    /// Always false: the current file is read regardless.
    bool sourceFileNeedsConverting();

    QMenu* mainMenu() const { return m_mainMenu; }
    QMenu* applicationDockMenu() const { return m_mainMenu; }
    void installStatusItemWithMenu(QMenu* menu);
    QSystemTrayIcon* statusItem() const { return m_statusItem; }
    QWidget* connectWindow() const { return m_connectWindow; }
    QComboBox* addressComboBox() const { return m_addressComboBox; }
    /// The expanded dockling path, fixed by the first read (empty before).
    QString bookmarkPath() const { return m_bookmarkPath; }
    Program program() const { return m_program; }

    /// Seams: how addresses are opened (default: the desktop's default browser) and how the old-file
    /// question is asked (answer true for "update now").
    void setUrlOpener(std::function<void(const QUrl&)> opener) { m_openUrl = std::move(opener); }
    void setOldFileQuestion(std::function<bool()> ask) { m_askOldFile = std::move(ask); }

    /// Our icons: "smallFolder", "smallBookmark", "menuIcon", "menuIconDown", "dockling".
    static QIcon icon(const QString& name);

private:
    void clearMainMenu();
    void createConnectWindow();
    QAction* addFixedItem(const QString& key, const std::function<void()>& action);

    Program m_program;
    QString m_bookmarkPath;
    QMenu* m_mainMenu = nullptr;
    QSystemTrayIcon* m_statusItem = nullptr;
    QIcon m_folderIcon;
    QIcon m_bookmarkIcon;
    QPointer<QWidget> m_connectWindow;
    QComboBox* m_addressComboBox = nullptr;
    std::function<void(const QUrl&)> m_openUrl;
    std::function<bool()> m_askOldFile;
};
