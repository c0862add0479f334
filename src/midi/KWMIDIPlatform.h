#pragma once

#include <functional>
#include <string>

// The few platform services the MIDI layer uses: running work on the main thread, posting a
// notification, and the user default that names the backend. They forward to the foundation's
// run loop, notification centre and user defaults.
namespace rp {

// Called on the main thread when the manager starts, so the main run loop knows its thread
// before the service's threads post to it.
void midiBindMainThread();
void midiPerformOnMainThread(std::function<void()> work);
void midiPostNotification(const std::string& name, const void* object);
// The stored "RPMIDIBackend" default, or "auto".
std::string midiBackendDefault();

} // namespace rp
