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
    return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() + "'";
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

const char kCodeStyle[] =
    "body{margin:0;padding:1.5rem;font:20px/1.6 sans-serif;background:#000;color:#f4f4f4}"
    "@media (prefers-color-scheme:light){body{background:#fbfbf8;color:#141414}}"
    "input,button{font:inherit;padding:.3rem .6rem;margin:.3rem .3rem 0 0}"
    "input{width:10em;max-width:100%}";

// The short page in Japanese that stands in for the captions: why, and a field for the code
// that sends it back to the page's own address.
QByteArray codePage(const QByteArray& message) {
    return QByteArray("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, "
                      "initial-scale=1\">\n<title>SKIRO 字幕</title>\n<style>") +
           kCodeStyle +
           "</style>\n</head>\n<body>\n<main>\n<h1>SKIRO 字幕</h1>\n<p role=\"alert\">" + message +
           "</p>\n"
           "<form method=\"get\" action=\"/\">\n<label for=\"code\">アクセスコード</label>\n"
           "<input id=\"code\" name=\"code\" autocomplete=\"off\" autocapitalize=\"none\" "
           "spellcheck=\"false\" required autofocus>\n<button type=\"submit\">表示する</button>\n"
           "</form>\n</main>\n</body>\n</html>\n";
}

} // namespace

const WebPage& WebPage::instance() {
    static const WebPage page = loadPage();
    return page;
}

QByteArray WebPage::contentSecurityPolicy() const {
    // 'self' covers the stream's ws: address on the page's own host and port.
    return "default-src 'none'; style-src " + styleHash + "; script-src " + scriptHash +
           "; connect-src 'self'" +
           "; img-src 'none'; font-src 'none'; base-uri 'none'; form-action 'none'; "
           "frame-ancestors 'none'";
}

QByteArray WebPage::codeRequest(bool codeGiven) {
    const QString message =
        codeGiven ? QStringLiteral("アクセスコードが違います。もう一度入力してください。")
                  : QStringLiteral("この字幕を見るにはアクセスコードが必要です。"
                                   "会場で案内されたコードを入力してください。");
    return codePage(message.toUtf8());
}

QByteArray WebPage::codeThrottled() {
    return codePage(QStringLiteral("アクセスコードの誤りが続いたため、しばらく受け付けません。"
                                   "1分ほど待ってから、もう一度入力してください。")
                        .toUtf8());
}

QByteArray WebPage::codeRequestPolicy() {
    // The form goes back to this address and nowhere else; no script at all.
    return "default-src 'none'; style-src " + hashSource(kCodeStyle) +
           "; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";
}

} // namespace skiro
