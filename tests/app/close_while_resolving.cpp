// The program as main starts it, pinging a host name whose lookup never
// answers: presses Start/Stop `presses` times, then closes the window after
// `ms` milliseconds and prints "closing" as it does.
// close_while_resolving NAME PRESSES MS
#include "Program.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    std::string failure;
    const auto program = Program::start(
        argv[0], argv[1], [] {}, failure);
    if (!program)
        return 1;
    frmPing &window = program->window();
    window.show();
    for (int i = 0; i < std::strtol(argv[2], nullptr, 10); ++i)
        window.Command1_Click();
    QTimer::singleShot(int(std::strtol(argv[3], nullptr, 10)), &window, [&] {
        std::printf("closing\n");
        std::fflush(stdout);
        window.close();
    });
    return program->run();
}
