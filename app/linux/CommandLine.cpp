#include "CommandLine.h"

#include <QStringList>

#include <cstdio>

QString commandLineText(int argc, const char *const *argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments.join(' ');
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

void tellUser(const std::string &text, bool isError)
{
    std::fputs(text.c_str(), isError ? stderr : stdout);
}
