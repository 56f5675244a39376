#include "Platform.h"

#include <QWinEventNotifier>

void watchReadyHandle(ReadyHandle handle, QObject *owner, std::function<void()> ready)
{
    auto *notifier = new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(handle), owner);
    QObject::connect(notifier, &QWinEventNotifier::activated, owner, std::move(ready));
}
