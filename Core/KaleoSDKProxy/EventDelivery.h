#pragma once
// Delivery of device events to the Node.js host: pushed at once through the
// host's callback (mode 0), queued for PollEvents (mode 1), or queued and
// pushed in batches by a 40 ms timer (mode 2). Lighting events coalesce in
// the queues: per device and sequence id only the latest one is kept. Every
// other event is pushed at once, whatever the mode.
//
// Texts are compact JSON with object members in ascending byte order of
// their keys; pushed events other than mode-0 lighting events are wrapped as
// {"event":"onKaleoSdkLightingCallback","payload":...}.
#include <windows.h>
#include <nlohmann/json.hpp>

#include "DeviceFrame.h"

namespace VxKaleoSDKProxy
{

using EventCallback = void (*)(const char* text);

enum : DWORD { MODE_IMMEDIATE = 0, MODE_POLLING = 1, MODE_BATCHED = 2 };

// Stores (replaces, or clears with null) the host's callback. It is called
// on reader threads and on the timer's thread, never on the host's own, and
// the text lives only for the duration of the call.
void SetEventCallback(EventCallback callback) noexcept;

// Any value other than the three modes behaves like MODE_IMMEDIATE. Mode 2
// starts the batch timer, any other stops it without waiting for a running
// batch. Queued entries stay across mode changes.
void SetOperatingMode(DWORD mode) noexcept;
// The value last set (0 initially).
DWORD OperatingMode() noexcept;

// In mode 1 takes every queued lighting event, as a JSON array in device
// then sequence order; "[]" in other modes. Text from malloc (the host frees
// it), or null when that allocation fails.
char* PollEvents() noexcept;

// Calls the callback, if one is set, with text; what the callback throws is
// swallowed.
void FireEventCallback(const char* text) noexcept;

// Called on reader threads. Both may throw nlohmann::json::exception (a non-number
// "linkDeviceSeqId", text that is not valid UTF-8 at serialisation): the reader drops the message.
void DeliverImmediate(const nlohmann::json& message);
void QueueLightingEvent(DEVICE_HANDLE deviceHandle, nlohmann::json&& message);

// Library unload, after the reader threads have ended. On FreeLibrary:
// stops the timer, waits for a running batch and frees the frame. At
// process exit: touches nothing (the other threads are gone, perhaps inside
// the thread pool). Nothing is delivered afterwards.
void ShutdownEventDelivery(bool processExit) noexcept;

// Queue peaks, refusals and batch counters since the last reset.
EventDeliveryStats GetEventDeliveryStats() noexcept;
void ResetEventDeliveryStats() noexcept;
// Back to the state of a freshly loaded library: mode 0, no callback, empty
// queues, counters reset. Waits for a running batch, so it must not be
// called from the callback.
void ResetEventDelivery() noexcept;

} // namespace VxKaleoSDKProxy
