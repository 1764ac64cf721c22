#include "web/WebPage.h"

#include <QCryptographicHash>
#include <QFile>

namespace skiro {

namespace {

// The text between the first `open` tag and its closing tag: what a browser hashes for CSP.
QByteArray elementText(const QByteArray& html, const QByteArray& open, const QByteArray& close) {
    const qsizetype start = html.indexOf(open);
    if (start < 0)
        return {};
    const qsizetype body = start + open.size();
    const qsizetype end = html.indexOf(close, body);
    return end < 0 ? QByteArray() : html.mid(body, end - body);
}

QByteArray hashSource(const QByteArray& text) {
    return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() +
           "'";
}

WebPage loadPage() {
    WebPage page;
    QFile file(QStringLiteral(":/skiro/web/page.html"));
    if (file.open(QIODevice::ReadOnly))
        page.html = file.readAll();
    page.styleHash = hashSource(elementText(page.html, "<style>", "</style>"));
    page.scriptHash = hashSource(elementText(page.html, "<script>", "</script>"));
    return page;
}

} // namespace

const WebPage& WebPage::instance() {
    static const WebPage page = loadPage();
    return page;
}

QByteArray WebPage::contentSecurityPolicy(const QByteArray& streamOrigin) const {
    // 'self' covers ws: of the same host in current browsers; the explicit origin is for the
    // older ones that only matched http: with it.
    QByteArray connect = "'self'";
    if (!streamOrigin.isEmpty())
        connect += ' ' + streamOrigin;
    return "default-src 'none'; style-src " + styleHash + "; script-src " + scriptHash +
           "; connect-src " + connect +
           "; img-src 'none'; font-src 'none'; base-uri 'none'; form-action 'none'; "
           "frame-ancestors 'none'";
}

} // namespace skiro
