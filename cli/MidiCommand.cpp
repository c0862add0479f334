// rattlepan-cli midi: list MIDI endpoints, monitor a source, send a note to a destination.

#include "CommandRegistry.h"
#include "foundation/RunLoop.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIManager.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

namespace {

struct MidiOptions {
    std::string backend;
    bool json = false;
    std::string text;
    std::optional<int32_t> uniqueID;
    size_t count = 0;
    double timeout = 0;
    int channel = 1;
    int note = -1;
    int velocity = 100;
    double length = 0.5;
};

std::shared_ptr<KWMIDIManager> openManager(const MidiOptions& options)
{
    const std::string choice = options.backend.empty() ? KWMIDIManager::backendChoice() : options.backend;
    auto backend = rp::makeMIDIBackend(choice);
    if (!backend) {
        std::cerr << "rattlepan-cli: MIDI backend " << choice << " is not available\n";
        return nullptr;
    }
    auto manager = KWMIDIManager::create(std::move(backend));
    KWMIDIManager::setSharedInstance(manager);
    return manager;
}

// TEXT matches an endpoint's name or display name exactly, else the first whose name contains it.
template <typename T>
std::shared_ptr<T> matchEndpoint(const std::vector<std::shared_ptr<T>>& list, const std::string& text)
{
    for (const auto& endpoint : list) {
        if (endpoint->name() == text || endpoint->displayName() == text) {
            return endpoint;
        }
    }
    for (const auto& endpoint : list) {
        if (endpoint->name().find(text) != std::string::npos) {
            return endpoint;
        }
    }
    return nullptr;
}

template <typename T> nlohmann::json describe(const std::vector<std::shared_ptr<T>>& list)
{
    nlohmann::json array = nlohmann::json::array();
    for (const auto& endpoint : list) {
        array.push_back({ { "name", endpoint->name() }, { "displayName", endpoint->displayName() },
            { "uniqueID", endpoint->uniqueID() }, { "online", endpoint->isOnline() },
            { "inUse", endpoint->isInUse() } });
    }
    return array;
}

int runList(const MidiOptions& options)
{
    const auto manager = openManager(options);
    if (!manager) {
        return 1;
    }
    const auto sources = manager->realSources();
    const auto destinations = manager->realDestinations();
    if (options.json) {
        std::cout << nlohmann::json {
            { "sources", describe(sources) }, { "destinations", describe(destinations) }
        }.dump(2) << '\n';
        return 0;
    }
    auto print = [](const char* title, const auto& list) {
        std::cout << title << ":\n";
        for (const auto& endpoint : list) {
            std::cout << "  " << endpoint->displayName() << "  [" << endpoint->uniqueID() << "]\n";
        }
    };
    print("Sources", sources);
    print("Destinations", destinations);
    return 0;
}

// Prints each packet on the main thread: the time stamp, then the bytes in hex.
class PacketPrinter final : public KWMIDIReceiver, public std::enable_shared_from_this<PacketPrinter> {
public:
    explicit PacketPrinter(size_t limit)
        : limit_(limit)
    {
    }
    void processMIDIPacketList(const rp::MIDIPacketList& list, KWMIDIEndpoint*) override
    {
        for (const rp::MIDIPacket packet : list) {
            if (limit_ != 0 && taken_.fetch_add(1) >= limit_) {
                return;
            }
            std::string line = std::to_string(packet.timeStamp);
            for (const uint8_t byte : packet.data) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02x", byte);
                line += hex;
            }
            rp::RunLoop::main().perform([weakSelf = weak_from_this(), line] {
                if (auto self = weakSelf.lock()) {
                    std::cout << line << '\n' << std::flush;
                    ++self->printed_;
                }
            });
        }
    }
    size_t printed() const { return printed_; }

private:
    const size_t limit_;
    std::atomic<size_t> taken_ { 0 };
    size_t printed_ = 0; // main thread
};

int runMonitor(const MidiOptions& options)
{
    const auto manager = openManager(options);
    if (!manager) {
        return 1;
    }
    std::shared_ptr<KWMIDIRealSource> source;
    if (options.uniqueID) {
        // Through a descriptor: an absent source is waited for and joins when it appears.
        source = manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", *options.uniqueID));
    } else {
        source = matchEndpoint(manager->realSources(), options.text);
    }
    if (!source) {
        std::cerr << "rattlepan-cli: no MIDI source matches \"" << options.text << "\"\n";
        return 1;
    }
    if (source->isOffline()) {
        std::cerr << "waiting for " << source->displayName() << '\n';
    }
    auto printer = std::make_shared<PacketPrinter>(options.count);
    source->addReceiver(printer);
    const double forever = 1e9;
    const bool done = rp::RunLoop::main().runUntil(
        [&] { return options.count != 0 && printer->printed() >= options.count; },
        options.timeout > 0 ? options.timeout : forever);
    source->removeReceiver(printer.get());
    return done ? 0 : 2;
}

