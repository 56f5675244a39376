#pragma once

#include "EchoEngine.h"
#include "FrameScheduler.h"
#include "LagGraph.h"
#include "LagHistory.h"
#include "RunCounts.h"
#include "RunFigures.h"

#include <QWidget>

#include <functional>
#include <vector>

class FailureLine;
class GraphBand;
class HostBox;
class QCheckBox;
class QLabel;
class QPushButton;
class ValueLabel;

// The program's one window: host box, Start/Stop button, counters, and the
// lag graph drawn into a persistent back buffer. The echo engine and the
// system beep are handed in, so tests can script the one and count the other.
class frmPing : public QWidget {
    Q_OBJECT

  public:
    using Beep = std::function<void()>;

    frmPing(EchoEngine &engine, Beep beep, const QString &commandLine, QWidget *parent = nullptr);

    const LagHistory &lagHistory() const { return history_; }
    // The persistent drawing the graph is painted into, up to date.
    const QImage &drawing() { return graph_.image(); }
    double sentCount() const { return counts_.sent(); }
    double recvCount() const { return counts_.received(); }
    double lastSeq() const { return lastSeq_; }
    // What the window shows now, as numbers.
    const RunFigures &figures() const { return update_.figures; }

    void Command1_Click();
    // Says what became of a command of the user's in the failure line, until
    // the next Start.
    void tellUser(const QString &text);

  signals:
    // For watchers outside the window (the tray, the notices): sent once
    // each notification, Start, Stop or new interval has been handled.
    void published(const RunUpdate &update);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void createControls();
    ValueLabel *addValue(QLabel *caption, const char *name, const QRect &geometry);
    void Form_Load();
    void HostName_GotFocus();
    void HostName_KeyPress(qint16 &KeyAscii);
    void Ping1_RequestSent();
    void Ping1_Reply(qint16 seq, int value, qint32 time);
    void Ping1_Lost(qint16 seq);
    void Ping1_Failed(int sequence, EchoFailure reason, int detail);
    void Ping1_Stopped();
    void showWindowSpan();
    void handleSample(qint16 seq, int16_t sample, const RunSample &added);
    void pushLag(int16_t value, int times = 1);
    void turnOnPersistentDrawing();
    void tekenLag();
    void showGraph();
    void publish(RunEvent event);

    EchoEngine &Ping1;
    Beep beep_;
    QString commandLine_;

    QLabel *Label1 = nullptr;
    HostBox *HostName = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label2 = nullptr;
    ValueLabel *SendLabel = nullptr;
    QLabel *Label4 = nullptr;
    ValueLabel *RecvLabel = nullptr;
    QLabel *Label5 = nullptr;
    ValueLabel *LossLabel = nullptr;
    QLabel *Label3 = nullptr;
    ValueLabel *avping = nullptr;
    QLabel *Label6 = nullptr;
    ValueLabel *cping = nullptr;
    QLabel *Label8 = nullptr;
    ValueLabel *wndLoss = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label9 = nullptr;
    QCheckBox *Check1 = nullptr;
    FailureLine *failureLine_ = nullptr;
    GraphBand *graphBand_ = nullptr;
    std::vector<ValueLabel *> values_; // the window paints them

    LagHistory history_;
    LagDrawing graph_{history_};
    RunCounts counts_;
    double lastSeq_ = 0;
    RunUpdate update_; // the figures, and what the next publication adds
    FrameScheduler frames_;
};
