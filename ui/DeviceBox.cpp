#include "ui/DeviceBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QLineEdit>

namespace skiro {

DeviceBox::DeviceBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Return is the dialog's OK, and a typed path is the box's value, not a new list item;
    // completion would put a listed name in place of what is being typed.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    view()->setTextElideMode(Qt::ElideMiddle);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && static_cast<std::size_t>(index) < m_items.size())
            m_path = m_items[static_cast<std::size_t>(index)].path;
        showPath();
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        m_path = text.trimmed();
        // The label of the machine's own numbering, left as it was shown, is no path.
        if (!m_items.empty() && m_items.front().path.isEmpty() && m_path == m_items.front().label)
            m_path.clear();
        setToolTip(m_path);
    });
}

void DeviceBox::setItems(const std::vector<DeviceItem>& items) {
    m_items = items;
    const QSignalBlocker quiet(this);
    clear();
    for (const DeviceItem& item : m_items) {
        addItem(item.label, item.path);
        setItemData(count() - 1, item.path.isEmpty() ? item.label : item.path, Qt::ToolTipRole);
    }
    setMaxVisibleItems(std::max(1, std::min(count(), 12)));
    showPath();
}

void DeviceBox::setPath(const QString& path) {
    m_path = path.trimmed();
    showPath();
}

QString DeviceBox::labelOf(const QString& path) const {
    for (const DeviceItem& item : m_items) {
        if (item.path == path)
            return item.label;
    }
    return path;
}

void DeviceBox::showPath() {
    {
        const QSignalBlocker quiet(this);
        int index = -1;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].path == m_path)
                index = static_cast<int>(i);
        }
        setCurrentIndex(index);
    }
    setToolTip(m_path.isEmpty() ? labelOf(m_path) : m_path);
    QLineEdit* edit = lineEdit();
    if (edit->hasFocus()) {
        // The machine's own numbering has no path to show: its label stands in the field,
        // chosen whole, so that typing a path replaces it.
        if (m_path.isEmpty() && !m_items.empty()) {
            edit->setText(labelOf(m_path));
            edit->selectAll();
            return;
        }
        edit->setText(m_path);
        return;
    }
    const QMargins margins = edit->textMargins();
    const int room = edit->width() - margins.left() - margins.right() - 6;
    edit->setText(edit->fontMetrics().elidedText(labelOf(m_path), Qt::ElideMiddle, room));
    edit->setCursorPosition(0);
}

bool DeviceBox::event(QEvent* event) {
    // The dialog's hover help shows the whole path below its own text; a second box from the
    // toolkit would cover it.
    if (event->type() == QEvent::ToolTip) {
        event->accept();
        return true;
    }
    return QComboBox::event(event);
}

void DeviceBox::focusInEvent(QFocusEvent* event) {
    QComboBox::focusInEvent(event);
    showPath();
    lineEdit()->selectAll();
}

void DeviceBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    showPath();
}

void DeviceBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    showPath();
}

} // namespace skiro
