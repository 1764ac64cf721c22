#include "ui/CMiscDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>

#include "core/SettingsDialogs.h"
#include "sjis/Sjis.h"

namespace skiro {

CMiscDialog::CMiscDialog(const StringTable& strings, HelpHook help, Preview preview,
                         QWidget* parent)
    : SettingsDialog(kTemplateId, QStringLiteral("その他"), 154, 171, strings, std::move(help),
                     parent),
      m_preview(std::move(preview)) {
    setObjectName(QStringLiteral("CMiscDialog"));
    m_log = addCheck(this, QStringLiteral("ﾛｸﾞを取る"), 10, 5, 50, 10);
    m_hideTitleBar = addCheck(this, QStringLiteral("ﾀｲﾄﾙﾊﾞｰを消す"), 10, 20, 65, 10);
    m_hideMenuBar = addCheck(this, QStringLiteral("ﾒﾆｭｰﾊﾞｰを消す"), 10, 35, 65, 10);
    m_hideFrame = addCheck(this, QStringLiteral("ｳｨﾝﾄﾞｳ枠線を消す"), 10, 50, 75, 10);
    m_hideCursor = addCheck(this, QStringLiteral("ﾏｳｽｶｰｿﾙを消す"), 10, 65, 70, 10);
    m_clipboardRelay = addCheck(this, QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞに転送する"), 10, 80, 92, 10);
    m_timeStamp = addCheck(this, QStringLiteral("時刻を記録する"), 10, 95, 70, 10);
    m_minutes = addList(this, IDS_LIST_TIME_STAMP_MINUTES, 90, 93, 35);
    addStatic(this, QStringLiteral("分毎"), 127, 98, 20, 8);
    m_deleteHandle = addCheck(this, QStringLiteral("ﾊﾝﾄﾞﾙを削除する"), 10, 110, 75, 10);
    m_deleteBytes = addEdit(this, 90, 108, 25, 13);
    addStatic(this, QStringLiteral("ﾊﾞｲﾄ"), 117, 112, 20, 8);
    m_useTermApi = addCheck(this, QStringLiteral("秀TermAPIを使う"), 10, 125, 75, 10);
    m_extCommands = addCheck(this, QStringLiteral("拡張コマンドを使う"), 10, 140, 90, 10);
    m_noWrap = addCheck(this, QStringLiteral("折り返さずに表示"), 10, 155, 90, 10);
    addButtons({{105, 5}, {105, 20}, {105, 35}, {105, 50}}, 45, 13);

    // A decoration switch flips its field and shows the effect on the main window at once.
    const auto decoration = [this](QCheckBox* box, std::int32_t MiscPage::*field,
                                   std::function<void(bool)> Preview::*apply) {
        connect(box, &QCheckBox::clicked, this, [this, field, apply](bool checked) {
            m_page.*field = checked ? 1 : 0;
            if (m_preview.*apply)
                (m_preview.*apply)(checked);
        });
    };
    decoration(m_hideTitleBar, &MiscPage::HideTitleBar, &Preview::titleBar);
    decoration(m_hideMenuBar, &MiscPage::HideMenuBar, &Preview::menuBar);
    decoration(m_hideFrame, &MiscPage::HideFrame, &Preview::frame);
    decoration(m_hideCursor, &MiscPage::HideCursor, &Preview::cursor);
    // The two switches with a value beside them flip their field and enable the value; what
    // the user has entered elsewhere stays as it is.
    connect(m_timeStamp, &QCheckBox::clicked, this, [this](bool checked) {
        m_page.TimeStamp = checked ? 1 : 0;
        updateDependents();
    });
    connect(m_deleteHandle, &QCheckBox::clicked, this, [this](bool checked) {
        m_page.DeleteHandle = checked ? 1 : 0;
        updateDependents();
    });
}

void CMiscDialog::fieldsToControls() {
    m_log->setChecked(m_page.Log != 0);
    m_hideTitleBar->setChecked(m_page.HideTitleBar != 0);
    m_hideMenuBar->setChecked(m_page.HideMenuBar != 0);
    m_hideFrame->setChecked(m_page.HideFrame != 0);
    m_hideCursor->setChecked(m_page.HideCursor != 0);
    m_clipboardRelay->setChecked(m_page.ClipboardRelay != 0);
    m_deleteHandle->setChecked(m_page.DeleteHandle != 0);
    m_deleteBytes->setText(QString::number(m_page.DeleteBytes));
    m_timeStamp->setChecked(m_page.TimeStamp != 0);
    m_minutes.show(m_page.TimeStampMinutes);
    m_useTermApi->setChecked(m_page.UseTermApi != 0);
    m_extCommands->setChecked(m_page.ExtCommands != 0);
    m_noWrap->setChecked(m_page.NoWrap != 0);
}

bool CMiscDialog::controlsToFields() {
    const auto flag = [](const QCheckBox* box) { return box->isChecked() ? 1 : 0; };
    m_page.Log = flag(m_log);
    m_page.HideTitleBar = flag(m_hideTitleBar);
    m_page.HideMenuBar = flag(m_hideMenuBar);
    m_page.HideFrame = flag(m_hideFrame);
    m_page.HideCursor = flag(m_hideCursor);
    m_page.ClipboardRelay = flag(m_clipboardRelay);
    m_page.DeleteHandle = flag(m_deleteHandle);

    std::int32_t bytes = 0;
    ByteCountCheck check = checkByteCount(toSjis(m_deleteBytes->text()), bytes);
    // A greyed count is not in use, and the focus could not reach it to mend it: what it
    // holds is taken only when it is a count the deletion can use.
    if (!deleteBytesEnabled(m_page) && check != ByteCountCheck::Accepted) {
        bytes = m_page.DeleteBytes;
        check = ByteCountCheck::Accepted;
    }
    const auto refuse = [this](const QString& message) {
        QMessageBox::warning(this, QStringLiteral("SKIRO"), message);
        m_deleteBytes->setFocus(Qt::OtherFocusReason);
        m_deleteBytes->selectAll();
    };
    if (check == ByteCountCheck::NotInteger) {
        refuse(QStringLiteral("整数を入力してください。"));
        return false;
    }
    if (check == ByteCountCheck::OutOfRange) {
        // A whole number, but not one the deletion can use: said so instead of ignoring OK.
        refuse(QStringLiteral("0 から %1 までの整数を入力してください。").arg(kDeleteBytesMax));
        return false;
    }
    m_page.DeleteBytes = bytes;
    m_page.TimeStamp = flag(m_timeStamp);
    m_page.TimeStampMinutes = m_minutes.take(m_page.TimeStampMinutes);
    m_page.UseTermApi = flag(m_useTermApi);
    m_page.ExtCommands = flag(m_extCommands);
    m_page.NoWrap = flag(m_noWrap);
    return true;
}

bool CMiscDialog::fieldsAcceptable() {
    return !deleteBytesEnabled(m_page) ||
           (m_page.DeleteBytes >= 0 && m_page.DeleteBytes <= kDeleteBytesMax);
}

void CMiscDialog::updateDependents() {
    m_minutes.box()->setEnabled(timeStampMinutesEnabled(m_page));
    m_deleteBytes->setEnabled(deleteBytesEnabled(m_page));
}

void CMiscDialog::setDefaults() {
    m_page.setDefaults();
    // The default shows every decoration again, at once, as the switches themselves do.
    previewDecorations();
}

void CMiscDialog::previewDecorations() {
    if (m_preview.titleBar)
        m_preview.titleBar(m_page.HideTitleBar != 0);
    if (m_preview.menuBar)
        m_preview.menuBar(m_page.HideMenuBar != 0);
    if (m_preview.frame)
        m_preview.frame(m_page.HideFrame != 0);
    if (m_preview.cursor)
        m_preview.cursor(m_page.HideCursor != 0);
}

void CMiscDialog::registerTips() {
    addTip(m_log, 33088);
    addTip(m_hideTitleBar, 33089);
    addTip(m_hideMenuBar, 33090);
    addTip(m_hideFrame, 33091);
    addTip(m_hideCursor, 33092);
    addTip(m_clipboardRelay, 33093);
    addTip(m_timeStamp, 33094);
    addTip(m_minutes.box(), 33095);
    addTip(m_deleteHandle, 33096);
    addTip(m_deleteBytes, 33097);
    addTip(m_useTermApi, 33098);
    addTip(m_extCommands, 33099);
    addTip(m_noWrap, 33100);
}

} // namespace skiro
