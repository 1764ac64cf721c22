#pragma once
#include <QComboBox>
#include <QString>
#include <vector>

// The serial dialog's choice of device for a COM port: a list of the ports found, into which a
// path can also be typed. A long name (a by-id name carries maker, model and serial number) is
// cut in the middle, where it says least, both in the list and in the closed box; the tip
// shows the whole path, and the edit shows it whole while it is being typed in.
namespace skiro {

struct DeviceItem {
    QString path;  // stored for the COM port; empty for the machine's own numbering
    QString label; // what the list shows
};

class DeviceBox final : public QComboBox {
    Q_OBJECT
  public:
    explicit DeviceBox(QWidget* parent = nullptr);

    // The list, the first item standing for no path of its own; the current path stays.
    void setItems(const std::vector<DeviceItem>& items);
    // The chosen or typed path (trimmed), empty for the first item.
    QString path() const { return m_path; }
    void setPath(const QString& path);

  protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The edit's text for the current path: whole while it has the focus, else cut to fit.
    void showPath();
    QString labelOf(const QString& path) const;

    std::vector<DeviceItem> m_items;
    QString m_path;
};

} // namespace skiro
