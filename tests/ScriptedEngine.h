#pragma once

#include "EchoEngine.h"

#include <QStringList>

// An engine for window tests: it records every setting written, in order,
// as "name=value", and raises its notifications only when the test says so.
class ScriptedEngine : public EchoEngine {
    Q_OBJECT

  public:
    QStringList writes;
    double lastSent = 0;

    bool running() const override { return running_; }
    void setRunning(bool on) override { record("running", on, running_); }
    void setSynchronous(bool on) override { record("synchronous", on, synchronous_); }
    QString resolvedAddress;

    QString host() const override { return host_; }
    QString address() const override { return resolvedAddress; }
    void setHost(const QString &host) override { record("host", host, host_); }
    double interval() const override { return interval_; }
    void setInterval(double ms) override { record("interval", ms, interval_); }
    double payloadSize() const override { return payload_; }
    void setPayloadSize(double bytes) override { record("payload", bytes, payload_); }
    void setRestartSequence(bool on) override { record("restart", on, restart_); }
    void setTimeout(double ms) override { record("timeout", ms, timeout_); }
    void setDontFragment(bool on) override { record("dontFragment", on, dontFragment_); }
    double lastSequenceSent() const override { return lastSent; }

    // Stands in for the engine switching itself off.
    void stopByItself() { running_ = false; }
    // The same, with the failure and the notification the real engine gives.
    void giveUp(EchoFailure reason, int detail)
    {
        running_ = false;
        fail(reason, detail);
        emit stoppedSending();
    }
    void fail(EchoFailure reason, int detail, int seq = 0)
    {
        emit requestFailed(seq, reason, detail);
    }

    void sent(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            emit requestSent();
    }
    void reply(qint16 seq, qint32 ms) { emit replyReceived(seq, 64, ms); }
    void lose(qint16 seq) { emit requestLost(seq); }

  private:
    static QString show(bool v) { return v ? "true" : "false"; }
    static QString show(double v) { return QString::number(v, 'g', 17); }
    static QString show(const QString &v) { return '"' + v + '"'; }

    template <typename T> void record(const char *name, const T &value, T &field)
    {
        writes << QString(name) + '=' + show(value);
        field = value;
    }

    bool running_ = false;
    bool synchronous_ = false;
    QString host_;
    double interval_ = 0;
    double payload_ = 32;
    bool restart_ = false;
    double timeout_ = 0;
    bool dontFragment_ = false;
};
