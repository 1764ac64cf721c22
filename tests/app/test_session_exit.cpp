#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "tests/serial/PtyPair.h"

namespace {

using namespace skiro;

std::vector<std::string> logLines(const QString& folder) {
    const QStringList logs = QDir(folder).entryList({"*.log"}, QDir::Files);
    if (logs.size() != 1)
        return {};
    std::ifstream in(QDir(folder).filePath(logs.front()).toStdString(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::string> lines;
    std::string text = all.str();
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Closing while text is still waiting to be shown: every complete line that had arrived is in
// the log, in order, before the stop stamp; the unfinished last line is not a line yet.
TEST(ExitWithThePortOpen, WaitingLinesAreLoggedBeforeTheStopStamp) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir folder;
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << pty.slavePath << "\r\n";
    }
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    app.frame()->action(ID_START)->trigger();
    ASSERT_TRUE(app.document()->session().isOpen());

    const std::string sent = "L1\rL2\rL3\rL4";
    pty.send(sent);
    // The pty hands the bytes over asynchronously; the window closes before it shows them.
    ASSERT_TRUE(test::waitFor([&] { return pty.waiting() >= sent.size(); }));
    app.frame()->close();

    const std::vector<std::string> lines = logLines(folder.path());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(endsWith(lines[0], "\x83X\x83^\x81[\x83g")); // スタート
    EXPECT_EQ(lines[1], "L1");
    EXPECT_EQ(lines[2], "L2");
    EXPECT_EQ(lines[3], "L3");
    EXPECT_TRUE(endsWith(lines[4], "\x83X\x83g\x83"
                                   "b\x83v")); // ストップ
}

} // namespace
