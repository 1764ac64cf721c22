#pragma once
#include <functional>
#include <memory>
#include <string>

#include "app/QtSjisConversion.h"
#include "core/Clock.h"
#include "core/Profile.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "serial/SerialSession.h"

namespace skiro {

// Where the profile and the daily logs live: beside the executable for a portable install, or
// in the user's folders when the executable's folder cannot be written.
struct AppPaths {
    std::string exeFolder;   // ends with '/'
    std::string profileFile; // <exe base>.ini
    std::string logFolder;   // where YYMMDD.log goes
    std::string serviceName; // the executable's base name
};

// The document: the one settings record, the profile it comes from and goes back to, the
// recorder of the log and clipboard, and (while Start is in force) the serial session. Lives
// for the whole run; the frame and the view reach the settings through it.
class CMarelDoc {
  public:
    CMarelDoc(AppPaths paths, const StringTable& strings, const Clock& clock);
    ~CMarelDoc();
    CMarelDoc(const CMarelDoc&) = delete;
    CMarelDoc& operator=(const CMarelDoc&) = delete;

    // Reads the profile and loads the settings and the kinsoku rule from it.
    void loadSettings();
    // Stores the settings into the profile and writes the profile once, into the file as it is
    // now. The frame has put its placement into the same profile before, so one rename carries
    // both. A profile that cannot be written (read-only, say) is left alone with one line on
    // standard error.
    ProfileSaveResult saveSettings();

    Settings& settings() { return m_settings; }
    const Settings& settings() const { return m_settings; }
    Profile& profile() { return m_profile; }
    Recorder& recorder() { return m_recorder; }
    // The serial connection: open between Start and Stop, closed at the end of the run.
    SerialSession& session() { return m_session; }
    const StringTable& strings() const { return m_strings; }
    const AppPaths& paths() const { return m_paths; }

  private:
    AppPaths m_paths;
    const StringTable& m_strings;
    const Clock& m_clock;
    Settings m_settings;
    QtSjisConversion m_conversion;
    Profile m_profile;
    Recorder m_recorder;
    SerialSession m_session;
};

} // namespace skiro
