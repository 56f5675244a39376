#include "Program.h"

#include "GatewayWatch.h"
#include "Platform.h"
#include "ReportSaver.h"
#include "TrayStatus.h"

#include <QIcon>

#include <cstdio>

std::unique_ptr<Program> Program::start(char *programPath, const QString &hostText,
                                        frmPing::Beep beep, std::string &failure)
{
    // The window never runs privileged.
    EchoChannels channels = openEchoChannels();
    EchoChannels gatewayChannels = openEchoChannels();
    failure = dropPrivileges();
    if (!failure.empty())
        return nullptr;
    if (const std::string advice = permissionAdvice(channels, programPath); !advice.empty())
        std::fprintf(stderr, "%s\n", advice.c_str());
    // The window is small and a frame changes a few labels of it: sending
    // those pixels down the X connection is cheaper than a shared-memory
    // image, whose every reuse waits for a round trip to the server.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    return std::unique_ptr<Program>(new Program(
        programPath, std::move(channels), std::move(gatewayChannels), hostText, std::move(beep)));
}

Program::Program(char *programPath, EchoChannels channels, EchoChannels gatewayChannels,
                 const QString &hostText, frmPing::Beep beep)
    : toolkitArgv_{programPath, nullptr}, app_(toolkitArgc_, toolkitArgv_),
      engine_(std::move(channels)), gatewayEngine_(std::move(gatewayChannels)),
      window_(engine_, std::move(beep), hostText)
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/lagoscope-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    nameApplication();
    // The window's, and end with it.
    auto *reports = new ReportSaver(window_);
    auto *gateway = new GatewayWatch(window_, gatewayEngine_);
    new TrayStatus(window_, reports, gateway);
}

void Program::nameApplication()
{
    QGuiApplication::setDesktopFileName("org.lagoscope.Lagoscope");
    // The name, not a display name: Qt appends a display name to every
    // window title (" - Lagoscope"), and the caption is exactly the window's.
    // The name is also the X window class (the desktop entry's
    // StartupWMClass), the tray item's title and the notifications' sender.
    QGuiApplication::setApplicationName("Lagoscope");
}

int Program::run()
{
    window_.show();
    return app_.exec();
}
