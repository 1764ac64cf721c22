// skiro-send: hands text to a running SKIRO display of this user, which shows and logs it as
// if it had arrived on the serial line.
#include <QCoreApplication>
#include <QString>

#include <QDeadlineTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/SendArguments.h"
#include "app/SendRelay.h"
#include "core/FeedProtocol.h"
#include "core/ShiftJis.h"
#include "feed/FeedClient.h"
#include "feed/FeedPlace.h"
#include "sjis/Sjis.h"

namespace {

using skiro::FeedClient;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnknown = 3;

const char* const kUsage =
    "Usage: skiro-send [OPTION]... [TEXT]...\n"
    "Hands text to the SKIRO display running for this user on this machine; the display\n"
    "shows and logs it as if it had arrived on the serial line.\n"
    "\n"
    "Each TEXT is sent as one line (a CR is appended); a line break inside a TEXT ends a line\n"
    "there too. With no TEXT, standard input is sent line by line as the lines arrive, so\n"
    "that `tail -f captions.txt | skiro-send --reconnect` follows a file.\n"
    "\n"
    "  -n              append no CR: the text stays in the display's current line\n"
    "  --raw           send each TEXT or input line as the request itself, e.g.\n"
    "                  '[Send(text)]', with nothing added\n"
    "  --sjis          the input is Shift-JIS already (default: UTF-8)\n"
    "  --service NAME  the display's service name, its executable's name (default: skiro)\n"
    "  --wait[=SECS]   when no display is running yet, wait for one to start (for ever, or\n"
    "                  at most SECS seconds)\n"
    "  --reconnect     when the display closes or goes away, wait for it to start again\n"
    "                  (as long as --wait allows) and carry on; what it had not acknowledged\n"
    "                  is sent again, and nothing it acknowledged is sent twice\n"
    "  --relay mqtts://HOST[:PORT]/ROOM\n"
    "                  send into ROOM's input on an MQTT broker instead, for the display\n"
    "                  that receives the room; the user name comes from --user or\n"
    "                  SKIRO_RELAY_USER, the password from --password-file FILE or\n"
    "                  SKIRO_RELAY_PASSWORD (never the command line), the broker's CA\n"
    "                  from --ca FILE or SKIRO_RELAY_CA (default: the system's store)\n"
    "  -h, --help      show this help\n"
    "  --version       show the version\n"
    "  --              everything after it is TEXT\n"
    "\n"
    "A line of up to 1 MiB (in Shift-JIS) reaches the display whole, so other senders' text\n"
    "cannot come inside it; a longer line is sent in pieces of 1 MiB.\n"
    "Text is converted to Shift-JIS; a character Shift-JIS cannot hold, and a byte sequence\n"
    "that is not UTF-8, is sent as '?', each kind counted in one warning.\n"
    "\n"
    "Exit status:\n"
    "  0  the display acknowledged everything\n"
    "  1  nothing was delivered: no display is running, the service folder is refused, or\n"
    "     the display refused the conversation or the first request; sending again is safe\n"
    "  2  usage error\n"
    "  3  only part was delivered, or whether the last requests arrived is not known (the\n"
    "     display went away or stopped answering); sending everything again may show some\n"
    "     text twice\n";

struct Options {
    bool noCr = false;
    bool raw = false;
    bool sjis = false;
    QString service = QStringLiteral("skiro");
    bool wait = false;
    int waitSeconds = -1; // for ever
    bool reconnect = false;
    std::vector<std::string> texts;
    QString relay; // the broker and room, for --relay
    QString relayUser;
    QString relayPasswordFile;
    QString relayCa;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "skiro-send: %s\nTry 'skiro-send --help' for more information.\n",
                 what.c_str());
    return kExitUsage;
}

// Byte sequences in `utf8` that are not UTF-8: the decoder turns each into U+FFFD, which the
// text may also hold as a character of its own.
int invalidSequences(const std::string& utf8, const QString& decoded) {
    const auto replaced = static_cast<int>(decoded.count(QChar(QChar::ReplacementCharacter)));
    int genuine = 0;
    for (std::size_t at = utf8.find("\xEF\xBF\xBD"); at != std::string::npos;
         at = utf8.find("\xEF\xBF\xBD", at + 3))
        ++genuine;
    return replaced - genuine;
}

