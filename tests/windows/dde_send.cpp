// A DDE client for the tests and figures of the Windows build: opens a conversation with a
// display's service and topic through the DDE management library and sends each argument as
// one execute request, reporting whether the display acknowledged it.
//   dde_send [--service NAME] [--topic TOPIC] [--ansi] [--repeat N] REQUEST...
// With --repeat, the requests are sent N times and the rate is printed as "lines per second".
// Exit status: 0 when every request was acknowledged, 1 when the conversation did not open or
// a request was not acknowledged, 2 for a usage error.
#include <windows.h>

#include <ddeml.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

HDDEDATA CALLBACK ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

std::wstring wide(const char* utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
    text.resize(std::wcslen(text.c_str()));
    return text;
}

} // namespace

int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(n), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg.data(), n, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    std::wstring service = L"skiro";
    std::wstring topic = L"Command";
    bool ansi = false;
    long repeat = 1;
    std::vector<std::wstring> requests;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--service" && i + 1 < args.size())
            service = wide(args[++i].c_str());
        else if (args[i] == "--topic" && i + 1 < args.size())
            topic = wide(args[++i].c_str());
        else if (args[i] == "--ansi")
            ansi = true;
        else if (args[i] == "--repeat" && i + 1 < args.size())
            repeat = std::strtol(args[++i].c_str(), nullptr, 10);
        else if (args[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "dde_send: unknown option %s\n", args[i].c_str());
            return 2;
        } else
            requests.push_back(wide(args[i].c_str()));
    }
    DWORD instance = 0;
    const UINT flags = APPCMD_CLIENTONLY;
    if ((ansi ? ::DdeInitializeA(&instance, ignore, flags, 0)
              : ::DdeInitializeW(&instance, ignore, flags, 0)) != DMLERR_NO_ERROR) {
        std::fprintf(stderr, "dde_send: the DDE library did not start\n");
        return 1;
    }
    HSZ serviceName = ::DdeCreateStringHandleW(instance, service.c_str(), CP_WINUNICODE);
    HSZ topicName = ::DdeCreateStringHandleW(instance, topic.c_str(), CP_WINUNICODE);
    HCONV conversation = ::DdeConnect(instance, serviceName, topicName, nullptr);
    if (!conversation) {
        std::fprintf(stderr, "dde_send: no conversation (error 0x%x)\n",
                     ::DdeGetLastError(instance));
        ::DdeUninitialize(instance);
        return 1;
    }
    int status = 0;
    long sent = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long round = 0; round < repeat && status == 0; ++round) {
        for (const std::wstring& request : requests) {
            DWORD result = 0;
            HDDEDATA ok;
            if (ansi) {
                // The command in the system's code page, as an ANSI program sends it.
                const int n = ::WideCharToMultiByte(CP_ACP, 0, request.c_str(), -1, nullptr, 0,
                                                    nullptr, nullptr);
                std::string bytes(static_cast<std::size_t>(n), '\0');
                ::WideCharToMultiByte(CP_ACP, 0, request.c_str(), -1, bytes.data(), n, nullptr,
                                      nullptr);
                ok = ::DdeClientTransaction(reinterpret_cast<LPBYTE>(bytes.data()),
                                            static_cast<DWORD>(bytes.size()), conversation, nullptr,
                                            0, XTYP_EXECUTE, 10000, &result);
            } else {
                ok = ::DdeClientTransaction(
                    reinterpret_cast<LPBYTE>(const_cast<wchar_t*>(request.c_str())),
                    static_cast<DWORD>((request.size() + 1) * sizeof(wchar_t)), conversation,
                    nullptr, 0, XTYP_EXECUTE, 10000, &result);
            }
            if (!ok || !(result & DDE_FACK)) {
                std::fprintf(stderr, "dde_send: request %ld not acknowledged (0x%lx, error 0x%x)\n",
                             sent + 1, result, ::DdeGetLastError(instance));
                status = 1;
                break;
            }
            ++sent;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (repeat > 1 && seconds > 0)
        std::printf("DDE lines per second: %.0f (%ld requests in %.2f s)\n", sent / seconds, sent,
                    seconds);
    ::DdeDisconnect(conversation);
    ::DdeFreeStringHandle(instance, serviceName);
    ::DdeFreeStringHandle(instance, topicName);
    ::DdeUninitialize(instance);
    return status;
}
