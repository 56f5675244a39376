#pragma once

#include "HostLookup.h"

#include <QObject>

#include <memory>
#include <set>
#include <string>

// Name lookups on threads of their own that nobody waits for: a resolver that
// never answers delays neither a later lookup nor the program's exit. Lookups
// of the same name share one thread, so repeated Starts do not pile up.
class BackgroundLookups : public QObject {
    Q_OBJECT

  public:
    explicit BackgroundLookups(QObject *parent = nullptr);
    ~BackgroundLookups() override;

    // Looks `name` up unless that is under way already; false when too many
    // other names are still being looked up.
    bool start(const std::string &name);

  signals:
    // From the event loop, once per lookup.
    void finished(const std::string &name, const LookupResult &result);

  private:
    struct Mailbox;
    std::shared_ptr<Mailbox> mailbox_;
    std::set<std::string> underWay_;
};
