#pragma once
#include <QObject>
#include <QString>

namespace skiro {

// Opens help pages in the desktop's browser and says when none could show them. On a desktop
// session it runs xdg-open itself and watches how it ends, because xdg-open starts fine and
// only its exit status tells that no browser was found; elsewhere (another platform, the
// offscreen one) Qt's desktop services open the page, so that a host's URL handler applies.
class HelpBrowser : public QObject {
    Q_OBJECT
  public:
    explicit HelpBrowser(QObject* parent = nullptr);

    // The program run with the page's path; empty for Qt's desktop services.
    void setOpener(QString program) { m_opener = std::move(program); }
    const QString& opener() const { return m_opener; }

    // Opens `page`, a local file; `failed` follows when it could not be shown.
    void open(const QString& page);

  signals:
    // Why the page could not be shown, in the user's words.
    void failed(const QString& page, const QString& reason);

  private:
    QString m_opener;
};

} // namespace skiro
