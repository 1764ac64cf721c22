#include <gtest/gtest.h>

#include <windows.h>

#include <ddeml.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/WinDdeServer.h"

// The real DDE server, with a DDE client of the management library on a thread of its own,
// as another program would be: the command syntax and the conversation rules.
namespace skiro {
namespace {

HDDEDATA CALLBACK ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

// Runs `client` on a thread with a DDE instance of its own while this thread's event loop
// serves the display's side.
template <class Client> void asClient(Client client) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        DWORD instance = 0;
        if (::DdeInitializeW(&instance, ignore, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR) {
            client(instance);
            ::DdeUninitialize(instance);
        }
        done = true;
    });
    const QDeadlineTimer deadline(30000);
    while (!done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    thread.join();
    // What the server runs after each acknowledgement.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

HCONV connect(DWORD instance, const wchar_t* service, const wchar_t* topic) {
    HSZ s = ::DdeCreateStringHandleW(instance, service, CP_WINUNICODE);
    HSZ t = ::DdeCreateStringHandleW(instance, topic, CP_WINUNICODE);
    HCONV conversation = ::DdeConnect(instance, s, t, nullptr);
    ::DdeFreeStringHandle(instance, s);
    ::DdeFreeStringHandle(instance, t);
    return conversation;
}

// Sends one execute request; true when the display acknowledged it positively.
bool execute(HCONV conversation, const std::wstring& request) {
    DWORD result = 0;
    const HDDEDATA ok =
        ::DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<wchar_t*>(request.c_str())),
                               static_cast<DWORD>((request.size() + 1) * sizeof(wchar_t)),
                               conversation, nullptr, 0, XTYP_EXECUTE, 10000, &result);
    return ok && (result & DDE_FACK);
}

class WinDde : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_server.start()) << qPrintable(m_server.error()); }
    std::vector<std::string> m_delivered;
    WinDdeServer m_server{QStringLiteral("skirotest"),
                          [this](std::string_view text) { m_delivered.emplace_back(text); }};
};

TEST_F(WinDde, SendRequestsAreAcknowledgedAndOnlySendIsCarriedOut) {
    const struct Case {
        const wchar_t* request;
        const char* delivered; // nullptr: nothing reaches the view
    } cases[] = {
        {L"[Send(abc)]", "abc"},
        {L"[Send(abc\r)]", "abc\r"},
        {L"[Send()]", ""},
        {L"[Send(a(b)c)]", "a(b)c"},
        {L"[Send(x)][Send(y)]", "x)][Send(y"},
        {L"[send(abc)]", nullptr},
        {L"[Send(abc)", nullptr},
        {L"Send(abc)", nullptr},
        {L"[(abc)]", nullptr},
        {L"[Send abc]", nullptr},
        {L"[Send(abc) ]", nullptr},
        {L"[Send(\u672c\u65e5\u306f)]", "\x96\x7B\x93\xFA\x82\xCD"},
    };
    std::vector<bool> acknowledged;
    asClient([&](DWORD instance) {
        HCONV conversation = connect(instance, L"skirotest", L"Command");
        if (!conversation)
            return;
        for (const Case& c : cases)
            acknowledged.push_back(execute(conversation, c.request));
        ::DdeDisconnect(conversation);
    });
    ASSERT_EQ(acknowledged.size(), std::size(cases)) << "the conversation did not open";
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(acknowledged[i]) << "every request is acknowledged, whatever it says";
        if (cases[i].delivered)
            expected.emplace_back(cases[i].delivered);
    }
    // Wine cuts a Unicode client's text short at its first character outside ASCII; Windows
    // passes it whole. What did arrive must still be exactly the rest, in order.
    if (m_delivered.size() + 1 == expected.size() &&
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        expected.pop_back();
    EXPECT_EQ(m_delivered, expected);
}

TEST_F(WinDde, OnlyTheServiceAndTheTopicCommandOpenAConversation) {
    bool wrongTopic = true;
    bool wrongService = true;
    bool right = false;
    asClient([&](DWORD instance) {
        HCONV c = connect(instance, L"skirotest", L"System");
        wrongTopic = c != nullptr;
        if (c)
            ::DdeDisconnect(c);
        c = connect(instance, L"skiroother", L"Command");
        wrongService = c != nullptr;
        if (c)
            ::DdeDisconnect(c);
        c = connect(instance, L"skirotest", L"Command");
        right = c != nullptr;
        if (c)
            ::DdeDisconnect(c);
    });
    EXPECT_FALSE(wrongTopic);
    EXPECT_FALSE(wrongService);
    EXPECT_TRUE(right);
}

TEST_F(WinDde, ShutdownEndsTheConversationsOfClientsThatStayConnected) {
    std::atomic<bool> connected{false};
    std::atomic<bool> ended{false};
    std::thread client([&] {
        DWORD instance = 0;
        if (::DdeInitializeW(&instance, ignore, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
            return;
        HCONV c = connect(instance, L"skirotest", L"Command");
        connected = c != nullptr;
        // The client keeps its conversation and pumps its messages until the display ends it.
        MSG msg;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (c && std::chrono::steady_clock::now() < until) {
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&msg);
            CONVINFO info{};
            info.cb = sizeof info;
            if (!::DdeQueryConvInfo(c, QID_SYNC, &info) || !(info.wStatus & ST_CONNECTED)) {
                ended = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::DdeUninitialize(instance);
    });
    const QDeadlineTimer deadline(20000);
    while (!connected && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(connected.load());
    m_server.shutdown();
    client.join();
    EXPECT_TRUE(ended.load());
}

} // namespace
} // namespace skiro

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
