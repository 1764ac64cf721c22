#include "app/SendArguments.h"

namespace skiro {

std::vector<std::string> sendArguments(int argc, char* argv[]) {
    return std::vector<std::string>(argv, argv + argc);
}

QString argumentText(const std::string& arg) {
    return QString::fromLocal8Bit(arg.c_str());
}

} // namespace skiro
