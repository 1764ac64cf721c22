#pragma once
#include <map>
#include <string>

// The program's own texts by their identifiers, in Shift-JIS as the rest of the program keeps
// text. A resource bundle beside the executable may replace them (for another language).
namespace skiro {

enum StringId : int {
    IDS_ERROR_CODE = 34816,      // "エラーコード:%u"
    IDS_OPEN_FAILED = 34817,     // "デバイスオープンでエラー発生。\n"
    IDS_NO_DEVICE = 34818,       // "指定されたデバイスが見つかりません。"
    IDS_ACCESS_DENIED = 34819,   // "アクセスが拒否されました。"
    IDS_MASK_FAILED = 34820,     // "監視イベントの設定でエラー発生。\n"
    IDS_QUEUE_FAILED = 34821,    // "通信パラメータの初期化でエラー発生。\n"
    IDS_TIMEOUT_FAILED = 34822,  // "タイムアウト設定でエラー発生。\n"
    IDS_STATE_FAILED = 34823,    // "デバイス設定でエラー発生。\n"
    IDS_SEND_FAILED = 34824,     // "送信失敗。\n"
    IDS_START_STAMP = 34825,     // "%04d/%02d/%02d %02d:%02d:%02d スタート"
    IDS_STOP_STAMP = 34826,      // "%04d/%02d/%02d %02d:%02d:%02d ストップ"
    IDS_TERM_FAILED = 34827,     // "秀Termが見つからないか通信に失敗しました。"
    // Log stamps of a session that waits for its device to come back ([Serial] Reconnect):
    // the device went away, and it is open again.
    IDS_LOST_STAMP = 34828, // "%04d/%02d/%02d %02d:%02d:%02d 接続切れ"
    IDS_BACK_STAMP = 34829, // "%04d/%02d/%02d %02d:%02d:%02d 再接続"
    // The device went away while Start was in force (adapter pulled, far end hung up); shown
    // once, followed by IDS_ERROR_CODE with the system's code.
    IDS_DEVICE_LOST = 34830, // "デバイスとの接続が切れました。\n"
    // The line under a refused port that names the other program using it; "%s" is its
    // command name, "%u" its process id.
    IDS_PORT_HOLDER = 34831, // "使用中のプログラム: %s (PID %u)"
    // The explanation of a device that is no terminal at all (ENOTTY), in place of the C
    // library's "unsuitable control request".
    IDS_NOT_A_SERIAL_PORT = 34832, // "このデバイスはシリアルポートではありません。"
    // At exit, before the lines that arrived but were not shown to the end.
    IDS_UNSHOWN_STAMP = 34833, // "%04d/%02d/%02d %02d:%02d:%02d 以下、表示しきれないまま終了"
    // A Start that could not open the port, followed on the same line by the message shown.
    IDS_START_FAILED_STAMP = 34834, // "%04d/%02d/%02d %02d:%02d:%02d スタート失敗"
    // After the system's explanation of a device the user may not open (EACCES): who may, and
    // how the user becomes one.
    IDS_NO_PERMISSION_HINT = 34835, // "dialout グループに入っていない利用者には開けません。..."
    // The font chooser offered a face whose name the font record cannot hold (longer than 31
    // Shift-JIS bytes, or with characters Shift-JIS lacks): it could not be drawn as chosen.
    IDS_FONT_NAME_UNUSABLE = 34880, // "このフォントの名前は設定に保存できません。..."
};

class StringTable {
public:
    // The built-in Japanese texts.
    StringTable();
    // The text of id, or an empty text when the table has none.
    const std::string& text(int id) const;
    void set(int id, std::string sjisText) { m_texts[id] = std::move(sjisText); }

private:
    std::map<int, std::string> m_texts;
};

} // namespace skiro
