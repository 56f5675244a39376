#include "Platform.h"
#include "SystemSockets.h"

#include <QObject>

#include <iphlpapi.h>
#include <netioapi.h>

namespace {

// The system's news of routes, which it gives on a thread of its own:
// handed to the owner's event loop.
class RouteNews : public QObject {
  public:
    RouteNews(QObject *owner, std::function<void()> changed)
        : QObject(owner), changed_(std::move(changed))
    {
        // Where the system gives no news, the gateway found at each Start stays.
        if (NotifyRouteChange2(AF_UNSPEC, &RouteNews::heard, this, FALSE, &handle_) != NO_ERROR)
            handle_ = nullptr;
    }
    ~RouteNews() override
    {
        // Waits for a call under way to end.
        if (handle_)
            CancelMibChangeNotify2(handle_);
    }

  private:
    static void WINAPI heard(void *context, MIB_IPFORWARD_ROW2 *, MIB_NOTIFICATION_TYPE)
    {
        auto *news = static_cast<RouteNews *>(context);
        QMetaObject::invokeMethod(
            news, [news] { news->changed_(); }, Qt::QueuedConnection);
    }

    std::function<void()> changed_;
    HANDLE handle_ = nullptr;
};

} // namespace

void watchRoutes(QObject *owner, std::function<void()> changed)
{
    new RouteNews(owner, std::move(changed));
}
