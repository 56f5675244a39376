#pragma once

#include "BackgroundLookups.h"
#include "DeadlineTimer.h"
#include "EchoChannel.h"
#include "EchoEngine.h"
#include "Outstanding.h"
#include "Patience.h"
#include "ReplyOrder.h"
#include "SendSchedule.h"
#include "SequenceCounter.h"

#include <optional>

// The real pinger: ICMP echo over IPv4 and IPv6 on the platform's echo
// channels, opened before the program dropped its privileges. All work
// happens in timer and notifier callbacks on the thread that owns it.
class IcmpEngine : public EchoEngine {
    Q_OBJECT

  public:
    explicit IcmpEngine(EchoChannels channels, QObject *parent = nullptr);

    bool running() const override { return running_; }
    void setRunning(bool on) override;
    bool synchronous() const { return synchronous_; }
    void setSynchronous(bool on) override;
    QString host() const override { return host_; }
    void setHost(const QString &host) override { host_ = host; }
    QString address() const override { return address_; }
    double interval() const override { return intervalMs_; }
    void setInterval(double ms) override;
    double payloadSize() const override;
    void setPayloadSize(double bytes) override;
    bool restartSequence() const { return restart_; }
    void setRestartSequence(bool on) override { restart_ = on; }
    double timeout() const { return timeoutMs_; }
    void setTimeout(double ms) override;
    bool dontFragment() const { return dontFragment_; }
    void setDontFragment(bool on) override;
    double lastSequenceSent() const override { return lastSent_; }

    // Replies that came after their request was given up, and so were not
    // handed over.
    uint64_t lateReplies() const { return lateReplies_; }
    // How long an overtaken request is waited for now.
    MonotonicClock::duration currentPatience() const;

  private:
    void beginRun(unsigned run);
    void resolved(const std::string &name, const LookupResult &result);
    void aimAtFirst(const std::vector<IpAddress> &addresses);
    void aim(const IpAddress &target);
    void retryLookupLater(EchoFailure reason, int detail);
    void giveUp(EchoFailure reason, int detail);
    void deadlineReached();
    void sendOne(MonotonicTime now);
    void collectFrom(EchoChannel &channel);
    void readFrom(EchoChannel &channel);
    void answer(const EchoResult &reply);
    MonotonicClock::duration roundTrip(const PendingRequest &request,
                                       const EchoResult &reply) const;
    void fail(const EchoResult &result);
    void giveUpOverdue();
    void handOver();
    void settle();
    void armTimer();
    EchoChannel *channelFor(icmp::Family family);

    std::unique_ptr<EchoChannel> v4_;
    std::unique_ptr<EchoChannel> v6_;
    int v4Error_ = 0; // why a family has no channel
    int v6Error_ = 0;
    DeadlineTimer timer_; // the next request, or the next timeout or end of patience
    BackgroundLookups lookups_;
    std::optional<std::string> awaitedName_; // the name this run waits for
    unsigned run_ = 0; // tells results of an earlier switch-on from the current one

    bool running_ = false;
    bool synchronous_ = false;
    QString host_;
    double intervalMs_ = 100;
    double payloadBytes_ = 32;
    bool restart_ = false;
    double timeoutMs_ = 2000;
    bool dontFragment_ = false;
    double lastSent_ = 0;

    std::optional<IpAddress> target_;
    QString address_; // the target as text
    std::optional<IpAddress> lastTarget_;
    SequenceCounter sequence_;
    uint64_t tokenKey_ = 0;
    uint64_t tokenCount_ = 0;
    Outstanding outstanding_;
    Patience patience_;
    uint64_t lateReplies_ = 0;
    ReplyOrder order_;
    SendSchedule schedule_;
};
