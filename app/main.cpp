#include "CommandLine.h"
#include "Program.h"

#include <cstdio>

namespace {

const char *const usage = "usage: lagoscope [host]\n"
                          "       lagoscope --help | --version\n";

} // namespace

int main(int argc, char *argv[])
{
    const QString hostText = commandLineText(argc, argv);
    switch (commandLineRequest(hostText)) {
    case CommandLineRequest::Help:
        std::printf("%sPings a host continuously and shows its lag and packet loss in a "
                    "window;\nwith a host, pinging starts at once. See man lagoscope.\n",
                    usage);
        return 0;
    case CommandLineRequest::Version:
        std::printf("lagoscope %s\n", LAGOSCOPE_VERSION);
        return 0;
    case CommandLineRequest::UnknownOption:
        std::fprintf(stderr, "lagoscope: unknown option %s\n%s",
                     qPrintable(hostText.section(u' ', 0, 0, QString::SectionSkipEmpty)), usage);
        return 2;
    case CommandLineRequest::Run:
        break;
    }
    if (!hasDisplay()) {
        std::fprintf(stderr, "lagoscope: no display to open the window on (DISPLAY and "
                             "WAYLAND_DISPLAY are not set)\n");
        return 1;
    }

    std::string failure;
    const auto program = Program::start(
        argv[0], hostText, [] { QApplication::beep(); }, failure);
    if (!program) {
        std::fprintf(stderr, "lagoscope: cannot give up privileges (%s); not starting\n",
                     failure.c_str());
        return 1;
    }
    return program->run();
}