// The sender of one run: converts, wraps and sends, reconnects when asked to, and keeps what
// the exit status needs: how much the displays acknowledged, and whether any of the rest may
// have arrived.
class Sender {
  public:
    explicit Sender(const Options& options) : m_options(options) {}

    // Opens a conversation, waiting for a display when asked to. False when there is none;
    // the reason has been told.
    bool connect() { return connectAfter(false); }

    // One line of input; `endLine` puts the CR after it that ends the line on the display.
    bool sendLine(const std::string& input, bool endLine) {
        std::string bytes;
        if (m_options.sjis) {
            bytes = input;
        } else {
            const QString text = QString::fromUtf8(input);
            const int invalid = invalidSequences(input, text);
            skiro::SjisText converted = skiro::toSjisCounted(text);
            m_invalid += invalid;
            m_unmappable += converted.unmappable - invalid;
            bytes = std::move(converted.bytes);
        }
        if (m_options.raw)
            return deliver(bytes);
        // A NUL would end the request early, and intake has no use for one.
        std::erase(bytes, '\0');
        if (endLine)
            bytes += '\r';
        // A line goes in one request, so that no other sender's text comes inside it; one
        // longer than that goes in pieces, cut between characters, which intake joins again as
        // it joins the pieces of a serial read.
        std::size_t start = 0;
        do {
            std::size_t end = start;
            while (end < bytes.size()) {
                const std::size_t n = skiro::sjis::charLength(bytes, end);
                if (end + n - start > skiro::feed::kMaxLine + 1)
                    break;
                end += n;
            }
            if (!deliver("[Send(" + bytes.substr(start, end - start) + ")]"))
                return false;
            start = end;
        } while (start < bytes.size());
        return true;
    }

    // Waits for every acknowledgement.
    bool finish() {
        for (;;) {
            if (!m_client)
                return false;
            const FeedClient::Result r = m_client->waitAcks(kAckWaitMs);
            if (r.ok())
                return true;
            if (!recover(r))
                return false;
        }
    }

    void end() {
        if (m_client) {
            m_acknowledged += m_client->acknowledged();
            m_client->terminate();
            m_client.reset();
        }
    }

    int exitStatus(bool ok) const {
        if (ok)
            return kExitOk;
        if (m_acknowledged == 0 && !m_inDoubt)
            return kExitFailed;
        std::fprintf(stderr, "skiro-send: %zu of %zu requests were acknowledged%s\n",
                     m_acknowledged, m_requests,
                     m_inDoubt ? "; whether the rest arrived is not known"
                               : "; the rest did not arrive");
        return kExitUnknown;
    }

    void warn() const {
        if (m_unmappable > 0)
            std::fprintf(
                stderr, "skiro-send: %d character%s with no Shift-JIS form %s sent as '?'\n",
                m_unmappable, m_unmappable == 1 ? "" : "s", m_unmappable == 1 ? "was" : "were");
        if (m_invalid > 0)
            std::fprintf(stderr,
                         "skiro-send: %d byte sequence%s that %s not UTF-8 %s sent as '?' "
                         "(for Shift-JIS input, use --sjis)\n",
                         m_invalid, m_invalid == 1 ? "" : "s", m_invalid == 1 ? "is" : "are",
                         m_invalid == 1 ? "was" : "were");
    }

  private:
    // Acknowledgements are collected as they come; the sender does not run far ahead of the
    // display.
    static constexpr std::size_t kMostPending = 1024;
    static constexpr std::size_t kMostPendingBytes = 4 * skiro::feed::kMaxLine;
    static constexpr int kAckWaitMs = 60000;

    bool deliver(const std::string& request) {
        if (!m_client)
            return false;
        ++m_requests;
        FeedClient::Result r = m_client->sendRequest(request);
        while (!r.ok()) {
            if (!recover(r))
                return false;
            r = m_client->pollAcks(); // the request went again with the others
        }
        for (;;) {
            r = m_client->pollAcks();
            if (r.ok() && (m_client->pending() > kMostPending ||
                           m_client->pendingBytes() > kMostPendingBytes))
                r = m_client->waitAcks(kAckWaitMs);
            if (r.ok())
                return true;
            if (!recover(r))
                return false;
        }
    }

