#include "app/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "sjis/Sjis.h"

namespace skiro {

void QtClipboard::setText(std::string_view sjisTextWithCrLf) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(fromSjis(sjisTextWithCrLf));
}

} // namespace skiro
