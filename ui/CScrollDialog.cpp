#include "ui/CScrollDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>

#include "core/SettingsDialogs.h"

namespace skiro {

CScrollDialog::CScrollDialog(const StringTable& strings, HelpHook help, QWidget* parent)
    : SettingsDialog(kTemplateId, QStringLiteral("ｽｸﾛｰﾙ"), 154, 244, strings, std::move(help),
                     parent) {
    setObjectName(QStringLiteral("CScrollDialog"));
    QGroupBox* tickGroup = m_tickGroup = addGroup(QStringLiteral("ｽｸﾛｰﾙ間隔(&S)"), 10, 5, 90, 25);
    m_tick = addList(tickGroup, IDS_LIST_TICK, 20, 15, 45);
    addStatic(tickGroup, QStringLiteral("ﾐﾘ秒"), 70, 15, 25, 10);

    QGroupBox* stepGroup = m_stepGroup = addGroup(QStringLiteral("ｽｸﾛｰﾙﾗｲﾝ数(&L)"), 10, 35, 90, 25);
    m_step = addList(stepGroup, IDS_LIST_STEP, 20, 45, 45);
    addStatic(stepGroup, QStringLiteral("ﾗｲﾝ"), 70, 45, 25, 10);

    QGroupBox* timerGroup = m_timerGroup = addGroup(QStringLiteral("ﾀｲﾏｰ(&T)"), 10, 65, 140, 35);
    m_timer = {
        addRadio(timerGroup, QStringLiteral("SetTimerを使う (安全)"), 20, 75, 125, 10),
        addRadio(timerGroup, QStringLiteral("ﾏﾙﾁﾒﾃﾞｨｱTimerを使う (高精度)"), 20, 85, 125, 10)};

    QGroupBox* directionGroup = m_directionGroup =
        addGroup(QStringLiteral("ｽｸﾛｰﾙ方向(&R)"), 10, 105, 140, 35);
    m_direction = {
        addRadio(directionGroup, QStringLiteral("上ｽｸﾛｰﾙ (横書き表示)"), 20, 115, 125, 10),
        addRadio(directionGroup, QStringLiteral("右ｽｸﾛｰﾙ (縦書き表示)"), 20, 125, 125, 10)};

    QGroupBox* speedUpGroup = m_speedUpGroup =
        addGroup(QStringLiteral("加速(&U)"), 10, 145, 140, 30);
    m_speedUp = addCheck(speedUpGroup, QStringLiteral("する"), 20, 155, 30, 10);
    m_speedUpDelay = addList(speedUpGroup, IDS_LIST_SPEED_UP_DELAY, 50, 153, 45);
    addStatic(speedUpGroup, QStringLiteral("ﾐﾘ秒後から"), 100, 155, 43, 8);

    QGroupBox* interlineGroup = m_interlineGroup =
        addGroup(QStringLiteral("行間空き(&N)"), 10, 180, 140, 30);
    m_interline = addCheck(interlineGroup, QStringLiteral("する"), 20, 190, 30, 10);
    addStatic(interlineGroup, QStringLiteral("文字高さの"), 55, 190, 45, 8);
    m_interlineSpace = addList(interlineGroup, IDS_LIST_INTERLINE_SPACE, 100, 188, 30);
    addStatic(interlineGroup, QStringLiteral("%"), 135, 190, 13, 8);

    // The motion of this program's own: gliding at the display's refresh, and keeping up.
    m_smooth = addCheck(this, QStringLiteral("滑らかに動かす(&M)"), 10, 215, 140, 10);
    m_keepUp = addCheck(this, QStringLiteral("入力に追いつく(&K)"), 20, 228, 120, 10);

    addButtons({{105, 5}, {105, 20}, {105, 35}, {105, 50}}, 45, 13);

    connect(m_smooth, &QCheckBox::clicked, this, &CScrollDialog::switchClicked);
    connect(m_keepUp, &QCheckBox::clicked, this, &CScrollDialog::switchClicked);
    connect(m_speedUp, &QCheckBox::clicked, this, &CScrollDialog::switchClicked);
    connect(m_interline, &QCheckBox::clicked, this, &CScrollDialog::switchClicked);
}

void CScrollDialog::fieldsToControls() {
    m_tick.show(m_page.Tick);
    m_step.show(m_page.Step);
    setRadioIndex(m_timer, m_page.TimerMethod);
    setRadioIndex(m_direction, m_page.Direction);
    m_speedUp->setChecked(m_page.SpeedUp != 0);
    m_speedUpDelay.show(m_page.SpeedUpDelay);
    m_interline->setChecked(m_page.Interline != 0);
    m_interlineSpace.show(m_page.InterlineSpace);
    m_smooth->setChecked(m_page.Smooth != 0);
    m_keepUp->setChecked(m_page.KeepUp != 0);
}

bool CScrollDialog::controlsToFields() {
    m_page.Tick = m_tick.take(m_page.Tick);
    m_page.Step = m_step.take(m_page.Step);
    m_page.TimerMethod = takeRadio(m_timer, m_page.TimerMethod);
    m_page.Direction = takeRadio(m_direction, m_page.Direction);
    m_page.SpeedUp = m_speedUp->isChecked() ? 1 : 0;
    m_page.SpeedUpDelay = m_speedUpDelay.take(m_page.SpeedUpDelay);
    m_page.Interline = m_interline->isChecked() ? 1 : 0;
    m_page.InterlineSpace = m_interlineSpace.take(m_page.InterlineSpace);
    m_page.Smooth = m_smooth->isChecked() ? 1 : 0;
    m_page.KeepUp = m_keepUp->isChecked() ? 1 : 0;
    return true;
}

void CScrollDialog::updateDependents() {
    m_speedUp->setEnabled(speedUpEnabled(m_page));
    m_speedUpDelay.box()->setEnabled(speedUpDelayEnabled(m_page));
    m_keepUp->setEnabled(keepUpEnabled(m_page));
    for (QRadioButton* button : m_timer)
        button->setEnabled(timerMethodEnabled(m_page));
    m_interlineSpace.box()->setEnabled(interlineSpaceEnabled(m_page));
}

void CScrollDialog::setDefaults() {
    m_page.setDefaults();
}

void CScrollDialog::registerTips() {
    // The timer and direction buttons, the switches and their lists come before their group
    // boxes, so they explain themselves; the first two lists show their group's help.
    addTip(m_tickGroup, 33056);
    addTip(m_stepGroup, 33057);
    addTip(m_timer[0], 33059);
    addTip(m_timer[1], 33060);
    addTip(m_timerGroup, 33058);
    addTip(m_direction[0], 33062);
    addTip(m_direction[1], 33063);
    addTip(m_directionGroup, 33061);
    addTip(m_speedUpDelay.box(), 33066);
    addTip(m_speedUp, 33065);
    addTip(m_speedUpGroup, 33064);
    addTip(m_interlineSpace.box(), 33069);
    addTip(m_interline, 33068);
    addTip(m_interlineGroup, 33067);
    addTip(m_smooth, 33070);
    addTip(m_keepUp, 33071);
}

void CScrollDialog::switchClicked() {
    if (!controlsToFields())
        return;
    updateDependents();
    fieldsToControls();
}

} // namespace skiro
