#pragma once
#include <QLabel>
#include <QPointer>

// The small mark in the view's top-right corner that says the serial link waits for its
// device to come back. It lies over the view without covering more of the captions than its
// own few characters (the corner where old text leaves), lets the mouse through to the view,
// and follows the view when the window changes size.
namespace skiro {

class LinkMark final : public QLabel {
    Q_OBJECT
  public:
    // Lies over `view`, a child of `frame`; hidden until shown.
    LinkMark(const QString& text, QWidget* view, QWidget* frame);

    // Shows or hides the mark; `device` goes into its tip.
    void showWaiting(bool waiting, const QString& device);
    // A second mark goes below the first (row 1), so that both can be read at once.
    void setRow(int row) { m_row = row; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void place();

    QPointer<QWidget> m_view;
    int m_row = 0;
};

} // namespace skiro
