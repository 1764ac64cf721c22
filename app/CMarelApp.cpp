#include "app/CMarelApp.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/LinkMark.h"
#include "app/RelayLink.h"
#include "app/SettingsCommands.h"
#include "display/CMarelView.h"
#include "feed/FeedServer.h"
#include "ui/CScrollDialog.h"

namespace skiro {
namespace {

std::string withSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return pathBytes(folder);
}

} // namespace

AppPaths settlePaths(const QString& exeFolder, const QString& exeBase) {
    AppPaths paths;
    paths.serviceName = exeBase.toStdString();
    paths.exeFolder = withSlash(exeFolder);
    // A portable install keeps its profile and logs beside the program. An installed program
    // (its help pages under its prefix, not beside it) and one in a folder the user cannot
    // write keep them in the user's own folders instead: root, who can write /usr/bin, too.
    const bool installed = !QFileInfo(exeFolder + QStringLiteral("/help")).isDir() &&
                           QFileInfo(helpFolder(exeFolder)).isDir();
    if (canWriteIn(exeFolder) && !installed) {
        paths.logFolder = paths.exeFolder;
        paths.profileFile = paths.exeFolder + pathBytes(exeBase) + ".ini";
        return paths;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(config);
    QDir().mkpath(data);
    paths.logFolder = withSlash(data);
    paths.profileFile = withSlash(config) + pathBytes(exeBase) + ".ini";
    return paths;
}

CMarelApp::CMarelApp(QString exeFolder, QString exeBase)
    : m_exeFolder(std::move(exeFolder)), m_exeBase(std::move(exeBase)) {
    connect(&m_helpBrowser, &HelpBrowser::failed, this, &CMarelApp::showHelpFailure);
}

CMarelApp::~CMarelApp() {
    m_inlets.reset();
    m_feeds.reset();
    m_relay.reset();
    m_frame.reset();
}

bool CMarelApp::initInstance(ShowCommand startup) {
    // 1-3. The resource bundle replaces the built-in texts only when its version matches.
    m_bundleUsed =
        applyResourceBundle(m_exeFolder + QStringLiteral("/SKIRORES.ini"), m_texts, m_strings);
    // 7. The profile must be settled before the document reads its settings from it.
    AppPaths paths = settlePaths(m_exeFolder, m_exeBase);

    // 8. Document, then frame and view; the document loads the settings as it is created.
    m_doc = std::make_unique<CMarelDoc>(std::move(paths), m_strings, m_clock);
    m_doc->loadSettings();
    m_doc->recorder().setClipboard(&m_clipboard);

    CMainFrame::Handlers handlers;
    handlers.command = [this](int id) { onCommand(id); };
    handlers.enabled = [this](int id) { return isEnabled(id); };
    handlers.closeDocument = [this] { closeDocument(); };
    handlers.help = [this](std::uint32_t context) { winHelp({context, HelpCommand::Context}); };
    m_frame = std::make_unique<CMainFrame>(*m_doc, m_texts, std::move(handlers));
    if (!m_frame) {
        QMessageBox::critical(nullptr, m_texts.appTitle, m_texts.createFailed);
        return false;
    }
    m_sessionLink = std::make_unique<SessionLink>(m_frame.get(), m_texts.appTitle,
                                                  [this] { m_frame->updateCommandStates(); });
    m_doc->session().setView(m_sessionLink.get());
    auto* view = m_view =
        new CMarelView(m_doc->settings(), m_doc->recorder(), m_clock, m_strings, m_frame.get());
    m_sessionLink->setView(
        {[view](SerialPort* port, ReadyEvent* readyEvent) { view->setSession(port, readyEvent); },
         [view] { return view->intake().readPort(); }, [view] { view->intake().endArrivingLine(); },
         [view] { view->postDataReady(); }, [view] { return view->canPostDataReady(); }});
    m_sessionLink->setHelp([this] { winHelp({0x10000u + ID_START, HelpCommand::Context}); });
    connect(view, &CMarelView::sendFailed, this, [this](const QString& message) {
        QMessageBox::critical(m_frame.get(), m_texts.appTitle, message);
    });
    // The popup shares the menu bar's commands, so it shows their states as the menu bar does.
    if (QMenu* popup = view->contextMenu())
        connect(popup, &QMenu::aboutToShow, m_frame.get(), &CMainFrame::updateCommandStates);
    view->setChooserHelp([this](int dialogId) {
        winHelp({0x20000u + static_cast<std::uint32_t>(dialogId), HelpCommand::Context});
    });
    view->setMinimumSize(160, 120);
    m_frame->setView(view);
    m_linkMark = new LinkMark(m_texts.linkWaiting, view, m_frame.get());
    m_sessionLink->setWaitingHook([this](bool waiting, const QString& device) {
        m_linkMark->showWaiting(waiting, device);
        m_frame->setWindowTitle(waiting ? m_texts.linkWaitingTitle.arg(m_texts.appTitle, device)
                                        : m_texts.appTitle);
    });
    m_frame->resize(640, 480);
    m_settingsCommands = std::make_unique<SettingsCommands>(
        *m_doc, *m_frame, *view,
        [this](int templateId) {
            winHelp({0x20000u + static_cast<std::uint32_t>(templateId), HelpCommand::Context});
        },
        SettingsCommands::TermLink{[this] { return linkTerm(); }, [this] { unlinkTerm(); }});

    // Other programs of the user hand text over through the "Send" service, whether or not
    // the serial session runs. Without it the display still works: the reason goes to stderr.
    m_feeds = std::make_unique<FeedServer>(
        m_exeBase, [view](std::string_view text) { view->receiveText(text); });
    if (!m_feeds->listen()) {
        std::fprintf(stderr, "%s: the Send service stays off: %s\n",
                     qPrintable(m_exeBase), qPrintable(m_feeds->error()));
        m_feeds.reset();
    }

    m_inlets = std::make_unique<SystemInlets>(
        m_exeBase, m_frame.get(), [view](std::string_view text) { view->receiveText(text); });
    m_webView = std::make_unique<WebViewPart>(WebViewPart::Host{
        *m_doc, m_texts, m_clock, m_frame.get(), view, [this](int templateId) {
            winHelp({0x20000u + static_cast<std::uint32_t>(templateId), HelpCommand::Context});
        }});

    // 9. Back where it was at the last close.
    m_frame->restorePlacement(startup);
    applyWebView();
    m_relay = std::make_unique<RelayLink>(*m_doc, *view, m_frame.get(), m_texts.appTitle);
    m_relay->apply();
    return true;
}

bool CMarelApp::isEnabled(int id) const {
    switch (id) {
    case ID_FONT:
    case ID_TEXT_COLOR:
    case ID_BACK_COLOR:
    case ID_SCROLL:
        return true;
    // Serial settings never change under a running session, also while it waits for its
    // device to come back.
    case ID_SERIAL:
        return !m_doc->session().isRunning();
    case ID_START:
        return !m_doc->session().isRunning();
    case ID_STOP:
        return m_doc->session().isRunning();
    default:
        return true;
    }
}

void CMarelApp::onCommand(int id) {
    switch (id) {
    case ID_APP_ABOUT: {
        CAboutDlg dialog(m_texts, m_frame.get());
        dialog.exec();
        break;
    }
    case ID_START:
        m_doc->session().startSession();
        break;
    case ID_SERIAL:
        m_settingsCommands->serial();
        break;
    case ID_OUTLINE:
        m_settingsCommands->outline();
        break;
    case ID_KINSOKU:
        m_settingsCommands->kinsoku();
        break;
    case ID_MISC:
        m_settingsCommands->misc();
        break;
    case ID_WEB:
        showWebDialog();
        break;
    case ID_RELAY:
        m_relay->showDialog([this](int templateId) {
            winHelp({0x20000u + static_cast<std::uint32_t>(templateId), HelpCommand::Context});
        });
        break;
    case ID_STOP:
        m_doc->session().stopSession();
        break;
    // The view's commands.
    case ID_FONT:
        m_view->chooseFont();
        break;
    case ID_TEXT_COLOR:
        m_view->chooseTextColour();
        break;
    case ID_BACK_COLOR:
        m_view->chooseBackColour();
        break;
    case ID_SCROLL:
        m_view->scrollSettings([this](ScrollPage& page) {
            CScrollDialog dialog(
                m_strings,
                [this](int templateId) {
                    winHelp({0x20000 + static_cast<std::uint32_t>(templateId),
                             HelpCommand::Context});
                },
                m_frame.get());
            dialog.page() = page;
            if (dialog.exec() != QDialog::Accepted)
                return false;
            page = dialog.page();
            return true;
        });
        m_webView->directionChanged();
        break;
    case ID_HELP_INDEX:
        winHelp({0, HelpCommand::Contents});
        break;
    case ID_HELP_USING:
        winHelp({0x10000 + ID_HELP_USING, HelpCommand::Context});
        break;
    case ID_HELP:
        // F1 outside the menus: the frame's own help context, which maps to the general page.
        // (F1 on a highlighted menu item and the help mode of Shift+F1 are the frame's.)
        winHelp({CMainFrame::kFrameHelpContext, HelpCommand::Context});
        break;
    default:
        break;
    }
}

QString helpFolder(const QString& exeFolder) {
    const QString beside = exeFolder + QStringLiteral("/help");
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(exeFolder + QStringLiteral("/" SKIRO_HELP_FROM_BIN));
}

QString CMarelApp::helpPage(std::uint32_t topic) const {
    return helpFolder(m_exeFolder) + QStringLiteral("/%1.html").arg(topic);
}

void CMarelApp::winHelp(HelpRequest request) {
    const HelpRequest mapped = mapHelpRequest(request);
    // The contents are the page of the help contents command.
    const std::uint32_t topic = mapped.command == HelpCommand::Contents ? 5050 : mapped.data;
    const QString page = helpPage(topic);
    if (!QFileInfo(page).isFile()) {
        showHelpFailure(page, QStringLiteral("ヘルプのページが見つかりません。"));
        return;
    }
    m_helpBrowser.open(page);
}

void CMarelApp::showHelpFailure(const QString& page, const QString& reason) {
    QMessageBox::critical(
        m_frame.get(), m_texts.appTitle,
        QStringLiteral("%1\n%2\n\nページの場所:\n%3").arg(m_texts.helpFailed, reason, page));
}

bool CMarelApp::linkTerm() {
    if (m_inlets && m_inlets->linkTerm())
        return true;
    // The frame tells the user that 秀Term could not be reached.
    return m_frame->linkTerm();
}

void CMarelApp::unlinkTerm() {
    if (m_inlets)
        m_inlets->unlinkTerm();
    m_frame->unlinkTerm();
}

void CMarelApp::applyWebView() {
    m_webView->apply(m_webForRun, m_webRunPort);
}

void CMarelApp::showWebDialog() {
    if (!m_webView->showDialog(m_webForRun, m_webRunPort))
        return;
    m_webForRun = false;
    applyWebView();
}

void CMarelApp::closeDocument() {
    // The profile first (the frame has put the placement into it): whatever the rest of the
    // close meets, the settings and the window's place are kept.
    m_doc->saveSettings();
    // The window leaves the screen at once; what follows may take a moment with a long backlog
    // or a sender that does not answer.
    if (m_frame)
        m_frame->hide();
    if (m_view)
        m_view->stopDisplay();
    // The conversations end first: each client is told, and the clients get 2 s in all to
    // answer.
    if (m_feeds)
        m_feeds->shutdown();
    if (m_inlets)
        m_inlets->shutdown();
    if (m_frame)
        unlinkTerm();
    // The web view goes first: no viewer is told anything after the window is gone.
    if (m_webView)
        m_webView->stop();
    // The view does no more work: what it had not shown to the end is recorded, in order,
    // after a stamp saying so and before the stop stamp. The port is read out and closed
    // first, so that every byte taken from it is in intake by then and recorded once.
    const auto recordUnshown = [this] {
        if (m_view)
            m_view->intake().recordUnshownLines();
    };
    if (m_doc->session().isRunning())
        m_doc->session().stopSession(recordUnshown);
    else
        recordUnshown();
    // The lines still queued for the room get a moment to reach the broker.
    if (m_relay)
        m_relay->shutdown();
    m_doc->recorder().setClipboard(nullptr);
}

void CMarelApp::closeOnTerminationSignals() {
    closeOnTermination(this, [this] {
        if (m_frame)
            m_frame->close();
    });
}

} // namespace skiro
