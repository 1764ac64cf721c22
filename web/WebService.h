#pragma once
#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "core/Colour.h"
#include "core/LineObserver.h"
#include "core/Settings.h"
#include "web/WebServer.h"

class QThread;

namespace skiro {

class Intake;

// The audience web view as the application holds it: the server on its own thread, and the
// observer that hands it each line as it arrives, in the form the display shows it. Made when
// the web view is turned on and dropped when it is turned off; runs on the user-interface
// thread.
class WebService : public QObject, public LineObserver {
    Q_OBJECT
  public:
    // `settings` is read at each line for the prefix deletion and the colour commands.
    explicit WebService(const Settings& settings, QObject* parent = nullptr);
    ~WebService() override;

    // Hands over the day's lines and what the display holds now, so that the first viewers
    // see them, the lines waiting to be shown and the line arriving; later lines come through
    // the observer. `logged` is the end of the day's log (readRecentLogLines): after a restart
    // the pages go on from where they were.
    void seed(const Intake& intake, const std::vector<std::string>& logged = {});
    // Sets the server's time and place limits; takes effect at the next listen().
    void setLimits(const WebLimits& limits);
    // Listens (again) at `endpoint`; listening() or failed() tells how it went.
    void listen(const WebEndpoint& endpoint);
    // The display's writing direction changed; the viewers stay connected.
    void setDirection(int direction);

    WebServer& server() { return *m_server; }

    // LineObserver.
    void lineCompleted(std::string_view text) override;
    void lineGrowing(std::string_view text) override;

  signals:
    void listening(quint16 port);
    void failed(QString reason);

  private:
    // What the display shows of `text`, which still has the sender's prefix when `withPrefix`
    // is set, starting in `textColour`, which a colour command changes: false when the line
    // shows nothing at all.
    // `commands`: whether colour commands are applied, as the display does while the
    // extended commands are on.
    bool displayForm(std::string_view text, bool withPrefix, Colour& textColour,
                     WebLineEvent& event, bool commands) const;
    bool displayForm(std::string_view text, bool withPrefix, Colour& textColour,
                     WebLineEvent& event) const {
        return displayForm(text, withPrefix, textColour, event, m_settings.ExtCommands);
    }
    // The colour a line in `textColour` is sent with: -1 for the page's own.
    std::int64_t sentColour(Colour textColour, bool commands) const;
    std::int64_t sentColour(Colour textColour) const {
        return sentColour(textColour, m_settings.ExtCommands);
    }
    // Where what the display shows of the arriving line `text` begins, once no more of the
    // line can change that or its colour; npos while more can.
    std::size_t settledStart(std::string_view text);

    // The line still arriving, as far as the server has been given it.
    struct Arriving {
        std::size_t seen = 0;                   // its length at the last step
        std::size_t colon = std::string::npos;  // the colon that ends its command, once found
        std::size_t scanned = 0;                // how far the colon has been looked for
        std::size_t handed = std::string::npos; // where the text handed over ends; npos
                                                // while its start may still change
        bool told = false;                      // the server knows that it has begun
    };

    const Settings& m_settings;
    // The text colour the display had when the web view started: lines in it are drawn in the
    // page's own colours, lines a colour command changed in theirs.
    Colour m_baseColour;
    // The text colour after the commands of every line that has arrived. The display reaches
    // these lines later; the page shows them at once, in the colours they will have there.
    Colour m_textColour;
    Arriving m_arriving;
    QThread* m_thread;
    WebServer* m_server;
    // Where the server was last asked to listen: the same again leaves the viewers connected.
    std::optional<WebEndpoint> m_endpoint;
};

} // namespace skiro
