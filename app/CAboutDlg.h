#pragma once
#include <QDialog>

#include "app/UiTexts.h"

namespace skiro {

// The version dialog: the program's name and version 2.2. It has a close button only, and is
// wide enough for its whole title.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 100;
    CAboutDlg(const UiTexts& texts, QWidget* parent);
    // The least width at which the window manager shows the whole title.
    static int titleRoom(const QString& title);
};

} // namespace skiro
