#pragma once
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

// What the dialog tests use to drive a dialog as a user would: its controls by name, and the
// message boxes it may show answered as they come.
namespace skiro::test {

template <typename T> T* control(QWidget& dialog, const char* name) {
    T* found = dialog.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Answers the next message box, if one comes, and tells its text: OK, or its Cancel button.
class MessageCatcher {
  public:
    explicit MessageCatcher(bool cancel = false) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, cancel] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_text = box->text();
                if (cancel && box->button(QMessageBox::Cancel))
                    box->button(QMessageBox::Cancel)->click();
                else
                    box->accept();
            }
        });
        m_timer.start(10);
    }
    QString text() const { return m_text; }

  private:
    QTimer m_timer;
    QString m_text;
};

} // namespace skiro::test
