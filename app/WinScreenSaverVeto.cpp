#include <windows.h>

#include "app/ScreenSaverVeto.h"

// The screen-saver veto on Windows: the user-interface thread tells the system that the display
// is in use, which keeps both the screen saver and the display's power saving away while the
// SKIRO window is active.
namespace skiro {

ScreenSaverVeto::~ScreenSaverVeto() {
    setActive(false);
}

void ScreenSaverVeto::setActive(bool active) {
    if (active == holding())
        return;
    if (active) {
        if (::SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED) !=
            0)
            m_cookie = 1;
        return;
    }
    ::SetThreadExecutionState(ES_CONTINUOUS);
    m_cookie = 0;
}

} // namespace skiro
