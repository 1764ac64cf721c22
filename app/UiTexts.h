#pragma once
#include <QString>
#include <map>

#include "core/StringTable.h"

// The user interface's own texts: the menu of the main frame, its popups, the window commands
// of the Alt+Space menu and the framework messages. Built in Japanese; a resource bundle beside
// the executable may replace them (another language) together with the string table.
namespace skiro {

enum CommandId : int {
    ID_START = 32784,
    ID_STOP = 32785,
    ID_SERIAL = 32786,
    ID_FONT = 32787,
    ID_TEXT_COLOR = 32788,
    ID_BACK_COLOR = 32789,
    ID_OUTLINE = 32790,
    ID_SCROLL = 32791,
    ID_KINSOKU = 32792,
    ID_MISC = 32793,
    ID_WEB = 32794,         // the audience web view
    ID_RELAY = 32795,       // the relay through an MQTT broker
    ID_FULL_SCREEN = 32799, // full screen on the window's screen, and back
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_INDEX = 57666,
    ID_HELP_USING = 57667,
    ID_CONTEXT_HELP = 57668,
    ID_HELP = 57669,
};

enum FrameworkStringId : int {
    IDS_APP_TITLE = 57344,     // "SKIRO"
    IDS_CREATE_FAILED = 61700, // "空のﾄﾞｷｭﾒﾝﾄの作成に失敗しました。"
    IDS_HELP_FAILED = 61703,   // "ﾍﾙﾌﾟの起動に失敗しました。"
};

struct UiTexts {
    QString popupRun = QStringLiteral("実行(&E)");
    QString popupSettings = QStringLiteral("設定(&S)");
    QString popupHelp = QStringLiteral("ﾍﾙﾌﾟ(&H)");
    // Menu items by command; "\t" separates the accelerator text.
    std::map<int, QString> items = {
        {ID_START, QStringLiteral("スタート(&S)\tCtrl+S")},
        {ID_STOP, QStringLiteral("ストップ(&E)\tCtrl+E")},
        {ID_FULL_SCREEN, QStringLiteral("全画面表示(&F)\tF11")},
        {ID_APP_EXIT, QStringLiteral("アプリケーションの終了(&X)")},
        {ID_SERIAL, QStringLiteral("シリアル(&C)...\tCtrl+C")},
        {ID_FONT, QStringLiteral("フォント(&F)...\tCtrl+F")},
        {ID_TEXT_COLOR, QStringLiteral("文字色(&T)...\tCtrl+T")},
        {ID_BACK_COLOR, QStringLiteral("背景色(&B)...\tCtrl+B")},
        {ID_OUTLINE, QStringLiteral("縁取り(&O)...\tCtrl+O")},
        {ID_SCROLL, QStringLiteral("スクロール(&R)...\tCtrl+R")},
        {ID_KINSOKU, QStringLiteral("禁則処理(&K)...\tCtrl+K")},
        {ID_MISC, QStringLiteral("その他(&M)...\tCtrl+M")},
        {ID_WEB, QStringLiteral("ウェブ表示(&W)...\tCtrl+W")},
        {ID_RELAY, QStringLiteral("中継(&R)...")},
        {ID_HELP_INDEX, QStringLiteral("目次(&I)")},
        {ID_HELP_USING, QStringLiteral("ヘルプの使い方(&U)")},
        {ID_APP_ABOUT, QStringLiteral("バージョン情報(&A)...")},
    };
    // The window commands of the Alt+Space menu, as the desktop's own window menu names them.
    QString restore = QStringLiteral("元のサイズに戻す(&R)");
    QString move = QStringLiteral("移動(&M)");
    QString size = QStringLiteral("サイズ変更(&S)");
    QString minimize = QStringLiteral("最小化(&N)");
    QString maximize = QStringLiteral("最大化(&X)");
    QString close = QStringLiteral("閉じる(&C)\tAlt+F4");
    QString appTitle = QStringLiteral("SKIRO");
    QString createFailed = QStringLiteral("空のﾄﾞｷｭﾒﾝﾄの作成に失敗しました。");
    QString helpFailed = QStringLiteral("ﾍﾙﾌﾟの起動に失敗しました。");
    // The command of the audience web view in a build without it (Windows).
    QString webViewMissing = QStringLiteral("このWindows版にはウェブ表示がありません。");
    QString aboutTitle = QStringLiteral("SKIRO のバージョン情報");
    QString aboutText = QStringLiteral("SKIRO Version 2.2");
    // The serial link waits for its device to come back: the mark in the view's corner, and
    // the window title ("%1" the title, "%2" the device).
    QString linkWaiting = QStringLiteral("接続待ち");
    QString linkWaitingTitle = QStringLiteral("%1 - 接続待ち (%2)");
};

// Reads the resource bundle at `path` (a UTF-8 INI file) and, only when its FileVersion and
// ProductVersion carry the program's major and minor numbers, replaces the texts it holds.
// Returns whether the bundle was used; a missing or unreadable bundle is silently ignored.
bool applyResourceBundle(const QString& path, UiTexts& texts, StringTable& strings);

} // namespace skiro
