#include "Platform.h"

#include <QSocketNotifier>

void watchReadyHandle(ReadyHandle handle, QObject *owner, std::function<void()> ready)
{
    auto *notifier =
        new QSocketNotifier(static_cast<qintptr>(handle), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, std::move(ready));
}
