#pragma once
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Colour.h"
#include "core/LineObserver.h"
#include "core/RelayProtocol.h"

class QWidget;

namespace skiro {

class CMarelDoc;
class CMarelView;
class LinkMark;
class RelayClient;

// The display's part in a room on an MQTT broker, as the [Relay] settings say: it sends the
// lines it records and its growing line to the room; it takes the room's input in as if it came
// from the serial port (and sends its lines too); or it follows the lines another display
// sends, which then are shown, logged and served to the web view as this display's own. The
// state shows small in the view's corner and in the title, never over the captions. CMake
// compiles RelayLink.cpp where the build has the relay, else NoRelayLink.cpp (Windows), whose
// dialog says so and which does nothing else.
class RelayLink : public QObject, public LineObserver {
    Q_OBJECT
  public:
    // `title` is the window's own title, to which the state is added while the relay waits.
    RelayLink(CMarelDoc& doc, CMarelView& view, QWidget* frame, QString title);
    ~RelayLink() override;

    // Starts, moves or stops the relay to match the settings.
    void apply();
    // The dialog of the 設定 menu; `help` opens its help page.
    void showDialog(const std::function<void(int)>& help);
    // At close: what is still queued gets a moment to reach the broker.
    void shutdown();

    // Whether the relay is built into this program.
    static bool available();
    // The client while the relay runs, for tests.
    RelayClient* client() const;

    // LineObserver: the lines this display takes in, sent to the room.
    void lineCompleted(std::string_view text) override;
    void lineGrowing(std::string_view text) override;

  private:
    void showState();
    void received(const QByteArray& topic, const QByteArray& payload);
    void follow(const relay::Message& message);
    void followGrowing(const relay::Message& message);
    // Text for the view as if it came from the port, UTF-8.
    void feed(const std::string& utf8);
    // A line of the daily log, in the log's own form, saying what happened to the relay.
    void note(const QString& text);
    static std::int64_t nowMs();

    CMarelDoc& m_doc;
    CMarelView& m_view;
    QWidget* m_frame;
    QString m_title;
    QString m_problem; // a setting that keeps the relay from starting
    LinkMark* m_mark = nullptr;
    // The broker's client and the password's keeping, which only a build with the relay has.
    struct Parts;
    std::unique_ptr<Parts> m_relay;
    bool m_observing = false;
    std::int32_t m_mode = 0;
    QByteArray m_linesTopic;
    QByteArray m_growingTopic;
    QByteArray m_inputTopic;

    // Sending.
    std::uint64_t m_run = 0;
    std::uint64_t m_seq = 0;
    Colour m_textColour = 0;
    Colour m_outlineColour = 0;
    std::size_t m_grownSent = 0; // the growing line's length at the last message
    // Following.
    relay::FollowerSequence m_followed;
    relay::InputRepeats m_inputs;
    std::uint64_t m_fedRun = 0;
    std::uint64_t m_fedSeq = 0;
    std::string m_fed; // what of the growing line has gone to the view, UTF-8
};

} // namespace skiro
