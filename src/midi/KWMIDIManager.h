#pragma once

#include "midi/KWMIDIEndpoint.h"
#include "midi/MIDIBackend.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class KWMIDIEndpointDescriptor;

// The one MIDI manager: owns the service client and the lists of known sources and
// destinations, keeps them in line with the service and posts "KWMIDISetupChanged" (object:
// the manager) after each change of the MIDI setup. Setup changes are handled on the main
// thread through the main run loop; the lists are read and changed on the main thread.
class KWMIDIManager : public std::enable_shared_from_this<KWMIDIManager> {
public:
    static constexpr const char* kSetupChangedNotification = "KWMIDISetupChanged";
    // User default naming the backend: "auto", "jack", "alsa", "loopback" or "none".
    static constexpr const char* kBackendDefaultsKey = "RPMIDIBackend";

    // The shared manager, made on first use over the chosen backend.
    static std::shared_ptr<KWMIDIManager> sharedInstance();
    // Replaces the shared manager (tests, the command-line tool); null forgets it.
    static void setSharedInstance(std::shared_ptr<KWMIDIManager> manager);
    // Overrides the user default for the backend the shared manager is made with.
    static void setBackendChoice(std::string choice);
    static std::string backendChoice();

    // A started manager over `backend`: client created, lists filled, notifications enabled.
    static std::shared_ptr<KWMIDIManager> create(std::shared_ptr<rp::MIDIBackend> backend);
    ~KWMIDIManager();
    KWMIDIManager(const KWMIDIManager&) = delete;
    KWMIDIManager& operator=(const KWMIDIManager&) = delete;

    const std::shared_ptr<rp::MIDIBackend>& backend() const { return backend_; }
    uint32_t midiClientRef() const { return midiClientRef_; }

    void disableNotifications() { notificationsEnabled_ = false; }
    void enableNotifications() { notificationsEnabled_ = true; }
    bool notificationsEnabled() const { return notificationsEnabled_; }

    std::vector<std::shared_ptr<KWMIDIRealSource>> realSources() const;
    std::vector<std::shared_ptr<KWMIDIRealDestination>> realDestinations() const;
    std::vector<std::shared_ptr<KWMIDIRealSource>> realSourcesOnlineOrInUse() const;
    std::vector<std::shared_ptr<KWMIDIRealDestination>> realDestinationsOnlineOrInUse() const;

    std::shared_ptr<KWMIDIRealSource> realSourceWithMIDIEndpointRef(uint32_t ref) const;
    std::shared_ptr<KWMIDIRealDestination> realDestinationWithMIDIEndpointRef(uint32_t ref) const;
    // Always an endpoint: the known one matching the descriptor, else a new offline one.
    std::shared_ptr<KWMIDIRealSource> realSourceWithDescriptor(const KWMIDIEndpointDescriptor& descriptor);
    std::shared_ptr<KWMIDIRealDestination> realDestinationWithDescriptor(
        const KWMIDIEndpointDescriptor& descriptor);

    void updateRealSources();
    void updateRealDestinations();

    std::string nameOfNote(uint8_t note) const;
    const std::vector<std::string>& noteNamesArray() const { return noteNames_; }

    // The client's notification callback, run on the main thread. A message arriving while
    // one is being handled only marks another pass pending.
    void handleMIDINotification(int32_t messageID);

    // Registers the endpoint and descriptor classes with the keyed unarchiver.
    static void registerArchiveClasses();

private:
    explicit KWMIDIManager(std::shared_ptr<rp::MIDIBackend> backend);
    void start();
    static void serviceNotified(const std::weak_ptr<KWMIDIManager>& manager,
        const std::shared_ptr<std::atomic<bool>>& messageQueued, int32_t messageID);

    std::shared_ptr<rp::MIDIBackend> backend_;
    uint32_t midiClientRef_ = 0;
    std::atomic<bool> notificationsEnabled_ { false };
    mutable std::recursive_mutex listsMutex_;
    std::vector<std::shared_ptr<KWMIDIRealSource>> realSourceArray_;
    std::vector<std::shared_ptr<KWMIDIRealDestination>> realDestinationArray_;
    std::vector<std::string> noteNames_;
    bool handling_ = false;
    bool pending_ = false;
    // Shared with the service's callback so that thread never needs to own the manager.
    std::shared_ptr<std::atomic<bool>> messageQueued_ = std::make_shared<std::atomic<bool>>(false);
};
