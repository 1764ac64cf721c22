#include "app/WinTermLink.h"

#include <QCoreApplication>
#include <QWidget>

#include <cstring>
#include <string>

namespace skiro {

namespace {

constexpr wchar_t kTermClass[] = L"HideTermFrameClass";
// A 秀Term that does not answer within this time is taken as not running, so that a hung
// terminal program cannot hang the display.
constexpr UINT kAnswerWithinMs = 5000;

bool isTermWindow(HWND window) {
    wchar_t name[256];
    return window && ::IsWindow(window) && ::GetClassNameW(window, name, 256) > 0 &&
           std::wcscmp(name, kTermClass) == 0;
}

} // namespace

WinTermLink::WinTermLink(QWidget* frame, Deliver deliver)
    : m_frame(frame), m_deliver(std::move(deliver)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WinTermLink::~WinTermLink() {
    unlink();
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

HWND WinTermLink::frameWindow() const {
    return reinterpret_cast<HWND>(m_frame->winId());
}

bool WinTermLink::link() {
    if (isTermWindow(m_term))
        return true;
    m_term = ::FindWindowW(kTermClass, nullptr);
    if (!m_term)
        return false;
    DWORD_PTR accepted = 0;
    if (!::SendMessageTimeoutW(m_term, kRegister, reinterpret_cast<WPARAM>(frameWindow()), 0,
                               SMTO_ABORTIFHUNG, kAnswerWithinMs, &accepted) ||
        accepted == 0) {
        m_term = nullptr;
        return false;
    }
    return true;
}

void WinTermLink::unlink() {
    if (m_term && ::IsWindow(m_term)) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(m_term, kUnregister, reinterpret_cast<WPARAM>(frameWindow()), 0,
                              SMTO_ABORTIFHUNG, kAnswerWithinMs, &ignored);
    }
    m_term = nullptr;
}

bool WinTermLink::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) {
    if (eventType != "windows_generic_MSG")
        return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != kData || msg->hwnd != frameWindow())
        return false;
    // Without a link the message is not 秀Term's to us: its handle is left alone, as it could
    // be any value, one of the program's own handles included.
    if (m_term && ::IsWindow(m_term))
        receive(reinterpret_cast<HANDLE>(msg->wParam));
    if (result)
        *result = 0;
    return true;
}

void WinTermLink::receive(HANDLE mapping) {
    const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view)
        return; // no mapping behind the handle: it is not closed either
    // The text ends at its NUL, or at the end of the mapping when it has none.
    MEMORY_BASIC_INFORMATION region{};
    const std::size_t size = ::VirtualQuery(view, &region, sizeof region) ? region.RegionSize : 0;
    const char* text = static_cast<const char*>(view);
    const std::string copy(text, strnlen(text, size));
    ::UnmapViewOfFile(view);
    ::CloseHandle(mapping);
    if (!copy.empty() && m_deliver)
        m_deliver(copy);
}

} // namespace skiro
