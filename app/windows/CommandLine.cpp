#include "CommandLine.h"

#include <windows.h>

#include <string>

// Windows hands over the command line as typed, whatever argv says.
QString commandLineText(int, const char *const *)
{
    return argumentText(QString::fromWCharArray(GetCommandLineW()));
}

bool hasDisplay()
{
    return true;
}

namespace {

// Where the caller wants this stream: the file or pipe it redirected it to,
// or else the caller's console, which a program of the GUI kind must attach
// to (it gets none of its own). Nothing when started from Explorer or the
// Start menu.
HANDLE callersStream(DWORD which)
{
    const HANDLE given = GetStdHandle(which);
    if (given && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN)
        return given;
    static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (!attached)
        return nullptr;
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return console == INVALID_HANDLE_VALUE ? nullptr : console;
}

// A console takes the text as characters; a file or a pipe as UTF-8.
bool writeTo(HANDLE stream, const std::string &text)
{
    DWORD written = 0;
    if (GetFileType(stream) == FILE_TYPE_CHAR) {
        const std::wstring wide = QString::fromStdString(text).toStdWString();
        if (WriteConsoleW(stream, wide.data(), DWORD(wide.size()), &written, nullptr))
            return true;
    }
    return WriteFile(stream, text.data(), DWORD(text.size()), &written, nullptr) &&
           written == text.size();
}

} // namespace

void tellUser(const std::string &text, bool isError)
{
    const HANDLE stream = callersStream(isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (stream && writeTo(stream, text))
        return;
    const std::wstring wide = QString::fromStdString(text).toStdWString();
    MessageBoxW(nullptr, wide.c_str(), L"Lagoscope",
                MB_OK | MB_SETFOREGROUND | (isError ? MB_ICONERROR : MB_ICONINFORMATION));
}
