#pragma once
#include <QString>
#include <cstdint>

namespace skiro {

// Keeps the desktop's screen saver from starting while the SKIRO window is active, through the
// desktop's screen-saver service on the session bus. Where the desktop has none (no session
// bus, no service) it does nothing, quietly: the display goes on either way.
class ScreenSaverVeto {
  public:
    ~ScreenSaverVeto();
    // Asks for the veto while active, gives it back otherwise.
    void setActive(bool active);
    bool holding() const { return m_cookie != 0; }

  private:
    std::uint32_t m_cookie = 0;
    QString m_path;
};

} // namespace skiro
