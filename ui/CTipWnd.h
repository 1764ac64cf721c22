#pragma once
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QDialog;

namespace skiro {

class Clock;
class StringTable;

// Where the mouse cursor is and how tall its image is; the program asks the window system,
// tests stand in their own so that the sampler can be driven without a real pointer.
class TipCursor {
  public:
    virtual ~TipCursor() = default;
    // Screen position of the hot spot, or nothing when it cannot be read.
    virtual std::optional<QPoint> position() const = 0;
    // Height of the cursor image and the hot spot's distance from its top, in screen pixels.
    virtual int height() const = 0;
    virtual int hotSpotY() const = 0;
};

// The hover help of a settings dialog: a small bordered box with a few lines of help that
// appears just below the resting mouse cursor and goes when the mouse moves or after a time
// that grows with the text. The cursor is sampled on a timer rather than followed through mouse
// events, so disabled controls explain themselves too. The box never takes the focus from the
// dialog.
class CTipWnd : public QWidget {
    Q_OBJECT
  public:
    explicit CTipWnd(const StringTable& strings, QWidget* parent = nullptr);
    ~CTipWnd() override;

    // Once per dialog, before the tips are added: the box belongs to the dialog and draws with
    // its font; the times are in milliseconds (250, 5000 and 200 in every dialog).
    void start(QDialog* dialog, unsigned initialDelay, unsigned displayTime, unsigned perByte);
    // Registers a control with the help text of that string; a missing string adds nothing.
    // Where rectangles overlap, the control registered first wins.
    void addTip(QWidget* control, int stringId);

    // Stand-ins for the clock and the cursor; they must outlive this window.
    void setClock(const Clock* clock);
    void setCursorSource(const TipCursor* cursor);

    // One look at the cursor; the timer calls it every 100 ms.
    void sample();

    // The control whose tip is shown, or would be shown once the cursor has rested.
    QWidget* currentControl() const;
    QString currentText() const;
    // Size of the box for a text: its lines, a one-pixel margin and the border.
    QSize boxSize(const QString& text) const;

    static constexpr int kSampleInterval = 100; // ms

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Tool {
        QPointer<QWidget> control;
        QString text;
        std::uint32_t extraTime = 0; // perByte for every byte of the Shift-JIS text
    };

    // Whether the dialog is the window the user works in, and the one seen at pos.
    bool ownerInFront(const QPoint& pos) const;
    const Tool* toolAt(const QPoint& pos) const;
    QString textOf(const Tool& tool) const;
    void showTip(const QPoint& cursorPos);
    QSize measure(const QString& text, QPainter* painter) const;

    const StringTable& m_strings;
    const Clock* m_clock;
    const TipCursor* m_cursor;
    QPointer<QDialog> m_owner;
    std::uint32_t m_restSince = 0;
    std::vector<Tool> m_tools;
    QTimer m_timer;
    QPoint m_last{0, 0};
    std::optional<std::size_t> m_current;
    std::uint32_t m_initialDelay = 250;
    std::uint32_t m_hideAfter = 250 + 5000;
    std::uint32_t m_perByte = 200;
};

} // namespace skiro
