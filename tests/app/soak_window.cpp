// The program as main wires it, for soak runs: the real window and engine,
// pinging the host given at the 10 ms interval, typed into the host box as
// a user would ("S:10", Enter).
#include "IcmpEngine.h"
#include "Privileges.h"
#include "frmPing.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    IcmpSockets sockets = openIcmpSockets();
    if (!dropPrivileges().empty())
        return 1;
    QApplication app(argc, argv);
    IcmpEngine engine(std::move(sockets));
    frmPing window(
        engine, [] {}, argv[1]);
    window.show();
    auto *box = window.findChild<QLineEdit *>("HostName");
    box->setText("S:10");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(box, &enter);
    return engine.interval() == 10 ? app.exec() : 1;
}
