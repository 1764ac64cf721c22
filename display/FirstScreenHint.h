#pragma once
#include <QStringList>
#include <QWidget>

#include "core/Settings.h"

namespace skiro {

// A few lines over the empty view on a new start, saying how to choose the port, how to start
// and where help is, in the view's own text colour over the view's own background. The view
// deletes it as soon as text arrives or a session starts. It draws only its text and takes no
// mouse or keyboard input, so the view under it works as usual.
class FirstScreenHint : public QWidget {
    Q_OBJECT
  public:
    FirstScreenHint(const Settings& settings, QWidget* view);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const Settings& m_settings;
    QStringList m_lines;
};

} // namespace skiro
