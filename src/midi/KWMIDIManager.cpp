#include "midi/KWMIDIManager.h"

#include "archive/KeyedUnarchiver.h"
#include "foundation/Logger.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIEndpointSet.h"
#include "midi/KWMIDIPlatform.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

std::mutex sharedMutex;
std::shared_ptr<KWMIDIManager> sharedManager;
std::string chosenBackend;

template <typename T> void sortByDisplayName(std::vector<std::shared_ptr<T>>& list)
{
    std::stable_sort(list.begin(), list.end(),
        [](const auto& a, const auto& b) { return a->compareByDisplayName(*b) < 0; });
}

template <typename T>
std::shared_ptr<T> withDescriptor(
    const std::vector<std::shared_ptr<T>>& list, const KWMIDIEndpointDescriptor& descriptor)
{
    std::vector<std::shared_ptr<KWMIDIEndpoint>> endpoints(list.begin(), list.end());
    return std::static_pointer_cast<T>(KWMIDIEndpointSet::endpointWithDescriptor(endpoints, descriptor));
}

// Updating one list: every known endpoint syncs itself, endpoints the service reports and
// nobody knows yet are added (except this process's own), then the list is sorted.
template <typename T>
void updateList(KWMIDIManager& manager, std::vector<std::shared_ptr<T>>& list, rp::MIDIBackend::Kind kind)
{
    for (const auto& endpoint : list) {
        endpoint->syncWithMIDIEndpoint();
    }
    const int64_t self = getpid();
    for (const auto& info : manager.backend()->endpoints(kind)) {
        if (info.ownerPID == self) {
            continue;
        }
        const bool known = std::any_of(list.begin(), list.end(),
            [&](const auto& endpoint) { return endpoint->midiEndpointRef() == info.ref; });
        if (!known) {
            list.push_back(std::make_shared<T>(manager.shared_from_this(), info.ref));
        }
    }
    sortByDisplayName(list);
}

} // namespace

std::shared_ptr<KWMIDIManager> KWMIDIManager::sharedInstance()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedManager) {
        std::string choice = chosenBackend.empty() ? rp::midiBackendDefault() : chosenBackend;
        auto backend = rp::makeMIDIBackend(choice);
        if (!backend) {
            rp::logf("KWMIDIManager: MIDI backend \"%s\" is not available", choice.c_str());
            backend = std::make_shared<rp::NullMIDIBackend>();
        }
        sharedManager = create(std::move(backend));
    }
    return sharedManager;
}

void KWMIDIManager::setSharedInstance(std::shared_ptr<KWMIDIManager> manager)
{
    std::shared_ptr<KWMIDIManager> previous;
    {
        std::lock_guard lock(sharedMutex);
        previous = std::move(sharedManager);
        sharedManager = std::move(manager);
    }
    // `previous` goes away here, outside the lock.
}

void KWMIDIManager::setBackendChoice(std::string choice)
{
    std::lock_guard lock(sharedMutex);
    chosenBackend = std::move(choice);
}

std::string KWMIDIManager::backendChoice()
{
    std::lock_guard lock(sharedMutex);
    return chosenBackend.empty() ? rp::midiBackendDefault() : chosenBackend;
}

std::shared_ptr<KWMIDIManager> KWMIDIManager::create(std::shared_ptr<rp::MIDIBackend> backend)
{
    registerArchiveClasses();
    std::shared_ptr<KWMIDIManager> manager(new KWMIDIManager(std::move(backend)));
    manager->start();
    return manager;
}

KWMIDIManager::KWMIDIManager(std::shared_ptr<rp::MIDIBackend> backend)
    : backend_(std::move(backend))
{
}

KWMIDIManager::~KWMIDIManager()
{
    // Endpoints close their ports before the backend goes away.
    std::lock_guard lock(listsMutex_);
    realSourceArray_.clear();
    realDestinationArray_.clear();
}

void KWMIDIManager::start()
{
    disableNotifications();
    rp::midiBindMainThread();
    std::weak_ptr<KWMIDIManager> weakSelf = weak_from_this();
    // The callback holds no strong reference: were the service's thread to drop the last one,
    // the manager and its backend would be torn down from inside the backend's own callback.
    midiClientRef_
        = backend_->createClient("KWMIDIManager", [weakSelf, queued = messageQueued_](int32_t messageID) {
              serviceNotified(weakSelf, queued, messageID);
          });
    if (midiClientRef_ == 0) {
        rp::logf("KWMIDIManager: could not create the MIDI client");
    }
    updateRealSources();
    updateRealDestinations();
    noteNames_.reserve(128);
    for (int note = 0; note < 128; ++note) {
        static const char* const pitchClasses[12]
            = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };
        char text[16];
        std::snprintf(text, sizeof text, "%s%d", pitchClasses[note % 12], note / 12 - 1);
        noteNames_.emplace_back(text);
    }
    enableNotifications();
}

