#include "CommandLine.h"
#include "IcmpEngine.h"
#include "PermissionAdvice.h"
#include "Privileges.h"
#include "frmPing.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

const char *const usage = "usage: lagoscope [host]\n"
                          "       lagoscope --help | --version\n";

// A window needs a display; without one Qt would abort with a message about
// plugins that helps nobody.
bool hasDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

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

    // Channels first, while the process may still hold the right to open
    // them; the window never runs privileged.
    EchoChannels channels = openEchoChannels();
    if (const std::string failure = dropPrivileges(); !failure.empty()) {
        std::fprintf(stderr, "lagoscope: cannot give up privileges (%s); not starting\n",
                     failure.c_str());
        return 1;
    }
    if (const std::string advice = permissionAdvice(channels, argv[0]); !advice.empty())
        std::fprintf(stderr, "%s\n", advice.c_str());

    // The toolkit sees none of the arguments, so a host text is never taken
    // for one of its options.
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/lagoscope-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName("org.lagoscope.Lagoscope");

    IcmpEngine engine(std::move(channels));
    frmPing window(
        engine, [] { QApplication::beep(); }, hostText);
    window.show();
    return app.exec();
}
