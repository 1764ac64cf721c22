#pragma once
#include <QObject>
#include <QString>
#include <memory>

#include "app/AppSystem.h"
#include "app/CMarelDoc.h"
#include "app/HelpBrowser.h"
#include "app/QtClipboard.h"
#include "app/SessionLink.h"
#include "app/UiTexts.h"
#include "app/WebViewPart.h"
#include "core/Clock.h"
#include "core/HelpTopics.h"
#include "core/Placement.h"
#include "core/StringTable.h"

namespace skiro {

class CMainFrame;
class CMarelView;
class LinkMark;
class SettingsCommands;
class FeedServer;
class RelayLink;

// Where the profile and the logs go for an executable in `exeFolder` named `exeBase`: beside
// it when that folder can be written, else in the user's configuration and data folders.
AppPaths settlePaths(const QString& exeFolder, const QString& exeBase);

// The folder of the help pages for an executable in `exeFolder`: help/ beside it (a build, a
// portable copy), else where an install puts them, found from the executable's own folder.
QString helpFolder(const QString& exeFolder);

// The application: start-up in its fixed order (resource bundle, paths, document, frame, view,
// placement), the help pages, the version dialog, and the end of the run, which always goes
// through the frame's close sequence, also for SIGTERM and SIGINT.
class CMarelApp : public QObject {
    Q_OBJECT
  public:
    CMarelApp(QString exeFolder, QString exeBase);
    ~CMarelApp() override;

    // Builds everything and shows the window; false when the window could not be made.
    bool initInstance(ShowCommand startup = ShowCommand::Normal);

    // Opens the help page that a help request maps to; shows the framework's message when no
    // page can be shown.
    void winHelp(HelpRequest request);

    CMarelDoc* document() const { return m_doc.get(); }
    CMainFrame* frame() const { return m_frame.get(); }
    // The local "Send" service; nullptr when it could not start (the reason went to stderr).
    FeedServer* feedServer() const { return m_feeds.get(); }
    // The relay through an MQTT broker, as the [Relay] settings say.
    RelayLink* relay() const { return m_relay.get(); }
    const UiTexts& texts() const { return m_texts; }
    bool resourceBundleUsed() const { return m_bundleUsed; }
    // The page a help topic opens, in helpFolder().
    QString helpPage(std::uint32_t topic) const;
    HelpBrowser& helpBrowser() { return m_helpBrowser; }

    // The 秀Term link the misc settings switch on and off: linking answers whether the link
    // came up, and tells the user itself when it did not. 秀Term exists only on Windows, so
    // elsewhere it never comes up.
    bool linkTerm();
    void unlinkTerm();

    // Makes the end of the run from outside (SIGTERM and SIGINT, the end of the user's session)
    // close the window like its close box does.
    void closeOnTerminationSignals();

    // --web[=PORT]: the web view is on for this run, at `port` (0: the profile's port), whatever
    // the profile says; the profile itself is left as it is. Before initInstance().
    void setWebForThisRun(int port) {
        m_webForRun = true;
        m_webRunPort = port;
    }
    // The running web view; nullptr when it is off or the build has none.
    WebService* webService() const { return m_webView ? m_webView->service() : nullptr; }

  private:
    void onCommand(int id);
    // Starts, moves or stops the web view to match the settings and the command line.
    void applyWebView();
    void showWebDialog();
    bool isEnabled(int id) const;
    void closeDocument();
    // The framework's help message, why the page could not be shown and where it is, so that
    // the user can open it by hand.
    void showHelpFailure(const QString& page, const QString& reason);

    QString m_exeFolder;
    QString m_exeBase;
    UiTexts m_texts;
    StringTable m_strings;
    SystemClock m_clock;
    QtClipboard m_clipboard;
    HelpBrowser m_helpBrowser;
    bool m_bundleUsed = false;
    std::unique_ptr<CMarelDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    CMarelView* m_view = nullptr; // owned by the frame
    std::unique_ptr<SessionLink> m_sessionLink;
    LinkMark* m_linkMark = nullptr; // owned by the frame
    std::unique_ptr<SettingsCommands> m_settingsCommands;
    std::unique_ptr<FeedServer> m_feeds;
    // The system's own ways in beside the Send service (DDE and 秀Term on Windows).
    std::unique_ptr<SystemInlets> m_inlets;
    std::unique_ptr<WebViewPart> m_webView;
    std::unique_ptr<RelayLink> m_relay;
    bool m_webForRun = false;
    int m_webRunPort = 0;
};

} // namespace skiro
