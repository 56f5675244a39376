#include "BackgroundLookups.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace {
constexpr size_t mostUnderWay = 8;
}

// Where a finished lookup posts its result; empty once the owner is gone.
struct BackgroundLookups::Mailbox {
    std::mutex mutex;
    BackgroundLookups *owner = nullptr;
};

BackgroundLookups::BackgroundLookups(QObject *parent)
    : QObject(parent), mailbox_(std::make_shared<Mailbox>())
{
    mailbox_->owner = this;
}

BackgroundLookups::~BackgroundLookups()
{
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->owner = nullptr;
}

bool BackgroundLookups::start(const std::string &name)
{
    if (underWay_.contains(name))
        return true;
    if (underWay_.size() >= mostUnderWay)
        return false;
    try {
        std::thread([mailbox = mailbox_, name] {
            LookupResult result = lookUpHost(name, false);
            std::lock_guard lock(mailbox->mutex);
            if (BackgroundLookups *owner = mailbox->owner) {
                QMetaObject::invokeMethod(
                    owner,
                    [owner, name, result = std::move(result)] {
                        owner->underWay_.erase(name);
                        emit owner->finished(name, result);
                    },
                    Qt::QueuedConnection);
            }
        }).detach();
    } catch (const std::system_error &) {
        return false; // no thread to be had now; the caller tries again later
    }
    underWay_.insert(name);
    return true;
}
