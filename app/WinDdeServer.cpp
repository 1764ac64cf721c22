#include "app/WinDdeServer.h"

#include <QPointer>
#include <QTimer>

#include <string>
#include <vector>

#include "core/FeedProtocol.h"
#include "sjis/Sjis.h"

namespace skiro {

namespace {

// The library calls back without a pointer of ours; one display has one server.
WinDdeServer* g_server = nullptr;

// A request longer than the local service takes is not taken here either.
constexpr DWORD kMaxRequestBytes = 2 * (feed::kMaxRequest + 1);

} // namespace

WinDdeServer::WinDdeServer(QString serviceName, Deliver deliver, QObject* parent)
    : QObject(parent), m_service(std::move(serviceName)), m_deliver(std::move(deliver)) {}

WinDdeServer::~WinDdeServer() {
    shutdown();
}

bool WinDdeServer::start() {
    if (m_instance)
        return true;
    if (g_server) {
        m_error = QStringLiteral("another DDE server runs in this process");
        return false;
    }
    // Requests other than connections and executes are failed by the library itself.
    const UINT result =
        ::DdeInitializeW(&m_instance, &WinDdeServer::callback,
                         APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_POKES | CBF_FAIL_REQUESTS |
                             CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                         0);
    if (result != DMLERR_NO_ERROR) {
        m_instance = 0;
        m_error =
            QStringLiteral("the DDE library refused to start (error 0x%1)").arg(result, 0, 16);
        return false;
    }
    g_server = this;
    m_serviceName = ::DdeCreateStringHandleW(
        m_instance, reinterpret_cast<LPCWSTR>(m_service.utf16()), CP_WINUNICODE);
    if (!m_serviceName || !::DdeNameService(m_instance, m_serviceName, nullptr, DNS_REGISTER)) {
        m_error = QStringLiteral("the DDE service %1 cannot be registered (error 0x%2)")
                      .arg(m_service)
                      .arg(::DdeGetLastError(m_instance), 0, 16);
        shutdown();
        return false;
    }
    return true;
}

void WinDdeServer::shutdown() {
    if (!m_instance)
        return;
    // Uninitialising ends every conversation: each client is told, and the library waits for
    // its answer within its own time limit, so a client that never answers cannot hold the
    // close up.
    if (m_serviceName) {
        ::DdeNameService(m_instance, m_serviceName, nullptr, DNS_UNREGISTER);
        ::DdeFreeStringHandle(m_instance, m_serviceName);
        m_serviceName = nullptr;
    }
    ::DdeUninitialize(m_instance);
    m_instance = 0;
    m_conversations = 0;
    if (g_server == this)
        g_server = nullptr;
}

QString WinDdeServer::nameOf(HSZ name) const {
    if (!name)
        return {};
    wchar_t text[256];
    const DWORD length = ::DdeQueryStringW(m_instance, name, text, 256, CP_WINUNICODE);
    return QString::fromWCharArray(text, static_cast<int>(length));
}

HDDEDATA CALLBACK WinDdeServer::callback(UINT type, UINT, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                         ULONG_PTR, ULONG_PTR) {
    WinDdeServer* server = g_server;
    if (!server)
        return nullptr;
    switch (type) {
    case XTYP_CONNECT:
        // Service and topic as the atom table holds them, compared exactly.
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(
            server->nameOf(hsz1) == QLatin1String(feed::kTopic.data(), feed::kTopic.size()) &&
            server->nameOf(hsz2) == server->m_service));
    case XTYP_WILDCONNECT:
        return nullptr; // wildcard requests are never answered
    case XTYP_CONNECT_CONFIRM:
        ++server->m_conversations;
        return nullptr;
    case XTYP_DISCONNECT:
        if (server->m_conversations > 0)
            --server->m_conversations;
        return nullptr;
    case XTYP_EXECUTE:
        server->execute(data);
        // Acknowledged, whatever the request says; it is carried out after this returns.
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
    default:
        return nullptr;
    }
}

void WinDdeServer::execute(HDDEDATA data) {
    const DWORD size = ::DdeGetData(data, nullptr, 0, 0);
    if (size == 0 || size > kMaxRequestBytes)
        return;
    // A Unicode server gets the command in UTF-16 from every client: the library converts what
    // an ANSI client sends from the system's code page.
    std::vector<wchar_t> units(size / sizeof(wchar_t) + 1, L'\0');
    ::DdeGetData(data, reinterpret_cast<LPBYTE>(units.data()), size, 0);
    std::size_t length = 0;
    while (length < units.size() && units[length] != L'\0')
        ++length;
    if (length == 0)
        return;
    const std::string request =
        toSjis(QString::fromWCharArray(units.data(), static_cast<int>(length)));
    // Carried out from the event loop, after the library has sent the acknowledgement.
    QTimer::singleShot(0, this, [this, request] {
        if (const auto argument = feed::sendArgument(request); argument && m_deliver)
            m_deliver(*argument);
        emit executed();
    });
}

} // namespace skiro
