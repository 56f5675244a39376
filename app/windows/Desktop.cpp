#include "CommandLine.h"

#include <windows.h>

// Windows hands over the command line as typed, whatever argv says.
QString commandLineText(int, const char *const *)
{
    return argumentText(QString::fromWCharArray(GetCommandLineW()));
}

bool hasDisplay()
{
    return true;
}
