#include <windows.h>

#include <sddl.h>

#include "feed/FeedPlace.h"
#include "feed/WinFeedPlace.h"

namespace skiro {

namespace {

// The user behind a process, as a token's user record; empty when it cannot be read.
std::vector<BYTE> tokenUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size))
        user.clear();
    ::CloseHandle(token);
    return user;
}

PSID sidOf(std::vector<BYTE>& user) {
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

} // namespace

QString currentUserSid() {
    std::vector<BYTE> user = tokenUser(::GetCurrentProcess());
    wchar_t* text = nullptr;
    if (!sidOf(user) || !::ConvertSidToStringSidW(sidOf(user), &text))
        return {};
    const QString sid = QString::fromWCharArray(text);
    ::LocalFree(text);
    return sid;
}

bool pipePeerIsThisUser(qintptr pipe, bool otherIsServer) {
    ULONG pid = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(pipe);
    const BOOL known = otherIsServer ? ::GetNamedPipeServerProcessId(handle, &pid)
                                     : ::GetNamedPipeClientProcessId(handle, &pid);
    if (!known || pid == 0)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    std::vector<BYTE> theirs = tokenUser(process);
    ::CloseHandle(process);
    std::vector<BYTE> ours = tokenUser(::GetCurrentProcess());
    return sidOf(theirs) && sidOf(ours) && ::EqualSid(sidOf(theirs), sidOf(ours));
}

bool claimService(const QString& pipeName, void*& claim) {
    releaseServiceClaim(claim);
    // Mutex names may not hold a backslash; the pipe's name has none.
    const std::wstring name = (QStringLiteral("Local\\") + pipeName).toStdWString();
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex)
        return false;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    claim = mutex;
    return true;
}

void releaseServiceClaim(void*& claim) {
    if (claim) {
        ::CloseHandle(static_cast<HANDLE>(claim));
        claim = nullptr;
    }
}

bool isServiceName(const QString& service) {
    return !service.isEmpty() && !service.contains(QLatin1Char('/')) &&
           !service.contains(QLatin1Char('\\')) && service != QLatin1String(".") &&
           service != QLatin1String("..") && service.size() <= 200;
}

FeedPlace feedPlace(const QString& service, bool) {
    // Pipe names are one namespace for the whole machine: the user's identifier keeps each
    // user's displays apart, and only that user may open the pipe.
    FeedPlace place;
    if (!isServiceName(service)) {
        place.error = QStringLiteral("\"%1\" cannot name a service").arg(service);
        return place;
    }
    const QString sid = currentUserSid();
    if (sid.isEmpty()) {
        place.error = QStringLiteral("this user's security identifier cannot be read");
        return place;
    }
    place.socket = QStringLiteral("skiro-%1-%2").arg(sid, service);
    return place;
}

} // namespace skiro
