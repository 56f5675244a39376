#include "CommandLine.h"
#include "IcmpEngine.h"
#include "IcmpSocket.h"
#include "frmPing.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Sockets first, while the process may still hold the right to open
    // them; the window never runs privileged.
    IcmpSockets sockets = openIcmpSockets();
    dropPrivileges();
    if (const std::string advice = socketAdvice(sockets, argv[0]); !advice.empty())
        std::fprintf(stderr, "%s\n", advice.c_str());

    // The arguments form the host text as they stand; the toolkit sees none
    // of them, so a host text is never taken for one of its options.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);

    IcmpEngine engine(std::move(sockets));
    frmPing window(
        engine, [] { QApplication::beep(); }, arguments.join(' '));
    window.show();
    return app.exec();
}
