#pragma once

#include "RunFigures.h"
#include "RunRecord.h"

#include <QObject>
#include <QPointer>

class QFileDialog;
class frmPing;

// Keeps the record of the run the window publishes, and saves its report
// where the user says: Ctrl+S in the window, or the tray's "Save report…",
// opens a save dialog in the user's documents. The program writes nothing
// else, and nothing by itself.
class ReportSaver : public QObject {
    Q_OBJECT

  public:
    explicit ReportSaver(frmPing &window);

    // Opens the dialog, or brings it forward when it is open already.
    void ask();
    const RunRecord &record() const { return record_; }

  private:
    void published(const RunUpdate &update);
    void save(const QString &htmlPath);

    frmPing &window_;
    RunRecord record_;
    bool recording_ = false; // since the first Start
    QPointer<QFileDialog> dialog_;
};