    // After a failure: with --reconnect, when the display closed or went away, waits for a
    // display and hands it first what was not acknowledged. Otherwise gives up.
    bool recover(FeedClient::Result r) {
        for (;;) {
            if (!m_options.reconnect || r.status != FeedClient::Status::DisplayClosed) {
                giveUp(r);
                return false;
            }
            noteLoss();
            std::deque<std::string> back = m_client->takeUnacknowledged();
            m_resend.insert(m_resend.begin(), back.begin(), back.end());
            m_acknowledged += m_client->acknowledged();
            m_client->terminate();
            m_client.reset();
            std::fprintf(stderr, "skiro-send: %s; waiting for it to start again\n",
                         qPrintable(r.message));
            if (!connectAfter(true)) {
                m_inDoubt = m_lostUnknown;
                return false;
            }
            r = resend();
            if (r.ok())
                return true;
        }
    }

    FeedClient::Result resend() {
        while (!m_resend.empty()) {
            // Handed over, the request is the new conversation's to keep until acknowledged.
            const FeedClient::Result r = m_client->sendRequest(m_resend.front());
            m_resend.pop_front();
            if (!r.ok())
                return r;
        }
        return {};
    }

    // Whether requests may have been carried out by a display that did not acknowledge them.
    void noteLoss() {
        if (m_client->pending() > 0 &&
            m_client->unacknowledgedFate() == FeedClient::Unacknowledged::Unknown)
            m_lostUnknown = true;
    }

    void giveUp(const FeedClient::Result& r) {
        tell(r);
        noteLoss();
        m_inDoubt = m_lostUnknown;
        m_acknowledged += m_client->acknowledged();
        m_client->terminate();
        m_client.reset();
    }

