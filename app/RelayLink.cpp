#include "app/RelayLink.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QWidget>

#include "app/CMarelDoc.h"
#include "app/LinkMark.h"
#include "core/LineCommands.h"
#include "core/ShiftJis.h"
#include "display/CMarelView.h"
#include "relay/CRelayDialog.h"
#include "relay/RelayClient.h"
#include "relay/RelaySecret.h"
#include "sjis/Sjis.h"

namespace skiro {
namespace {

// Past this the growing line is no longer sent as it grows: followers get it whole at its end
// instead of its whole length again at each piece.
constexpr std::size_t kGrowingMax = 16384;

} // namespace

struct RelayLink::Parts {
    std::unique_ptr<RelaySecret> secret;
    std::unique_ptr<RelayClient> client;
};

bool RelayLink::available() {
    return true;
}

RelayClient* RelayLink::client() const {
    return m_relay->client.get();
}

std::int64_t RelayLink::nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

RelayLink::RelayLink(CMarelDoc& doc, CMarelView& view, QWidget* frame, QString title)
    : m_doc(doc), m_view(view), m_frame(frame), m_title(std::move(title)),
      m_relay(std::make_unique<Parts>()) {
    // The password lives beside the profile when no secret store runs.
    const QFileInfo profile(QFile::decodeName(QByteArray::fromStdString(doc.paths().profileFile)));
    m_relay->secret = std::make_unique<RelaySecret>(profile.absolutePath() + QLatin1Char('/') +
                                                    profile.completeBaseName() +
                                                    QStringLiteral(".relay-password"));
}

RelayLink::~RelayLink() {
    if (m_observing)
        m_view.intake().removeObserver(this);
}

void RelayLink::apply() {
    if (m_observing) {
        m_view.intake().removeObserver(this);
        m_observing = false;
    }
    m_relay->client.reset();
    const RelaySettings& relay = m_doc.settings().Relay;
    m_mode = relay.Mode;
    if (m_mode == RelaySettings::Off) {
        showState();
        return;
    }
    if (!m_mark) {
        // Made once the relay is used; below the serial link's mark, should both show.
        m_mark = new LinkMark(QStringLiteral("中継待ち"), &m_view, m_frame);
        m_mark->setRow(1);
    }
    if (m_doc.settings().Relay.ClientId.empty()) {
        // The broker keeps this display's session under a name of its own.
        m_doc.settings().Relay.ClientId =
            "skiro-" + QString::number(QRandomGenerator::system()->generate64(), 16).toStdString();
    }
    RelayEndpoint endpoint;
    QString error;
    m_relay->client = std::make_unique<RelayClient>();
    connect(m_relay->client.get(), &RelayClient::stateChanged, this, [this] { showState(); });
    connect(m_relay->client.get(), &RelayClient::messageArrived, this, &RelayLink::received);
    connect(m_relay->client.get(), &RelayClient::dropped, this,
            [this](quint64 from, quint64 to, quint64 count) {
                note(QStringLiteral("（中継: ブローカーに届かないまま送信待ちがあふれ、"
                                    "第%1〜%2行の %3 行を送らずに捨てました）")
                         .arg(from)
                         .arg(to)
                         .arg(count));
            });
    const QString broker = QString::fromStdString(relay.Broker);
    if (!parseBrokerAddress(broker, endpoint, error)) {
        m_problem = error;
        showState();
        return;
    }
    if (!relay.Room.empty())
        endpoint.room = QString::fromStdString(relay.Room);
    if (!relay::validRoomName(endpoint.room.toStdString())) {
        m_problem = QStringLiteral("中継: 部屋の名前「%1」は使えません（英数字と - _ . の 64 "
                                   "文字まで）。")
                        .arg(endpoint.room);
        showState();
        return;
    }
    m_problem.clear();
    endpoint.user = QString::fromStdString(relay.User);
    endpoint.password = m_relay->secret->load(broker, endpoint.user);
    endpoint.caFile = QString::fromStdString(relay.CaFile);
    endpoint.clientId = QString::fromStdString(m_doc.settings().Relay.ClientId);

    const std::string room = endpoint.room.toStdString();
    m_linesTopic = QByteArray::fromStdString(relay::linesTopic(room));
    m_growingTopic = QByteArray::fromStdString(relay::growingTopic(room));
    m_inputTopic = QByteArray::fromStdString(relay::inputTopic(room));
    std::vector<RelayClient::Subscription> subscriptions;
    if (m_mode == RelaySettings::Receive)
        subscriptions.push_back({m_inputTopic, 1});
    if (m_mode == RelaySettings::Follow) {
        subscriptions.push_back({m_linesTopic, 1});
        subscriptions.push_back({m_growingTopic, 0});
    }
    if (m_mode != RelaySettings::Follow) {
        m_run = static_cast<std::uint64_t>(nowMs());
        m_seq = 0;
        m_grownSent = 0;
        m_textColour = m_doc.settings().Color.Text;
        m_outlineColour = m_doc.settings().OutlineColor;
        m_view.intake().addObserver(this);
        m_observing = true;
    }
    m_relay->client->start(endpoint, std::move(subscriptions),
                           m_mode == RelaySettings::Follow ? QByteArray() : m_linesTopic);
    showState();
}

void RelayLink::shutdown() {
    if (m_observing) {
        m_view.intake().removeObserver(this);
        m_observing = false;
    }
    if (m_relay->client)
        m_relay->client->stop(2000);
    m_relay->client.reset();
}

void RelayLink::showState() {
    QString problem = m_problem;
    bool waiting = m_mode != RelaySettings::Off && !problem.isEmpty();
    if (m_relay->client && m_problem.isEmpty()) {
        problem = m_relay->client->problem();
        waiting = m_relay->client->state() != RelayClient::State::Connected || !problem.isEmpty();
    }
    const QString tip =
        problem.isEmpty() ? QString::fromStdString(m_doc.settings().Relay.Broker) : problem;
    if (!m_mark)
        return; // the relay was never used: the title is the serial link's
    m_mark->showWaiting(waiting, tip);
    if (m_frame)
        m_frame->setWindowTitle(waiting ? QStringLiteral("%1 - 中継待ち (%2)").arg(m_title, tip)
                                        : m_title);
}

void RelayLink::lineCompleted(std::string_view text) {
    if (!m_relay->client)
        return;
    const Settings& settings = m_doc.settings();
    const std::string_view recorded = text.substr(skipLeadingBytes(text, settings));
    bool show = true;
    parseExtendedCommand(recorded, settings, show, m_textColour, m_outlineColour);
    relay::Message message;
    message.kind = relay::Kind::Line;
    message.run = m_run;
    message.seq = ++m_seq;
    message.arrival = nowMs();
    message.textColour = m_textColour;
    message.outlineColour = m_outlineColour;
    message.text = fromSjis(recorded).toStdString();
    m_grownSent = 0;
    m_relay->client->publishQueued(message.seq, relay::encode(message));
}

void RelayLink::lineGrowing(std::string_view text) {
    if (!m_relay->client || text.size() > kGrowingMax || text.size() == m_grownSent)
        return;
    m_grownSent = text.size();
    std::string_view recorded = text.substr(skipLeadingBytes(text, m_doc.settings()));
    std::size_t scanned = 0;
    recorded = sjis::withoutPartialChar(recorded, scanned);
    if (recorded.empty())
        return;
    relay::Message message;
    message.kind = relay::Kind::Growing;
    message.run = m_run;
    message.seq = m_seq + 1;
    message.arrival = nowMs();
    message.text = fromSjis(recorded).toStdString();
    m_relay->client->publishNow(m_growingTopic, relay::encode(message));
}

void RelayLink::received(const QByteArray& topic, const QByteArray& payload) {
    const std::optional<relay::Message> message = relay::decode(payload.toStdString());
    if (topic == m_inputTopic && m_mode == RelaySettings::Receive) {
        if (message && message->kind == relay::Kind::Input) {
            if (m_inputs.accept(message->run, message->seq))
                feed(message->text);
            return;
        }
        // Plain text from any MQTT client (mosquitto_pub, say) is one line per message.
        QByteArray text = payload;
        text.replace('\n', '\r');
        if (!text.endsWith('\r'))
            text += '\r';
        feed(text.toStdString());
        return;
    }
    if (!message || m_mode != RelaySettings::Follow)
        return;
    if (topic == m_linesTopic && message->kind == relay::Kind::Line)
        follow(*message);
    else if (topic == m_growingTopic && message->kind == relay::Kind::Growing)
        followGrowing(*message);
}

void RelayLink::follow(const relay::Message& message) {
    const relay::FollowerSequence::Verdict verdict = m_followed.accept(message.run, message.seq);
    if (!verdict.deliver)
        return;
    if (verdict.missedFrom != 0)
        note(QStringLiteral("（中継: 第%1〜%2行は届きませんでした）")
                 .arg(verdict.missedFrom)
                 .arg(verdict.missedTo));
    std::string text;
    const bool continues = !m_fed.empty() && m_fedRun == message.run && m_fedSeq == message.seq &&
                           message.text.compare(0, m_fed.size(), m_fed) == 0;
    if (continues) {
        text.assign(message.text, m_fed.size());
    } else {
        // The line that was growing never came whole: what of it arrived ends here.
        if (!m_fed.empty())
            feed("\r");
        // This display's own prefix deletion would cut the line, which has none any more.
        if (m_doc.settings().DeleteHandle)
            text.assign(static_cast<std::size_t>(m_doc.settings().DeleteBytes), ' ');
        text += message.text;
    }
    m_fed.clear();
    m_fedSeq = 0;
    text += '\r';
    feed(text);
}

void RelayLink::followGrowing(const relay::Message& message) {
    // Only the line that comes next grows here, and only once the room's lines are followed.
    const std::uint64_t run = m_followed.run();
    if (run == 0 || !((message.run == run && message.seq == m_followed.last() + 1) ||
                      (message.run > run && message.seq == 1)))
        return;
    std::string text;
    if (m_fed.empty() || m_fedRun != message.run || m_fedSeq != message.seq) {
        if (!m_fed.empty())
            return; // another line's growing is on the way: it ends with its own line
        m_fedRun = message.run;
        m_fedSeq = message.seq;
        if (m_doc.settings().DeleteHandle)
            text.assign(static_cast<std::size_t>(m_doc.settings().DeleteBytes), ' ');
    }
    if (message.text.size() <= m_fed.size() || message.text.compare(0, m_fed.size(), m_fed) != 0)
        return;
    text.append(message.text, m_fed.size());
    m_fed = message.text;
    feed(text);
}

void RelayLink::feed(const std::string& utf8) {
    m_view.receiveText(toSjis(QString::fromStdString(utf8)));
}

void RelayLink::note(const QString& text) {
    m_doc.recorder().recordLine(toSjis(text));
}

void RelayLink::showDialog(const std::function<void(int)>& help) {
    RelaySettings settings = m_doc.settings().Relay;
    const QString broker = QString::fromStdString(settings.Broker);
    CRelayDialog dialog(settings, m_relay->secret->placeDescription(), m_frame, help);
    dialog.setPassword(m_relay->secret->load(broker, QString::fromStdString(settings.User)));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const RelaySettings chosen = dialog.settings();
    QString error;
    if (dialog.passwordChanged() &&
        !m_relay->secret->store(QString::fromStdString(chosen.Broker),
                                QString::fromStdString(chosen.User), dialog.password(), error))
        QMessageBox::warning(m_frame, m_title,
                             QStringLiteral("中継のパスワードを保存できません。\n%1").arg(error));
    const std::string clientId = m_doc.settings().Relay.ClientId;
    m_doc.settings().Relay = chosen;
    m_doc.settings().Relay.ClientId = clientId;
    apply();
}

} // namespace skiro
