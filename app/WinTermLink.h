#pragma once
#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>

#include <functional>
#include <string_view>

class QWidget;

// The link with the terminal program 秀Term on Windows: the frame registers its window with
// 秀Term (window class "HideTermFrameClass"), which then hands over what it receives as
// Shift-JIS text in a file mapping announced by a message to that window. The text goes on to
// intake as if it had arrived on the serial line.
namespace skiro {

class WinTermLink : public QAbstractNativeEventFilter {
  public:
    // 秀Term's window messages.
    static constexpr UINT kRegister = WM_USER + 73;
    static constexpr UINT kUnregister = WM_USER + 4;
    static constexpr UINT kData = WM_USER + 5;

    using Deliver = std::function<void(std::string_view sjisText)>;

    // Watches the messages of `frame`'s window from now on.
    WinTermLink(QWidget* frame, Deliver deliver);
    ~WinTermLink() override;
    WinTermLink(const WinTermLink&) = delete;
    WinTermLink& operator=(const WinTermLink&) = delete;

    // Registers with the running 秀Term; true when it accepted (or the link stands already).
    bool link();
    // Tells 秀Term that the display no longer listens, if it still runs.
    void unlink();
    bool linked() const { return m_term != nullptr; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    HWND frameWindow() const;
    void receive(HANDLE mapping);

    QWidget* m_frame;
    Deliver m_deliver;
    HWND m_term = nullptr;
};

} // namespace skiro
