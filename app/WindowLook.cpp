#include "WindowLook.h"

#include <QFontDatabase>
#include <QStringList>

QFont windowFont()
{
    // Liberation Sans has Arial's metrics, close to the original bitmap
    // font's widths; DejaVu Sans is wider and would clip "Average ping:".
    const QStringList preferred{"MS Sans Serif", "Liberation Sans", "Arial", "Helvetica"};
    const QStringList installed = QFontDatabase::families();
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    for (const QString &family : preferred) {
        if (installed.contains(family)) {
            font.setFamily(family);
            break;
        }
    }
    font.setPixelSize(11); // 8.25 pt at 96 dots per inch
    font.setBold(true);
    return font;
}
