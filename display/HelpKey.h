#pragma once
#include <QObject>
#include <functional>

class QWidget;

namespace skiro {

// F1 in a dialog asks for its help topic. The key reaches the dialog after the focused control
// has passed it on, so it works whatever control has the focus, and whether or not the window
// system has made the dialog the active window yet. Lives as long as the dialog.
class HelpKey : public QObject {
  public:
    HelpKey(QWidget& dialog, std::function<void()> help);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void()> m_help;
};

} // namespace skiro
