#include <gtest/gtest.h>

#include <windows.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QWidget>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/WinTermLink.h"

// The 秀Term link against a stand-in for 秀Term: a window of its class on a thread of its own
// that accepts the registration and hands text over in file mappings, as 秀Term does.
namespace skiro {
namespace {

std::atomic<HWND> g_registered{nullptr};
std::atomic<int> g_unregistered{0};

LRESULT CALLBACK termProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WinTermLink::kRegister) {
        g_registered = reinterpret_cast<HWND>(wParam);
        return 1;
    }
    if (message == WinTermLink::kUnregister) {
        ++g_unregistered;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

class StandInTerm {
  public:
    StandInTerm() {
        m_thread = std::thread([this] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = termProc;
            windowClass.hInstance = ::GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"HideTermFrameClass";
            ::RegisterClassW(&windowClass);
            m_window =
                ::CreateWindowW(L"HideTermFrameClass", L"stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                100, nullptr, nullptr, windowClass.hInstance, nullptr);
            m_threadId = ::GetCurrentThreadId();
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
                ::DispatchMessageW(&msg);
            ::DestroyWindow(m_window);
        });
        while (!m_threadId)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~StandInTerm() {
        ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    // Hands `text` to `frame` as 秀Term does: a fresh mapping holding it, NUL-terminated.
    static HANDLE send(HWND frame, const std::string& text) {
        HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              static_cast<DWORD>(text.size() + 1), nullptr);
        void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
        std::memcpy(view, text.c_str(), text.size() + 1);
        ::UnmapViewOfFile(view);
        ::PostMessageW(frame, WinTermLink::kData, reinterpret_cast<WPARAM>(mapping), 0);
        return mapping;
    }

  private:
    std::thread m_thread;
    HWND m_window = nullptr;
    std::atomic<DWORD> m_threadId{0};
};

template <class Condition> bool waitFor(Condition condition) {
    const QDeadlineTimer deadline(10000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

TEST(WinTermLink, TextFromTermReachesIntakeOnlyWhileLinked) {
    QWidget frame;
    frame.show();
    const HWND frameWindow = reinterpret_cast<HWND>(frame.winId());
    std::vector<std::string> delivered;
    WinTermLink link(&frame, [&](std::string_view text) { delivered.emplace_back(text); });

    EXPECT_FALSE(link.link()) << "no 秀Term runs yet";

    StandInTerm term;
    ASSERT_TRUE(link.link());
    EXPECT_EQ(g_registered.load(), frameWindow);
    EXPECT_TRUE(link.link()) << "a standing link is kept without a second registration";

    // "秀Termからの行" and a second line, in Shift-JIS.
    const std::string first = "\x8F\x47Term\x82\xA9\x82\xE7\x82\xCC\x8D\x73\r";
    StandInTerm::send(frameWindow, first);
    StandInTerm::send(frameWindow, "second\r");
    ASSERT_TRUE(waitFor([&] { return delivered.size() == 2; }));
    EXPECT_EQ(delivered[0], first);
    EXPECT_EQ(delivered[1], "second\r");

    link.unlink();
    EXPECT_EQ(g_unregistered.load(), 1);
    // Without a link the message is ignored and its handle left alone.
    const HANDLE stray = StandInTerm::send(frameWindow, "stray\r");
    QDeadlineTimer settle(300);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(delivered.size(), 2u);
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(stray, &flags));
    ::CloseHandle(stray);
}

} // namespace
} // namespace skiro

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