// On a thread of the service: move the message to the main thread. Messages that arrive
// before an earlier one has been picked up are folded into it (each pass rebuilds everything).
void KWMIDIManager::serviceNotified(const std::weak_ptr<KWMIDIManager>& manager,
    const std::shared_ptr<std::atomic<bool>>& messageQueued, int32_t messageID)
{
    if (messageID != rp::MIDIBackend::kMessageSetupChanged || messageQueued->exchange(true)) {
        return;
    }
    rp::midiPerformOnMainThread([manager, messageQueued, messageID] {
        messageQueued->store(false);
        if (auto self = manager.lock()) {
            self->handleMIDINotification(messageID);
        }
    });
}

void KWMIDIManager::handleMIDINotification(int32_t messageID)
{
    if (handling_) {
        pending_ = true;
        return;
    }
    handling_ = true;
    do {
        pending_ = false;
        if (messageID != rp::MIDIBackend::kMessageSetupChanged || !notificationsEnabled_) {
            break;
        }
        updateRealSources();
        updateRealDestinations();
        rp::midiPostNotification(kSetupChangedNotification, this);
    } while (pending_);
    handling_ = false;
}

std::vector<std::shared_ptr<KWMIDIRealSource>> KWMIDIManager::realSources() const
{
    std::lock_guard lock(listsMutex_);
    return realSourceArray_;
}

std::vector<std::shared_ptr<KWMIDIRealDestination>> KWMIDIManager::realDestinations() const
{
    std::lock_guard lock(listsMutex_);
    return realDestinationArray_;
}

std::vector<std::shared_ptr<KWMIDIRealSource>> KWMIDIManager::realSourcesOnlineOrInUse() const
{
    auto list = realSources();
    std::erase_if(list, [](const auto& endpoint) { return !endpoint->isOnlineOrInUse(); });
    return list;
}

std::vector<std::shared_ptr<KWMIDIRealDestination>> KWMIDIManager::realDestinationsOnlineOrInUse() const
{
    auto list = realDestinations();
    std::erase_if(list, [](const auto& endpoint) { return !endpoint->isOnlineOrInUse(); });
    return list;
}

std::shared_ptr<KWMIDIRealSource> KWMIDIManager::realSourceWithMIDIEndpointRef(uint32_t ref) const
{
    for (const auto& source : realSources()) {
        if (ref != 0 && source->midiEndpointRef() == ref) {
            return source;
        }
    }
    return nullptr;
}

std::shared_ptr<KWMIDIRealDestination> KWMIDIManager::realDestinationWithMIDIEndpointRef(uint32_t ref) const
{
    for (const auto& destination : realDestinations()) {
        if (ref != 0 && destination->midiEndpointRef() == ref) {
            return destination;
        }
    }
    return nullptr;
}

std::shared_ptr<KWMIDIRealSource> KWMIDIManager::realSourceWithDescriptor(
    const KWMIDIEndpointDescriptor& descriptor)
{
    std::lock_guard lock(listsMutex_);
    if (auto known = withDescriptor(realSourceArray_, descriptor)) {
        return known;
    }
    auto made
        = std::make_shared<KWMIDIRealSource>(shared_from_this(), descriptor.name(), descriptor.uniqueID());
    realSourceArray_.push_back(made);
    sortByDisplayName(realSourceArray_);
    return made;
}

std::shared_ptr<KWMIDIRealDestination> KWMIDIManager::realDestinationWithDescriptor(
    const KWMIDIEndpointDescriptor& descriptor)
{
    std::lock_guard lock(listsMutex_);
    if (auto known = withDescriptor(realDestinationArray_, descriptor)) {
        return known;
    }
    auto made = std::make_shared<KWMIDIRealDestination>(
        shared_from_this(), descriptor.name(), descriptor.uniqueID());
    realDestinationArray_.push_back(made);
    sortByDisplayName(realDestinationArray_);
    return made;
}

void KWMIDIManager::updateRealSources()
{
    std::lock_guard lock(listsMutex_);
    updateList(*this, realSourceArray_, rp::MIDIBackend::Kind::Source);
}

void KWMIDIManager::updateRealDestinations()
{
    std::lock_guard lock(listsMutex_);
    updateList(*this, realDestinationArray_, rp::MIDIBackend::Kind::Destination);
}

std::string KWMIDIManager::nameOfNote(uint8_t note) const
{
    return note < noteNames_.size() ? noteNames_[note] : std::string();
}

void KWMIDIManager::registerArchiveClasses()
{
    KWMIDIEndpointDescriptor::registerArchiveClass();
    rp::KeyedUnarchiver::registerClass(
        "KWMIDIRealSource", [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr {
            const KWMIDIEndpointDescriptor descriptor(
                coder.decodeStringForKey("name").value_or(""), coder.decodeInt32ForKey("uniqueID"));
            return sharedInstance()->realSourceWithDescriptor(descriptor);
        });
    rp::KeyedUnarchiver::registerClass(
        "KWMIDIRealDestination", [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr {
            const KWMIDIEndpointDescriptor descriptor(
                coder.decodeStringForKey("name").value_or(""), coder.decodeInt32ForKey("uniqueID"));
            return sharedInstance()->realDestinationWithDescriptor(descriptor);
        });
}
