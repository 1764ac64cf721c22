#pragma once
#include <string>
#include <string_view>

// The paths of the Windows file calls. Paths are UTF-8 in the program and go to the system's
// wide-character calls, so that a folder of any name works whatever the machine's code page;
// a path that is not UTF-8 is taken in the system's ANSI code page.
namespace skiro {

std::wstring widePath(std::string_view path);

// The errno value that stands for a Windows error code in the program's results (ENOENT for a
// missing file or folder, EACCES for one that is refused or in use, ENOSPC for a full disk,
// EIO for the rest).
int errnoFromWindows(unsigned long code);

} // namespace skiro
