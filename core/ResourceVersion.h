#pragma once
#include <optional>
#include <string_view>

// The rule that decides whether a resource bundle beside the executable may replace the
// program's own menus, strings and dialog texts: its file and product versions must carry the
// program's major and minor numbers (2.2); build and revision are not compared.
namespace skiro {

struct ModuleVersion {
    unsigned major = 0, minor = 0, build = 0, revision = 0;
};

struct ModuleVersions {
    ModuleVersion file;
    ModuleVersion product;
};

inline constexpr ModuleVersions kProgramVersions{{2, 2, 0, 0}, {2, 2, 0, 0}};

// "2.2.3.1" (one to four dot-separated numbers; missing parts are 0). Nothing for text that is
// not a version.
std::optional<ModuleVersion> parseModuleVersion(std::string_view text);

bool versionsMatch(const ModuleVersions& program, const ModuleVersions& bundle);

} // namespace skiro
