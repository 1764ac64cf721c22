#include <QClipboard>
#include <QGuiApplication>
#include <gtest/gtest.h>

#include "app/QtClipboard.h"
#include "core/Recorder.h"

namespace {

// The relay puts each recorded line on the desktop clipboard as Unicode text with its CR LF,
// replacing what was there, also when the log is off.
TEST(ClipboardRelay, EachLineReplacesTheClipboardText) {
    skiro::Settings settings;
    settings.Log = 0;
    settings.ClipboardRelay = 1;
    skiro::SystemClock clock;
    skiro::StringTable strings;
    skiro::QtClipboard clipboard;
    skiro::Recorder recorder(settings, clock, strings, "/nonexistent/");
    recorder.setClipboard(&clipboard);

    recorder.recordLine("\x96{\x93\xFA\x82\xCD\xB1"); // 本日はｱ
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("本日はｱ\r\n"));
    recorder.recordLine("");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("\r\n"));
}

} // namespace
