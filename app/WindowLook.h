#pragma once

#include <QFont>

// The window's font: "MS Sans Serif" 8.25 pt bold where it is installed,
// otherwise the nearest sans serif at the same 11 pixels.
QFont windowFont();
