#pragma once
#include <QDialog>

#include "app/UiTexts.h"

namespace skiro {

// The version dialog: the program's name and version 2.2.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 100;
    CAboutDlg(const UiTexts& texts, QWidget* parent);
};

} // namespace skiro
