#include "CommandLine.h"
#include "Program.h"

#include <string>

namespace {

const char *const usage = "usage: lagoscope [host]\n"
                          "       lagoscope --help | --version\n";

} // namespace

int main(int argc, char *argv[])
{
    const QString hostText = commandLineText(argc, argv);
    switch (commandLineRequest(hostText)) {
    case CommandLineRequest::Help:
        tellUser(std::string(usage) +
                     "Pings a host continuously and shows its lag and packet loss in a "
                     "window;\nwith a host, pinging starts at once. See man lagoscope.\n",
                 false);
        return 0;
    case CommandLineRequest::Version:
        tellUser("lagoscope " LAGOSCOPE_VERSION "\n", false);
        return 0;
    case CommandLineRequest::UnknownOption:
        tellUser("lagoscope: unknown option " +
                     hostText.section(u' ', 0, 0, QString::SectionSkipEmpty).toStdString() + "\n" +
                     usage,
                 true);
        return 2;
    case CommandLineRequest::Run:
        break;
    }
    if (!hasDisplay()) {
        tellUser("lagoscope: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
                 "not set)\n",
                 true);
        return 1;
    }

    std::string failure;
    const auto program = Program::start(
        argv[0], hostText, [] { QApplication::beep(); }, failure);
    if (!program) {
        tellUser("lagoscope: cannot give up privileges (" + failure + "); not starting\n", true);
        return 1;
    }
    return program->run();
}
