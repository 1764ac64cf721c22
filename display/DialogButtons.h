#pragma once
#include <functional>

class QDialog;
class QVBoxLayout;

namespace skiro {

// The button column of the dialogs outside the settings pages (the web view, the relay): OK,
// ｷｬﾝｾﾙ and, where a help topic is given, ﾍﾙﾌﾟ and F1, at the top right in the same words as the
// settings dialogs, without icons. OK is the default button, so Return confirms and Escape
// cancels. The caller places the returned layout.
QVBoxLayout* dialogButtonColumn(QDialog& dialog, std::function<void()> help);

} // namespace skiro
