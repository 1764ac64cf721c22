#pragma once
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QObject;
class QWidget;

// What the application does in each system's own way; PosixAppSystem.cpp and WinAppSystem.cpp
// answer, and CMake compiles the one of the system built for.
namespace skiro {

// A path as the logic's file calls take it: UTF-8 on Windows, whose wide-character calls then
// reach a folder of any name, the file system's own encoding elsewhere.
std::string pathBytes(const QString& path);

// Whether files can be made in `folder`.
bool canWriteIn(const QString& folder);

// Makes the end of a run from outside close the window as its close box does, so that the
// settings and the stop stamp are written: on POSIX the signals SIGTERM, SIGINT and SIGHUP, on
// Windows the end of the user's session (log-off, shutdown). What it sets up is `owner`'s and
// goes with it.
void closeOnTermination(QObject* owner, std::function<void()> close);

// Raises the process's limits where the system keeps them low: every viewer of the web view,
// every feed client and every log write holds a file descriptor.
void raiseDescriptorLimit();

// The ways of handing text to the display that a system has of its own, beside the Send
// service: on Windows the DDE service under the executable's name and the link with 秀Term.
// Elsewhere there are none, and 秀Term never links.
class SystemInlets {
  public:
    using Deliver = std::function<void(std::string_view sjisText)>;

    // Starts the inlets for `frame`'s window; a service that stays off says why on stderr.
    SystemInlets(const QString& serviceName, QWidget* frame, Deliver deliver);
    ~SystemInlets();
    SystemInlets(const SystemInlets&) = delete;
    SystemInlets& operator=(const SystemInlets&) = delete;

    // The end of the run: each conversation is ended.
    void shutdown();
    // Links with 秀Term; false when it did not come up.
    bool linkTerm();
    void unlinkTerm();

  private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

} // namespace skiro
