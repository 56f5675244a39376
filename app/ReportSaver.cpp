#include "ReportSaver.h"

#include "RunReport.h"
#include "frmPing.h"

#include <QDateTime>
#include <QFileDialog>
#include <QRegularExpression>
#include <QShortcut>
#include <QStandardPaths>

ReportSaver::ReportSaver(frmPing &window) : QObject(&window), window_(window)
{
    connect(&window_, &frmPing::published, this, &ReportSaver::published);
    auto *shortcut = new QShortcut(QKeySequence::Save, &window_);
    connect(shortcut, &QShortcut::activated, this, &ReportSaver::ask);
    // A host on the command line started pinging before this was made.
    if (window_.figures().pinging)
        published({RunEvent::Start, window_.figures(), {}});
}

void ReportSaver::published(const RunUpdate &update)
{
    const auto now = RunRecord::Clock::now();
    switch (update.event) {
    case RunEvent::Start:
        record_.start(now, RunRecord::Wall::now());
        recording_ = true;
        return;
    case RunEvent::RequestSent:
        if (recording_)
            record_.requestSent(now);
        return;
    case RunEvent::Samples:
        if (!recording_)
            return;
        for (const RunSample &sample : update.added) {
            if (sample.answered)
                record_.answered(now, RunRecord::Wall::now(), sample.roundTripMs);
            else
                record_.lost(now, std::chrono::milliseconds(qint64(update.figures.intervalMs)));
        }
        return;
    default:
        return;
    }
}

void ReportSaver::ask()
{
    if (dialog_ && dialog_->isVisible()) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    // lagoscope-HOST-YYYYMMDD-HHMMSS.html, with what no file system takes
    // out of the host's name.
    const QString host = QString::fromStdString(window_.figures().host)
                             .replace(QRegularExpression("[^A-Za-z0-9._-]"), "_");
    const QString name = QString("lagoscope-%1-%2.html")
                             .arg(host.isEmpty() ? "nohost" : host,
                                  QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    dialog_ = new QFileDialog(&window_, "Save report", folder + '/' + name,
                              "Web page (*.html);;All files (*)");
    dialog_->setObjectName("reportDialog");
    dialog_->setAcceptMode(QFileDialog::AcceptSave);
    dialog_->setDefaultSuffix("html");
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog_, &QFileDialog::fileSelected, this, &ReportSaver::save);
    dialog_->open();
}

void ReportSaver::save(const QString &htmlPath)
{
    QString error;
    if (!saveReport(record_, window_.figures(), htmlPath, error))
        window_.tellUser("Cannot save the report: " + error);
}
