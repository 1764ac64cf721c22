#include <QCoreApplication>
#include <QStringList>

#include "app/SendArguments.h"

namespace skiro {

std::vector<std::string> sendArguments(int, char*[]) {
    std::vector<std::string> arguments;
    for (const QString& arg : QCoreApplication::arguments())
        arguments.push_back(arg.toStdString());
    return arguments;
}

QString argumentText(const std::string& arg) {
    return QString::fromStdString(arg);
}

} // namespace skiro
