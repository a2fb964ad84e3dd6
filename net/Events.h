#pragma once

// The event type that the internet components share.

#include <QObject>

#include <functional>

// An event that passes only the component that fires it.
using TNotifyEvent = std::function<void(QObject *Sender)>;
