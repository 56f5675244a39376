#include "CommandLine.h"

#include <QStringList>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString commandLineText([[maybe_unused]] int argc, [[maybe_unused]] const char *const *argv)
{
#ifdef Q_OS_WIN
    return argumentText(QString::fromWCharArray(GetCommandLineW()));
#else
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments.join(' ');
#endif
}

QString argumentText(QStringView commandLine)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype at = 0;
    if (commandLine.startsWith(u'"')) {
        const qsizetype closing = commandLine.indexOf(u'"', 1);
        at = closing < 0 ? commandLine.size() : closing + 1;
    }
    while (at < commandLine.size() && !blank(commandLine[at]))
        ++at;
    while (at < commandLine.size() && blank(commandLine[at]))
        ++at;
    return commandLine.mid(at).toString();
}

CommandLineRequest commandLineRequest(const QString &hostText)
{
    const QString first = hostText.section(u' ', 0, 0, QString::SectionSkipEmpty);
    if (!first.startsWith(u'-'))
        return CommandLineRequest::Run;
    if (first == u"--help" || first == u"-h")
        return CommandLineRequest::Help;
    if (first == u"--version")
        return CommandLineRequest::Version;
    return CommandLineRequest::UnknownOption;
}