    bool connectAfter(bool lost) {
        const bool waiting = m_options.wait || lost;
        QDeadlineTimer deadline = m_options.waitSeconds < 0
                                      ? QDeadlineTimer(QDeadlineTimer::Forever)
                                      : QDeadlineTimer(std::chrono::seconds(m_options.waitSeconds));
        for (;;) {
            auto client = std::make_unique<FeedClient>(m_options.service);
            const FeedClient::Result r = client->open();
            if (r.ok()) {
                m_client = std::move(client);
                return true;
            }
            // A display that is starting (or full) may answer in a moment; a refused folder
            // will not.
            const bool worthWaiting = r.status == FeedClient::Status::NoDisplay ||
                                      r.status == FeedClient::Status::Refused;
            if (!waiting || !worthWaiting || deadline.hasExpired()) {
                tell(r);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    void tell(const FeedClient::Result& r) const {
        std::fprintf(stderr, "skiro-send: %s\n", qPrintable(r.message));
    }

    const Options& m_options;
    std::unique_ptr<FeedClient> m_client;
    std::size_t m_requests = 0;
    std::size_t m_acknowledged = 0;
    bool m_inDoubt = false;
    bool m_lostUnknown = false;
    // Requests taken back from a display that went away, for the next one.
    std::deque<std::string> m_resend;
    int m_unmappable = 0;
    int m_invalid = 0;
};

// --relay: the same lines, as the room's input on an MQTT broker.
int sendThroughRelay(const Options& options) {
    if (!skiro::relayBuilt())
        return usageError("this build has no relay");
    if (options.raw)
        return usageError("--raw has no meaning with --relay");
    skiro::RelayTarget relay;
    relay.address = options.relay;
    relay.user = options.relayUser;
    relay.passwordFile = options.relayPasswordFile;
    relay.caFile = options.relayCa;
    if (options.wait)
        relay.waitSeconds = options.waitSeconds < 0 ? 3600 * 24 : options.waitSeconds;
    const auto utf8 = [&options](const std::string& text) {
        return options.sjis ? skiro::fromSjis(text).toStdString() : text;
    };
    std::deque<std::string> lines;
    for (const std::string& text : options.texts) {
        std::size_t start = 0;
        for (std::size_t lf = text.find('\n'); lf != std::string::npos;
             lf = text.find('\n', start)) {
            std::string line = text.substr(start, lf - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(utf8(line) + '\r');
            start = lf + 1;
        }
        if (start < text.size() || start == 0)
            lines.push_back(utf8(text.substr(start)) + (options.noCr ? "" : "\r"));
    }
    const bool fromInput = options.texts.empty();
    return skiro::sendToRoom(relay, [&]() -> std::optional<std::string> {
        if (!fromInput) {
            if (lines.empty())
                return std::nullopt;
            std::string line = std::move(lines.front());
            lines.pop_front();
            return line;
        }
        std::string line;
        if (!std::getline(std::cin, line))
            return std::nullopt;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return utf8(line) + (options.noCr ? "" : "\r");
    });
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef SIGPIPE
    // A display that goes away mid-write is reported, not a silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args = skiro::sendArguments(argc, argv);

    Options options;
    bool onlyTexts = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyTexts || arg.empty() || arg[0] != '-' || arg == "-") {
            options.texts.push_back(arg);
        } else if (arg == "--") {
            onlyTexts = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("skiro-send %s\n", SKIRO_VERSION);
            return kExitOk;
        } else if (arg == "-n") {
            options.noCr = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--sjis") {
            options.sjis = true;
        } else if (arg == "--service" || arg.rfind("--service=", 0) == 0) {
            std::string name;
            if (arg == "--service") {
                if (i + 1 >= args.size())
                    return usageError("--service needs a NAME");
                name = args[++i];
            } else {
                name = arg.substr(10);
            }
            options.service = skiro::argumentText(name);
            if (!skiro::isServiceName(options.service))
                return usageError("'" + name + "' cannot name a service");
        } else if (arg == "--wait") {
            options.wait = true;
        } else if (arg.rfind("--wait=", 0) == 0) {
            const std::string value = arg.substr(7);
            char* end = nullptr;
            const long seconds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || seconds < 0 || seconds > 1000000)
                return usageError("--wait needs a whole number of seconds, not '" + value + "'");
            options.wait = true;
            options.waitSeconds = static_cast<int>(seconds);
        } else if (arg == "--reconnect") {
            options.reconnect = true;
        } else if (arg == "--relay" || arg == "--user" || arg == "--password-file" ||
                   arg == "--ca") {
            if (i + 1 >= args.size())
                return usageError(arg + " needs a value");
            const QString value = skiro::argumentText(args[++i]);
            (arg == "--relay"           ? options.relay
             : arg == "--user"          ? options.relayUser
             : arg == "--password-file" ? options.relayPasswordFile
                                        : options.relayCa) = value;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }

    if (!options.relay.isEmpty())
        return sendThroughRelay(options);

    Sender sender(options);
    if (!sender.connect())
        return kExitFailed;
    bool ok = true;
    if (!options.texts.empty()) {
        for (const std::string& text : options.texts) {
            if (options.raw) {
                if (!(ok = sender.sendLine(text, false)))
                    break;
                continue;
            }
            // A line break inside an argument ("$(cat notes.txt)") ends a line there, as it
            // does on standard input, instead of running two lines together; one at the very
            // end is the end of the argument's last line.
            std::vector<std::string> lines;
            for (std::size_t start = 0;;) {
                const std::size_t lf = text.find('\n', start);
                lines.push_back(text.substr(start, lf == std::string::npos ? lf : lf - start));
                if (lf == std::string::npos)
                    break;
                start = lf + 1;
            }
            const bool brokenAtEnd = lines.size() > 1 && lines.back().empty();
            if (brokenAtEnd)
                lines.pop_back();
            for (std::size_t n = 0; ok && n < lines.size(); ++n) {
                std::string& line = lines[n];
                const bool broken = n + 1 < lines.size() || brokenAtEnd;
                if (broken && !line.empty() && line.back() == '\r')
                    line.pop_back(); // CR LF: the CR is the one this line gets anyway
                ok = sender.sendLine(line, broken || !options.noCr);
            }
            if (!ok)
                break;
        }
    } else {
        std::ios::sync_with_stdio(false);
        std::string line;
        while (ok && std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back(); // CR LF input: the CR is the one this line gets anyway
            ok = sender.sendLine(line, !options.noCr);
        }
    }
    if (ok)
        ok = sender.finish();
    sender.warn();
    sender.end();
    return sender.exitStatus(ok);
}