int runSend(const MidiOptions& options)
{
    const auto manager = openManager(options);
    if (!manager) {
        return 1;
    }
    std::shared_ptr<KWMIDIRealDestination> destination = options.uniqueID
        ? manager->realDestinationWithDescriptor(KWMIDIEndpointDescriptor("", *options.uniqueID))
        : matchEndpoint(manager->realDestinations(), options.text);
    if (!destination) {
        std::cerr << "rattlepan-cli: no MIDI destination matches \"" << options.text << "\"\n";
        return 1;
    }
    if (destination->isOffline()) {
        std::cerr << "rattlepan-cli: " << destination->displayName() << " cannot be reached\n";
        return 1;
    }
    auto sender = std::make_shared<int>(0);
    destination->addSender(sender);
    const auto status = static_cast<uint8_t>(options.channel - 1);
    const auto note = static_cast<uint8_t>(options.note);
    const rp::MIDITimeStamp now = rp::hostTimeNow();
    const rp::MIDITimeStamp off = now + rp::hostTimeFromSeconds(options.length);
    rp::MIDIPacketList list;
    list.add(now, { static_cast<uint8_t>(0x90 | status), note, static_cast<uint8_t>(options.velocity) });
    list.add(off, { static_cast<uint8_t>(0x80 | status), note, 64 });
    destination->processMIDIPacketList(list, sender.get());
    const bool sent = manager->backend()->waitUntilSent(options.length + 5.0);
    destination->removeSender(sender.get());
    if (!sent) {
        std::cerr << "rattlepan-cli: the note could not be delivered\n";
        return 1;
    }
    return 0;
}

void addBackendOption(CLI::App* command, MidiOptions& options)
{
    command
        ->add_option(
            "--backend", options.backend, "MIDI backend (default: the RPMIDIBackend user default, else auto)")
        ->check(CLI::IsMember({ "auto", "jack", "alsa", "loopback", "none" }));
}

const rp::cli::CommandRegistration registration("midi", "List MIDI endpoints, monitor a source, send a note",
    [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<MidiOptions>();
        app.require_subcommand(1);

        CLI::App* list = app.add_subcommand("list", "List MIDI sources and destinations");
        addBackendOption(list, *options);
        list->add_flag("--json", options->json, "Print JSON");

        CLI::App* monitor = app.add_subcommand("monitor", "Print the packets arriving from a source");
        addBackendOption(monitor, *options);
        auto* sourceText
            = monitor->add_option("--source", options->text, "Source name (exact, else contained)");
        auto* sourceID
            = monitor->add_option("--source-id", options->uniqueID, "Source unique ID (waits for it)");
        sourceText->excludes(sourceID);
        monitor->add_option("--count", options->count, "Exit 0 after this many packets");
        monitor->add_option("--timeout", options->timeout, "Exit 2 after this many seconds")
            ->check(CLI::NonNegativeNumber);

        CLI::App* send = app.add_subcommand("send", "Send a note to a destination");
        addBackendOption(send, *options);
        auto* destText
            = send->add_option("--dest", options->text, "Destination name (exact, else contained)");
        auto* destID = send->add_option("--dest-id", options->uniqueID, "Destination unique ID");
        destText->excludes(destID);
        send->add_option("--channel", options->channel, "MIDI channel")->check(CLI::Range(1, 16));
        send->add_option("--note", options->note, "Note number")->required()->check(CLI::Range(0, 127));
        send->add_option("--velocity", options->velocity, "Note-on velocity")->check(CLI::Range(1, 127));
        send->add_option("--length", options->length, "Seconds until the note-off")
            ->check(CLI::Range(0.0, 3600.0));

        return [=]() -> int {
            // The manager closes its ports and client before the program's statics go away.
            struct ForgetManager {
                ~ForgetManager() { KWMIDIManager::setSharedInstance(nullptr); }
            } forget;
            if (list->parsed()) {
                return runList(*options);
            }
            if (monitor->parsed()) {
                if (options->text.empty() && !options->uniqueID) {
                    std::cerr << "rattlepan-cli: monitor needs --source or --source-id\n";
                    return 1;
                }
                return runMonitor(*options);
            }
            if (options->text.empty() && !options->uniqueID) {
                std::cerr << "rattlepan-cli: send needs --dest or --dest-id\n";
                return 1;
            }
            return runSend(*options);
        };
    });

} // namespace
