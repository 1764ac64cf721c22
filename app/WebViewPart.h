#pragma once
#include <functional>
#include <memory>

class QWidget;

namespace skiro {

class CMarelDoc;
class CMarelView;
class Clock;
class WebService;
struct UiTexts;

// The audience web view as the application drives it. Whether the build has one is settled
// once, by CMake: where Qt HTTP Server and Qt WebSockets are at hand it compiles
// WebViewPart.cpp, elsewhere (Windows) NoWebViewPart.cpp, whose part leaves a [Web] section of
// the profile as it is and says so when its command is chosen.
class WebViewPart {
  public:
    struct Host {
        CMarelDoc& doc;
        const UiTexts& texts;
        const Clock& clock;
        QWidget* window;  // the parent of the dialog and the messages
        CMarelView* view; // whose lines the pages show; may be null
        std::function<void(int templateId)> help;
    };

    explicit WebViewPart(Host host);
    ~WebViewPart();
    WebViewPart(const WebViewPart&) = delete;
    WebViewPart& operator=(const WebViewPart&) = delete;

    // Starts, moves or stops the web view to match the settings; `forRun` keeps it on for this
    // run whatever they say, at `runPort` unless that is 0.
    void apply(bool forRun, int runPort);
    // The web view's dialog, showing the web view as it runs now; true when OK made what it
    // holds the setting.
    bool showDialog(bool forRun, int runPort);
    // The writing direction of the view changed.
    void directionChanged();
    // The end of the run: the web view goes, and no viewer is told anything more.
    void stop();
    // The running web view; nullptr when it is off or the build has none.
    WebService* service() const;

  private:
    struct Parts;
    Host m_host;
    std::unique_ptr<Parts> m_parts;
};

} // namespace skiro
