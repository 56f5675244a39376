#include "Program.h"

#include "Platform.h"
#include "TrayStatus.h"

#include <QIcon>

#include <cstdio>

std::unique_ptr<Program> Program::start(char *programPath, const QString &hostText,
                                        frmPing::Beep beep, std::string &failure)
{
    // The window never runs privileged.
    EchoChannels channels = openEchoChannels();
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
    return std::unique_ptr<Program>(
        new Program(programPath, std::move(channels), hostText, std::move(beep)));
}

Program::Program(char *programPath, EchoChannels channels, const QString &hostText,
                 frmPing::Beep beep)
    : toolkitArgv_{programPath, nullptr}, app_(toolkitArgc_, toolkitArgv_),
      engine_(std::move(channels)), window_(engine_, std::move(beep), hostText)
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/lagoscope-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName("org.lagoscope.Lagoscope");
    QGuiApplication::setApplicationDisplayName("Lagoscope");
    new TrayStatus(window_, engine_); // the window's, and ends with it
}

int Program::run()
{
    window_.show();
    return app_.exec();
}
