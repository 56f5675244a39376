#include "CommandLine.h"

#include <QStringList>

QString commandLineText(int argc, const char *const *argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments.join(' ');
}
