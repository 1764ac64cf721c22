#include "display/HelpKey.h"

#include <QKeyEvent>
#include <QWidget>

namespace skiro {

HelpKey::HelpKey(QWidget& dialog, std::function<void()> help)
    : QObject(&dialog), m_help(std::move(help)) {
    dialog.installEventFilter(this);
}

bool HelpKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
            if (m_help)
                m_help();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace skiro
