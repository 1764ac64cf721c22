// A window with the view alone, fed with Japanese lines at an interval, to look at scrolling,
// writing direction, outlines and colour commands without a serial line.
//
//   skiro-viewdemo [--direction 0|1] [--outline DOTS] [--outline-colour RRGGBB] [--fs]
//                  [--interval MS] [--size WxH] [--face NAME] [--font-twips N] [--step N]
//                  [--tick MS] [--timer 0|1|2] [--smooth 0|1] [--keep-up 0|1] [--lines FILE]
//                  [--shot FILE.png --shot-after MS]
//
// Lines from FILE are UTF-8, one per line; without it a built-in text is used.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "sjis/Sjis.h"

namespace {

const char* const kBuiltIn[] = {
    "本日は晴天なり。ただいまマイクのテスト中です。",
    "字幕表示システムのデモンストレーションです。",
    "「縦書き」でも、句読点や括弧は正しい形になります。",
    "長い行は窓の幅で折り返され、行頭禁則と行末禁則が働きます。ー・、。",
    "Half-width ｶﾀｶﾅ and Latin text mix with 漢字 and ひらがな.",
    "ゆっくりと、なめらかに、文字が流れていきます。",
};

std::string toCp932(const std::string& utf8) {
    return skiro::toSjis(QString::fromUtf8(utf8));
}

class NullRecorder : public skiro::LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

} // namespace

namespace {

// The options, each with its default in the help text, so that --help shows what a plain run
// does.
struct Options {
    QCommandLineOption direction{"direction", "0 horizontal, 1 vertical (default 0)", "n", "0"};
    QCommandLineOption outline{"outline", "outline dots, 0 for none (default 0)", "dots", "0"};
    QCommandLineOption outlineColour{"outline-colour", "outline colour (default 000000)", "RRGGBB",
                                     "000000"};
    QCommandLineOption fs{"fs", "colour commands on some lines"};
    QCommandLineOption interval{"interval", "ms between lines (default 1500)", "ms", "1500"};
    QCommandLineOption size{"size", "window size (default 960x540)", "WxH", "960x540"};
    QCommandLineOption face{"face", QString::fromUtf8("font face name (default ＭＳ ゴシック)"),
                            "name", QString::fromUtf8("ＭＳ ゴシック")};
    QCommandLineOption fontTwips{"font-twips", "character height in twips (default -720)", "n",
                                 "-720"};
    QCommandLineOption step{"step", "pixels per tick (default 2)", "n", "2"};
    QCommandLineOption tick{"tick", "ms per tick (default 50)", "ms", "50"};
    QCommandLineOption timer{"timer", "tick source 0, 1 or 2 (default 1)", "n", "1"};
    QCommandLineOption smooth{"smooth", "1 glide at the refresh, 0 whole steps (default 1)", "n",
                              "1"};
    QCommandLineOption keepUp{"keep-up", "1 keep up with the text (default 1)", "n", "1"};
    QCommandLineOption lines{"lines", "UTF-8 text file, one line each (default: built-in text)",
                             "file"};
    QCommandLineOption shot{"shot", "save a picture of the view and quit", "png"};
    QCommandLineOption shotAfter{"shot-after", "ms before the picture (default 8000)", "ms",
                                 "8000"};

    void addTo(QCommandLineParser& parser) const {
        parser.setApplicationDescription(
            "A window with the view alone, fed with Japanese lines at an interval.");
        parser.addOptions({direction, outline, outlineColour, fs, interval, size, face, fontTwips,
                           step, tick, timer, smooth, keepUp, lines, shot, shotAfter});
    }
};

bool asksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "--help-all")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const Options o;
    if (asksForHelp(argc, argv)) {
        // Help needs no display: a plain core application prints it and exits.
        QCoreApplication core(argc, argv);
        QCommandLineParser parser;
        parser.addHelpOption();
        o.addTo(parser);
        parser.process(core);
        return 0;
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    o.addTo(parser);
    parser.process(app);
    const auto& [direction, outline, outlineColour, fs, interval, size, face, fontTwips, step, tick,
                 timer, smooth, keepUp, lines, shot, shotAfter] = o;

    skiro::Settings settings;
    settings.Direction = parser.value(direction).toInt();
    settings.Outline = parser.value(outline).toInt() > 0;
    settings.LineCnt = std::max(1, parser.value(outline).toInt());
    const uint rrggbb = parser.value(outlineColour).toUInt(nullptr, 16);
    settings.OutlineColor = skiro::rgb(int(rrggbb >> 16), int(rrggbb >> 8), int(rrggbb));
    settings.Color.Back = skiro::rgb(0, 32, 96);
    settings.Font.lfHeight = parser.value(fontTwips).toInt();
    settings.Font.lfFaceName = skiro::toSjis(parser.value(face));
    settings.Step = parser.value(step).toInt();
    settings.Tick = parser.value(tick).toInt();
    settings.TimerMethod = parser.value(timer).toInt();
    settings.Smooth = parser.value(smooth).toInt();
    settings.KeepUp = parser.value(keepUp).toInt();
    settings.ExtCommands = parser.isSet(fs);
    skiro::Kinsoku.Type = 1;
    skiro::Kinsoku.Head = skiro::kDefaultKinsokuHead;
    skiro::Kinsoku.Tail = skiro::kDefaultKinsokuTail;

    std::vector<std::string> text;
    if (parser.isSet(lines)) {
        QFile file(parser.value(lines));
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    text.push_back(toCp932(line.trimmed().toStdString()));
    }
    if (text.empty())
        for (const char* line : kBuiltIn)
            text.push_back(toCp932(line));
    if (parser.isSet(fs)) {
        // Yellow text on one line, a green outline from another on; both stay with their lines.
        text[1] = "\x1cTCffff00:" + text[1];
        text[2] = "\x1cTCffffff:" + text[2];
        text[3] = "\x1c"
                  "OC008000:" +
                  text[3];
    }

    skiro::SystemClock clock;
    skiro::StringTable strings;
    NullRecorder recorder;
    skiro::CMarelView view(settings, recorder, clock, strings);
    const QStringList wh = parser.value(size).split('x');
    view.resize(wh.value(0).toInt(), wh.value(1).toInt());
    view.setWindowTitle("SKIRO view");
    view.show();

    std::size_t next = 0;
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        view.receiveText(text[next % text.size()] + "\r");
        ++next;
    });
    feeder.start(parser.value(interval).toInt());
    view.receiveText(text[next++] + "\r");

    if (parser.isSet(shot)) {
        QTimer::singleShot(parser.value(shotAfter).toInt(), [&] {
            view.grab().save(parser.value(shot));
            app.quit();
        });
    }
    return app.exec();
}
