#include "app/CMarelDoc.h"

#include <cstdio>

#include "core/SettingsStore.h"

namespace skiro {

CMarelDoc::CMarelDoc(AppPaths paths, const StringTable& strings, const Clock& clock)
    : m_paths(std::move(paths)), m_strings(strings), m_clock(clock), m_profile(m_paths.profileFile, &m_conversion),
      m_recorder(m_settings, clock, strings, m_paths.logFolder),
      m_session(m_settings, m_profile, strings, m_recorder) {}

CMarelDoc::~CMarelDoc() = default;

void CMarelDoc::loadSettings() {
    m_profile = Profile::load(m_paths.profileFile, &m_conversion);
    skiro::loadSettings(m_profile, m_settings, Kinsoku);
}

ProfileSaveResult CMarelDoc::saveSettings() {
    skiro::saveSettings(m_settings, Kinsoku, m_profile);
    ProfileSaveResult result = m_profile.commit();
    if (!result.ok())
        std::fprintf(stderr, "skiro: settings not saved: %s\n", result.message.c_str());
    return result;
}

} // namespace skiro
