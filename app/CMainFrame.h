#pragma once
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <map>

#include "app/ScreenSaverVeto.h"
#include "app/UiTexts.h"
#include "core/Placement.h"

class QAction;
class QMenu;

namespace skiro {

class CMarelDoc;

// The program's only window: the menu bar and its accelerators around the view, the placement
// it comes back to at the next start, and the decorations that can each be hidden so that only
// the scrolling text remains. Closing it runs the one close sequence, whatever asked for it.
class CMainFrame : public QMainWindow {
    Q_OBJECT
  public:
    // What the frame asks of the rest of the program; each may be empty.
    struct Handlers {
        std::function<void(int commandId)> command; // every menu command but exit
        std::function<bool(int commandId)> enabled; // whether a command may run now
        std::function<void()> closeDocument;        // stop, record, store the settings
        // Opens the help for a context: 0x10000 + a command, 0x20000 + a window's resource.
        std::function<void(std::uint32_t context)> help;
    };

    // The help context of the window itself (its resource number 128).
    static constexpr std::uint32_t kFrameHelpContext = 0x20000 + 128;

    CMainFrame(CMarelDoc& doc, const UiTexts& texts, Handlers handlers);
    ~CMainFrame() override;

    void setView(QWidget* view);

    void hideTitleBar(bool hide);
    void hideMenuBar(bool hide);
    void hideWindowFrame(bool hide);
    void hideMouseCursor(bool hide);
    // The display count of the mouse cursor: it shows while the count is 0 or more.
    int cursorCount() const { return m_cursorCount; }

    // Puts the window where the profile says it was at the last close, then shows it.
    void restorePlacement(ShowCommand startup);
    WindowPlacement currentPlacement() const;

    // Full screen on the screen the window is on, without the menu bar and the mouse pointer;
    // leaving it brings back the window as it was, maximized or not, and the menu bar and the
    // pointer as the settings have them. F11 and the run menu's item toggle it, Escape leaves
    // it.
    void toggleFullScreen();
    void leaveFullScreen();

    // Re-reads which commands may run (after Start or Stop, for example).
    void updateCommandStates();

    QAction* action(int commandId) const;
    const ScreenSaverVeto& screenSaverVeto() const { return m_screenSaver; }
    // The Alt+Space menu: the window commands and the three menus.
    QMenu* windowMenu() const { return m_windowMenu; }

    // Context help (Shift+F1): the cursor turns into the help cursor, and the next menu item
    // chosen or the next click on the window opens its help instead of doing anything; Escape
    // leaves the mode.
    void enterHelpMode();
    void leaveHelpMode();
    bool inHelpMode() const { return m_helpMode; }

    // The link with the terminal program 秀Term, for the Misc command's "秀TermAPIを使う".
    // 秀Term exists only on Windows: here linking always fails with its message (stop icon,
    // OK) and returns false, as it does there when 秀Term is not running.
    bool linkTerm();
    // Ends the link; always true.
    bool unlinkTerm();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenus();
    void runCommand(int id);
    void applyWindowFlags();
    void showWindowMenu();
    void requestHelp(std::uint32_t context);
    void helpOnMenuItem(const QAction* item);
    // The menu bar and the pointer as the settings and full screen together have them.
    void showFullScreenDecorations();

    CMarelDoc& m_doc;
    const UiTexts& m_texts;
    Handlers m_handlers;
    std::map<int, QAction*> m_actions;
    QMenu* m_runMenu = nullptr;
    QMenu* m_settingsMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QMenu* m_windowMenu = nullptr;
    bool m_titleHidden = false;
    bool m_frameHidden = false;
    bool m_menuBarHidden = false; // by the settings, whether or not in full screen
    int m_cursorCount = 0;
    bool m_closing = false;
    bool m_maximizedBeforeFullScreen = false;
    bool m_helpMode = false;
    bool m_swallowRelease = false; // the press that picked a help topic had its release
    ScreenSaverVeto m_screenSaver;
    // The normal rectangle while maximized or minimized, for the placement entry.
    QRect m_normalGeometry;
};

} // namespace skiro
