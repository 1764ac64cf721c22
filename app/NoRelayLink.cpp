// The relay's part in a build without the relay (Windows): the dialog says so, and the display
// neither sends nor takes anything through a broker.
#include "app/RelayLink.h"

#include <QMessageBox>

namespace skiro {

struct RelayLink::Parts {};

RelayLink::RelayLink(CMarelDoc& doc, CMarelView& view, QWidget* frame, QString title)
    : m_doc(doc), m_view(view), m_frame(frame), m_title(std::move(title)) {}

RelayLink::~RelayLink() = default;

bool RelayLink::available() {
    return false;
}

RelayClient* RelayLink::client() const {
    return nullptr;
}

void RelayLink::apply() {}

void RelayLink::shutdown() {}

void RelayLink::showDialog(const std::function<void(int)>&) {
    QMessageBox::information(m_frame, m_title,
                             QStringLiteral("このWindows版には中継がありません。"));
}

void RelayLink::lineCompleted(std::string_view) {}

void RelayLink::lineGrowing(std::string_view) {}

} // namespace skiro
