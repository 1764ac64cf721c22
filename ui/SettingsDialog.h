#pragma once
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "core/StringTable.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace skiro {

class CTipWnd;

// Identifiers of the four buttons every settings dialog carries.
enum DialogButtonId : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDC_DEFAULT = 1000,
    ID_DIALOG_HELP = 57669,
};

// A drop-down list that cannot be typed into, filled from one string of the string table. It
// shows a page's text by the first item that begins with it and gives back the chosen item.
class DialogList {
  public:
    DialogList() = default;
    DialogList(QComboBox* box, std::vector<std::string> items)
        : m_box(box), m_items(std::move(items)) {}
    QComboBox* box() const { return m_box; }
    void show(const std::string& text) const;
    // The chosen item's text, or `current` when nothing is chosen.
    std::string take(std::string current) const;

  private:
    QComboBox* m_box = nullptr;
    std::vector<std::string> m_items;
};

// The common frame of the settings dialogs: the dialog font and its dialog units, the four
// buttons (OK, ﾃﾞﾌｫﾙﾄ, ｷｬﾝｾﾙ, ﾍﾙﾌﾟ), help by F1 and the ﾍﾙﾌﾟ button, and the sequence of
// initialisation, OK, Cancel and Default. Each dialog holds its page record as its fields; the
// opener fills the page before running the dialog and reads it after OK.
class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    // Opens the help topic of a dialog template; without it the ﾍﾙﾌﾟ button is not shown.
    using HelpHook = std::function<void(int templateId)>;

    int templateId() const { return m_templateId; }
    CTipWnd* tipWindow() const { return m_tips; }
    QPushButton* button(int id) const;
    // Pixels of a rectangle given in dialog units (a quarter of the dialog font's average
    // character width across, an eighth of its height down).
    QRect dialogRect(int x, int y, int width, int height) const;

    void accept() override;

  protected:
    SettingsDialog(int templateId, const QString& title, int widthUnits, int heightUnits,
                   const StringTable& strings, HelpHook help, QWidget* parent);

    // The page into the controls, and back; false when a control holds something the page
    // cannot take.
    virtual void fieldsToControls() = 0;
    virtual bool controlsToFields() = 0;
    // The enabled state of the controls that depend on a switch, from the page.
    virtual void updateDependents() = 0;
    virtual void setDefaults() = 0;
    // Checks made at OK after the transfer; false keeps the dialog open.
    virtual bool fieldsAcceptable() { return true; }
    // Registers the dialog's own controls with the hover help, in the order in which their
    // rectangles are tried; the four buttons follow.
    virtual void registerTips() = 0;
    void addTip(QWidget* control, int stringId);
    // Help on a dialog of the program or a chooser it opens, by its dialog number.
    bool hasHelp() const { return static_cast<bool>(m_help); }
    void openHelp(int dialogId) const;

    // Controls placed in dialog units. A control given a group box as parent lies inside it
    // (positions stay in the dialog's units), so that the group's mnemonic focuses it. Radio
    // buttons with the same parent form one group, which the keyboard treats as one control:
    // Tab and the group's mnemonic land on the checked button, and the arrow keys move round
    // the group checking the button they land on.
    QGroupBox* addGroup(const QString& title, int x, int y, int w, int h);
    QRadioButton* addRadio(QWidget* parent, const QString& text, int x, int y, int w, int h);
    QCheckBox* addCheck(QWidget* parent, const QString& text, int x, int y, int w, int h);
    QLabel* addStatic(QWidget* parent, const QString& text, int x, int y, int w, int h);
    QLineEdit* addEdit(QWidget* parent, int x, int y, int w, int h);
    DialogList addList(QWidget* parent, int stringId, int x, int y, int w);
    // The four buttons at their places, in the order OK, ﾃﾞﾌｫﾙﾄ, ｷｬﾝｾﾙ, ﾍﾙﾌﾟ.
    void addButtons(const QPoint (&places)[4], int w, int h);

    // The selected button of a group, -1 for none; and selecting one (or none, for -1).
    static int radioIndex(const std::vector<QRadioButton*>& group);
    // What the page takes back from a group: with none selected (a value the dialog does not
    // offer, only from an edited profile) the page keeps `current`.
    static int takeRadio(const std::vector<QRadioButton*>& group, int current);
    static void setRadioIndex(const std::vector<QRadioButton*>& group, int index);

    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    const StringTable& m_strings;

  private:
    void place(QWidget* widget, int x, int y, int w, int h);
    // The group a radio button belongs to, or null.
    const std::vector<QRadioButton*>* radioGroupOf(const QObject* radio) const;
    // Only the checked button of a group (the first, when none is) is a stop for Tab.
    static void setTabStop(const std::vector<QRadioButton*>& group);
    // Moves radio buttons that stand side by side apart where a text would run into the next.
    void spaceRadioRows();
    void initialise();
    void onDefault();

    int m_templateId;
    HelpHook m_help;
    QFont m_font;
    int m_baseX = 0;
    int m_baseY = 0;
    bool m_initialised = false;
    QPushButton* m_buttons[4] = {};
    std::vector<std::vector<QRadioButton*>> m_radioGroups;
    CTipWnd* m_tips = nullptr;
};

} // namespace skiro
