#pragma once

#include "EchoEngine.h"

// Holds the settings and sends nothing: it never claims a request or a reply.
class IdleEngine : public EchoEngine {
    Q_OBJECT

  public:
    using EchoEngine::EchoEngine;

    bool running() const override { return running_; }
    void setRunning(bool on) override { running_ = on; }
    bool synchronous() const override { return synchronous_; }
    void setSynchronous(bool on) override { synchronous_ = on; }
    QString host() const override { return host_; }
    void setHost(const QString &host) override { host_ = host; }
    double interval() const override { return interval_; }
    void setInterval(double ms) override { interval_ = ms; }
    double payloadSize() const override { return payload_; }
    void setPayloadSize(double bytes) override { payload_ = bytes; }
    bool restartSequence() const override { return restart_; }
    void setRestartSequence(bool on) override { restart_ = on; }
    double timeout() const override { return timeout_; }
    void setTimeout(double ms) override { timeout_ = ms; }
    bool dontFragment() const override { return dontFragment_; }
    void setDontFragment(bool on) override { dontFragment_ = on; }
    double lastSequenceSent() const override { return 0; }

  private:
    bool running_ = false;
    bool synchronous_ = false;
    QString host_;
    double interval_ = 100;
    double payload_ = 32;
    bool restart_ = false;
    double timeout_ = 2000;
    bool dontFragment_ = false;
};
