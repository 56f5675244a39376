#pragma once

#include "IcmpEngine.h"
#include "frmPing.h"

#include <QApplication>

#include <memory>
#include <string>

// The program as it runs: echo channels opened while the process may still
// hold the right to open them (for the host, and for its gateway), privileges
// dropped, then the toolkit, the engines and the window. main, the test
// harnesses and the benches all start it here, so that what they run is what
// users run.
class Program {
  public:
    // Everything but the event loop; nothing, with `failure` saying why,
    // when the privileges cannot be given up.
    static std::unique_ptr<Program> start(char *programPath, const QString &hostText,
                                          frmPing::Beep beep, std::string &failure);

    IcmpEngine &engine() { return engine_; }
    frmPing &window() { return window_; }
    // Shows the window and runs until it closes.
    int run();
    // How the desktop knows the program: its name and its desktop entry.
    static void nameApplication();

  private:
    Program(char *programPath, EchoChannels channels, EchoChannels gatewayChannels,
            const QString &hostText, frmPing::Beep beep);

    // The toolkit sees none of the arguments, so a host text is never taken
    // for one of its options.
    int toolkitArgc_ = 1;
    char *toolkitArgv_[2];
    QApplication app_;
    IcmpEngine engine_;
    IcmpEngine gatewayEngine_; // the host's gateway's, on sockets of its own
    frmPing window_;
};
