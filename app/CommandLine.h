#pragma once

#include <QString>
#include <QStringView>

#include <string>

// The host text from the command line. Windows hands a program its command
// line as one string, and the host text is what follows the program's own
// name there, as typed; elsewhere it is the arguments after the program's
// name, joined by single spaces and otherwise as given.
// Each platform's own, in its folder.
QString commandLineText(int argc, const char *const *argv);

// Whether there is a display to open the window on; without one Qt would
// abort with a message about plugins that helps nobody. Each platform's own.
bool hasDisplay();

// Says `text` to whoever started the program, before there is a window: on
// standard output, or on standard error for an error. Each platform's own:
// a Windows program of the GUI kind has no console of its own, so it writes
// to its caller's (or where the caller redirected it), and with neither it
// shows a message box.
void tellUser(const std::string &text, bool isError);

// What follows the program's name and the blanks after it in a Windows
// command line. The name is quoted or ends at the first blank, as the
// system's own parsing has it.
QString argumentText(QStringView commandLine);

// What the command line asks for before any window: a host text (or none)
// to run with, help, the version, or an option that does not exist. Options
// are the first word of the host text when it starts with "-".
enum class CommandLineRequest { Run, Help, Version, UnknownOption };
CommandLineRequest commandLineRequest(const QString &hostText);
