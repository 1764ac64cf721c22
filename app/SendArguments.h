#pragma once
#include <QString>

#include <string>
#include <vector>

// skiro-send's command line as each system hands it over (PosixSendArguments.cpp,
// WinSendArguments.cpp): the arguments as bytes, and a service name among them as text.
namespace skiro {

// The arguments, the program's name first; once the application object exists. Windows
// hands argv over in the ANSI code page, which cannot hold every character: there the command
// line is taken in Unicode instead and made UTF-8, as the texts are everywhere else.
std::vector<std::string> sendArguments(int argc, char* argv[]);

// An argument as text: UTF-8 on Windows, the locale's encoding elsewhere.
QString argumentText(const std::string& arg);

} // namespace skiro
