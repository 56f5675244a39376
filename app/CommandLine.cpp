#include "CommandLine.h"

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
