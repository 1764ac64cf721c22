#pragma once
#include <QFontDialog>

#include <optional>

#include "core/Settings.h"

// The font command's chooser: Qt's font dialog listing only the fonts that can show Japanese
// (which leaves out symbol fonts), without the effects controls, in points at the view's
// resolution. It refuses a face whose name the font record cannot hold, so that the face chosen
// is always the face drawn.
namespace skiro {

class FontChooser : public QFontDialog {
    Q_OBJECT
  public:
    // `dpi` is the view's logical resolution, at which the record's twips become pixels.
    // `unusableName` is the message shown when a face's name cannot be stored.
    FontChooser(const Font& record, int dpi, QString unusableName, QWidget* parent = nullptr);

    // The chosen font on the record's terms, based on `previous` for what the dialog does not
    // choose (underline, strike-out); nothing when the face's name cannot be stored.
    std::optional<Font> chosen(const Font& previous) const;

  protected:
    void done(int result) override;

  private:
    void labelInJapanese();

    int m_dpi;
    QString m_unusableName;
};

// The dialog's starting font for a record: the face the view draws it with, at the record's
// height in points.
QFont chooserFont(const Font& record, int dpi);
// A font from the dialog as a record: the height back in twips (a character height), weight,
// italic, pitch and the face name in Shift-JIS. Nothing when the face name does not fit in the
// record's 31 bytes or has characters Shift-JIS lacks.
std::optional<Font> describeFont(const QFont& chosen, int dpi, const Font& previous);

} // namespace skiro
