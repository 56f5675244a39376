#include "IdleEngine.h"
#include "frmPing.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char *argv[])
{
    // The arguments form the host text as they stand; the toolkit sees none
    // of them, so a host text is never taken for one of its options.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);

    IdleEngine engine;
    frmPing window(
        engine, [] { QApplication::beep(); }, arguments.join(' '));
    window.show();
    return app.exec();
}
