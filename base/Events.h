#pragma once
// The event types components and windows expose as properties (OnOpen, OnShow, ...):
// a plain callable taking the sender, empty when nobody listens.

#include <functional>

class QObject;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TCloseQueryEvent = std::function<void(QObject* Sender, bool& CanClose)>;
