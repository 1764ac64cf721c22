// skiro-send: hands text to a running SKIRO display of this user, which shows and logs it as
// if it had arrived on the serial line.
#include <QCoreApplication>
#include <QString>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "core/FeedProtocol.h"
#include "core/ShiftJis.h"
#include "display/Sjis.h"
#include "feed/FeedClient.h"
#include "feed/FeedPlace.h"

namespace {

using skiro::FeedClient;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: skiro-send [OPTION]... [TEXT]...\n"
    "Hands text to the SKIRO display running for this user on this machine; the display\n"
    "shows and logs it as if it had arrived on the serial line.\n"
    "\n"
    "Each TEXT is sent as one line (a CR is appended); a line break inside a TEXT ends a line\n"
    "there too. With no TEXT, standard input is sent line by line as the lines arrive, so\n"
    "that `tail -f captions.txt | skiro-send` follows a file.\n"
    "\n"
    "  -n              append no CR: the text stays in the display's current line\n"
    "  --raw           send each TEXT or input line as the request itself, e.g.\n"
    "                  '[Send(text)]', with nothing added\n"
    "  --sjis          the input is Shift-JIS already (default: UTF-8)\n"
    "  --service NAME  the display's service name, its executable's name (default: skiro)\n"
    "  -h, --help      show this help\n"
    "  --              everything after it is TEXT\n"
    "\n"
    "Text is converted to Shift-JIS; a character Shift-JIS cannot hold is sent as '?' and\n"
    "counted in one warning.\n"
    "\n"
    "Exit status: 0 when the display acknowledged everything, 1 when no display is running or\n"
    "it refused or closed the conversation, 2 for a usage error.\n";

struct Options {
    bool noCr = false;
    bool raw = false;
    bool sjis = false;
    QString service = QStringLiteral("skiro");
    std::vector<std::string> texts;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "skiro-send: %s\nTry 'skiro-send --help' for more information.\n",
                 what.c_str());
    return kExitUsage;
}

// The sender of one run: converts, wraps and sends, and remembers the first failure.
class Sender {
  public:
    Sender(FeedClient& client, const Options& options) : m_client(client), m_options(options) {}

    // One line of input; `endLine` puts the CR after it that ends the line on the display.
    bool sendLine(const std::string& input, bool endLine) {
        std::string bytes;
        if (m_options.sjis) {
            bytes = input;
        } else {
            skiro::SjisText converted = skiro::toSjisCounted(QString::fromUtf8(input));
            m_unmappable += converted.unmappable;
            bytes = std::move(converted.bytes);
        }
        if (m_options.raw)
            return check(m_client.sendRequest(bytes));
        // A NUL would end the request early, and intake has no use for one.
        std::erase(bytes, '\0');
        if (endLine)
            bytes += '\r';
        // Text longer than one request goes in several, cut between characters; intake joins
        // them again, as it joins the pieces of a serial read.
        constexpr std::size_t kRoom = skiro::feed::kMaxRequest - 8;
        std::size_t start = 0;
        do {
            std::size_t end = start;
            while (end < bytes.size()) {
                const std::size_t n = skiro::sjis::charLength(bytes, end);
                if (end + n - start > kRoom)
                    break;
                end += n;
            }
            const std::string request = "[Send(" + bytes.substr(start, end - start) + ")]";
            if (!check(m_client.sendRequest(request)))
                return false;
            start = end;
        } while (start < bytes.size());
        // Collect the acknowledgements as they come; do not run far ahead of the display.
        if (!check(m_client.pollAcks()))
            return false;
        if (m_client.pending() > 1024 && !check(m_client.waitAcks()))
            return false;
        return true;
    }

    bool finish() { return check(m_client.waitAcks()); }
    int unmappable() const { return m_unmappable; }

  private:
    bool check(const FeedClient::Result& result) {
        if (result.ok())
            return true;
        std::fprintf(stderr, "skiro-send: %s\n", qPrintable(result.message));
        return false;
    }

    FeedClient& m_client;
    const Options& m_options;
    int m_unmappable = 0;
};

} // namespace

int main(int argc, char* argv[]) {
#ifdef SIGPIPE
    // A display that goes away mid-write is reported, not a silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    // Windows hands argv over in the ANSI code page, which cannot hold every character: the
    // command line is taken in Unicode instead and made UTF-8, as the texts are everywhere else.
    std::vector<std::string> unicodeArgs;
    for (const QString& arg : QCoreApplication::arguments())
        unicodeArgs.push_back(arg.toStdString());
    std::vector<char*> unicodeArgv;
    for (std::string& arg : unicodeArgs)
        unicodeArgv.push_back(arg.data());
    argc = static_cast<int>(unicodeArgv.size());
    argv = unicodeArgv.data();
#endif

    Options options;
    bool onlyTexts = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyTexts || arg.empty() || arg[0] != '-' || arg == "-") {
            options.texts.push_back(arg);
        } else if (arg == "--") {
            onlyTexts = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
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
                if (i + 1 >= argc)
                    return usageError("--service needs a NAME");
                name = argv[++i];
            } else {
                name = arg.substr(10);
            }
#ifdef _WIN32
            options.service = QString::fromStdString(name);
#else
            options.service = QString::fromLocal8Bit(name.c_str());
#endif
            if (!skiro::isServiceName(options.service))
                return usageError("'" + name + "' cannot name a service");
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }

    FeedClient client(options.service);
    if (const auto opened = client.open(); !opened.ok()) {
        std::fprintf(stderr, "skiro-send: %s\n", qPrintable(opened.message));
        return kExitFailed;
    }
    Sender sender(client, options);
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
    if (sender.unmappable() > 0)
        std::fprintf(stderr, "skiro-send: %d character%s with no Shift-JIS form %s sent as '?'\n",
                     sender.unmappable(), sender.unmappable() == 1 ? "" : "s",
                     sender.unmappable() == 1 ? "was" : "were");
    client.terminate();
    return ok ? kExitOk : kExitFailed;
}
