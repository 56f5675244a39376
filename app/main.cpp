#include "CommandLine.h"
#include "IcmpEngine.h"
#include "PermissionAdvice.h"
#include "Privileges.h"
#include "frmPing.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char *argv[])
{
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
    const QString hostText = commandLineText(argc, argv);
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
