#include <QMessageBox>

#include "app/UiTexts.h"
#include "app/WebViewPart.h"

namespace skiro {

struct WebViewPart::Parts {};

WebViewPart::WebViewPart(Host host) : m_host(std::move(host)) {}

WebViewPart::~WebViewPart() = default;

void WebViewPart::apply(bool, int) {}

bool WebViewPart::showDialog(bool, int) {
    QMessageBox::information(m_host.window, m_host.texts.appTitle, m_host.texts.webViewMissing);
    return false;
}

void WebViewPart::directionChanged() {}

void WebViewPart::stop() {}

WebService* WebViewPart::service() const {
    return nullptr;
}

} // namespace skiro
