#pragma once

#include <QObject>
#include <QString>

// Why a request, or a whole run, failed; the third value of requestFailed
// is a detail for the reason.
enum class EchoFailure {
    Timeout = 1,          // no reply in time; detail 0
    IcmpError = 2,        // the ICMP type * 256 + code
    ResolveFailed = 3,    // the text names no host; detail: the resolver's code, or an errno
                          // value for text that is no name at all
    SendFailed = 4,       // the system refused the request; its error code
    NoSocket = 5,         // no channel for the target's family; the system's error code
    NoPermission = 6,     // the same, because this program may not ping
    NameServerSilent = 7, // the name server has not answered yet; the engine keeps asking
};
Q_DECLARE_METATYPE(EchoFailure)

// What the window drives: a pinger with a handful of settings and five
// notifications. Notifications always arrive from the event loop, never
// from inside one of these calls.
class EchoEngine : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // While true, one echo request to host() every interval() ms.
    virtual bool running() const = 0;
    virtual void setRunning(bool on) = 0;

    // When true, a request waits until the previous one was answered or
    // timed out.
    virtual void setSynchronous(bool on) = 0;

    // A name or an address literal; resolved at each switch-on.
    virtual QString host() const = 0;
    virtual void setHost(const QString &host) = 0;
    // Where this run's requests go, once the host is resolved; empty before.
    virtual QString address() const = 0;

    // Milliseconds between requests.
    virtual double interval() const = 0;
    virtual void setInterval(double ms) = 0;

    // Bytes of echo data per request.
    virtual double payloadSize() const = 0;
    virtual void setPayloadSize(double bytes) = 0;

    // When set, the next request carries sequence number 1; then it clears.
    virtual void setRestartSequence(bool on) = 0;

    // Milliseconds after which an unanswered request counts as lost.
    virtual void setTimeout(double ms) = 0;

    virtual void setDontFragment(bool on) = 0;

    // Sequence number of the newest request made, whether the kernel took it
    // or not.
    virtual double lastSequenceSent() const = 0;

  signals:
    // Once per request made, also one the kernel refused to send.
    void requestSent();
    // Why a request, or the whole run, failed, as soon as it is known.
    void requestFailed(int sequence, EchoFailure reason, int detail);
    // Every request is handed over once, in the order of the requests, by
    // one of the next two: a reply that overtook an earlier request waits
    // until that one is answered or given up. `value` is the reply's TTL or
    // hop limit.
    void replyReceived(qint16 sequence, int value, qint32 roundTripMs);
    // No reply came in time: its timeout passed, or later requests were
    // answered and it waited longer than the path's round trips explain.
    void requestLost(qint16 sequence);
    // The engine stopped sending on its own.
    void stoppedSending();
};
