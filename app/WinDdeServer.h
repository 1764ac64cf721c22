#pragma once
#include <windows.h>

#include <ddeml.h>

#include <QObject>
#include <QString>

#include <functional>
#include <string_view>

// The display's DDE server on Windows, through the system's DDE management library: the
// service named after the executable, the topic "Command", and execute requests of the form
// "[Send(text)]" whose text goes on to intake as if it had arrived on the serial line. Each
// request is acknowledged before it is carried out; wildcard connections, other topics and
// every other transaction go unanswered. Runs on the user-interface thread, whose message loop
// brings the requests.
namespace skiro {

class WinDdeServer : public QObject {
    Q_OBJECT
  public:
    // `deliver` gets the argument of each "Send" request in Shift-JIS.
    using Deliver = std::function<void(std::string_view sjisText)>;

    WinDdeServer(QString serviceName, Deliver deliver, QObject* parent = nullptr);
    ~WinDdeServer() override;

    // Registers the service; false (and error() says why) when the system refuses it.
    bool start();
    // Ends every conversation and withdraws the service.
    void shutdown();
    const QString& error() const { return m_error; }
    int conversations() const { return m_conversations; }

  signals:
    // A request was carried out (or found no "Send" in it); for tests and figures.
    void executed();

  private:
    static HDDEDATA CALLBACK callback(UINT type, UINT format, HCONV conversation, HSZ hsz1,
                                      HSZ hsz2, HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    QString nameOf(HSZ name) const;
    void execute(HDDEDATA data);

    QString m_service;
    Deliver m_deliver;
    QString m_error;
    DWORD m_instance = 0;
    HSZ m_serviceName = nullptr;
    int m_conversations = 0;
};

} // namespace skiro
