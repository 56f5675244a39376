#pragma once

#include "RunFigures.h"
#include "RunRecord.h"

#include <QByteArray>
#include <QString>

// The report of a run: a page that opens anywhere, needs nothing from
// elsewhere and prints on A4 (the figures, the graph of the whole run and
// its outages), and the record's rows as CSV.
QByteArray reportHtml(const RunRecord &record, const RunFigures &figures);
QByteArray reportCsv(const RunRecord &record);

// Writes the page to `htmlPath` and the rows beside it, under the same name
// ending in .csv, each to a temporary name first, so that an interrupted
// save leaves nothing half-written. False, with `error` saying why, when
// either cannot be written.
bool saveReport(const RunRecord &record, const RunFigures &figures, const QString &htmlPath,
                QString &error);
