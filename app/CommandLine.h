#pragma once

#include <QString>

// The host text from the command line: the arguments after the program's
// name, joined by single spaces and otherwise as given.
QString commandLineText(int argc, const char *const *argv);
