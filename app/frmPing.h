#pragma once

#include "EchoEngine.h"
#include "FramePacer.h"
#include "LagGraph.h"
#include "LagHistory.h"

#include <QTimer>
#include <QWidget>

#include <functional>

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
    const QImage &drawing() const;
    double sentCount() const { return sentCount_; }
    double recvCount() const { return recvCount_; }
    double lastSeq() const { return lastSeq_; }

    void Command1_Click();

  signals:
    // For watchers outside the window (the tray): a request was handed over
    // and shown, answered or lost; a run began or ended; the engine gave up,
    // and why, as the failure line says it.
    void sampleShown(bool answered);
    void runningChanged(bool running);
    void gaveUp(const QString &why);

  protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    void createControls();
    void Form_Load();
    void HostName_GotFocus();
    void HostName_KeyPress(qint16 &KeyAscii);
    void Ping1_RequestSent();
    void Ping1_Reply(qint16 seq, int value, qint32 time);
    void Ping1_Lost(qint16 seq);
    void Ping1_Failed(int sequence, int reason, int detail);
    void Ping1_Stopped();
    void showWindowSpan();
    void showFailure(const QString &text);
    void dropStaleFailure();
    void handleSample(qint16 seq, int16_t sample);
    void pushLag(int16_t value, int times = 1);
    void turnOnPersistentDrawing();
    void tekenLag();
    void followGraph() const;
    void showGraph();
    void changed(bool mayWait);
    void scheduleFrame();
    void presentFrame();

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

    LagHistory history_;
    // Brought up to date as tekenLag asks, but only when painted or looked
    // at, so that several samples within one frame move the band once. What
    // the drawing changed and the screen does not show yet waits in
    // graphUnshown_.
    mutable LagDrawing graph_;
    mutable bool graphAsked_ = false;
    mutable LagDrawing::Change graphUnshown_;
    double sentCount_ = 0;
    double recvCount_ = 0;
    double lastSeq_ = 0;
    bool failureStale_ = false; // the line goes unless the event says it again

    FramePacer pacer_;
    QTimer frameTimer_;
    bool changesNoted_ = false; // the pacer knows of what Qt asks to repaint
};
