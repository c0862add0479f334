#include "editor/ORPPreferences.h"

#include "editor/ORPMIDIRouting.h"
#include "foundation/Localization.h"
#include "foundation/TextCompare.h"
#include "foundation/UserDefaults.h"
#include "midi/KWMIDIManager.h"

#include <algorithm>
#include <cctype>
#include <limits>

ORPPreferences::ORPPreferences(
    rp::UserDefaults& defaults, std::shared_ptr<KWMIDIManager> manager, std::shared_ptr<ORPMIDIRouting> routing)
    : defaults_(defaults)
    , manager_(std::move(manager))
    , routing_(std::move(routing))
{
}

ORPBarsPerRowControls ORPPreferences::barsPerRowControls(int64_t patternsPerRow)
{
    if (patternsPerRow == 0) {
        return { 0, false, "" };
    }
    if (patternsPerRow == -1) {
        return { 1, false, "" };
    }
    return { 2, true, std::to_string(std::max<int64_t>(patternsPerRow, 1)) };
}

int64_t ORPPreferences::integerValueOfField(const std::string& text)
{
    return rp::leadingIntegerValue(text);
}

std::optional<rp::PropertyValue> ORPPreferences::value(const std::string& key) const
{
    if (const auto held = held_.find(key); held != held_.end()) {
        return held->second;
    }
    return defaults_.objectForKey(key);
}

void ORPPreferences::hold(const std::string& key, rp::PropertyValue value)
{
    held_[key] = std::move(value);
}

ORPBarsPerRowControls ORPPreferences::barsPerRowControls() const
{
    const auto stored = value(kPatternsPerRowKey);
    return barsPerRowControls(stored ? stored->toInteger() : -1);
}

ORPBarsPerRowControls ORPPreferences::chooseBarsPerRowTag(int tag)
{
    switch (tag) {
    case 0:
        hold(kPatternsPerRowKey, int64_t { 0 });
        break;
    case 1:
        hold(kPatternsPerRowKey, int64_t { -1 });
        break;
    case 2:
        hold(kPatternsPerRowKey, kBarsPerRowWhenChosen);
        break;
    default:
        break;
    }
    return barsPerRowControls();
}

ORPBarsPerRowControls ORPPreferences::editBarsPerRowField(const std::string& text)
{
    hold(kPatternsPerRowKey, integerValueOfField(text));
    return barsPerRowControls();
}

ORPMIDIMenu ORPPreferences::menu(bool sources) const
{
    ORPMIDIMenu menu;
    menu.items.push_back({ rp::localized("None"), 0, nullptr });
    std::vector<std::shared_ptr<KWMIDIEndpoint>> endpoints;
    if (manager_) {
        if (sources) {
            for (auto& source : manager_->realSourcesOnlineOrInUse()) {
                endpoints.push_back(std::move(source));
            }
        } else {
            for (auto& destination : manager_->realDestinationsOnlineOrInUse()) {
                endpoints.push_back(std::move(destination));
            }
        }
    }
    for (auto& endpoint : endpoints) {
        menu.items.push_back({ endpoint->displayName(), endpoint->uniqueID(), endpoint });
    }

    const char* key = sources ? ORPMIDIRouting::kSourceIDKey : ORPMIDIRouting::kDestinationIDKey;
    std::optional<int64_t> selected;
    if (const auto held = held_.find(key); held != held_.end()) {
        selected = held->second.toInteger();
    } else if (routing_) {
        const std::shared_ptr<KWMIDIEndpoint> current = sources
            ? std::shared_ptr<KWMIDIEndpoint>(routing_->midiSource())
            : std::shared_ptr<KWMIDIEndpoint>(routing_->midiDestination());
        if (current) {
            selected = current->uniqueID();
        }
    }
    if (selected) {
        const auto found = std::find_if(
            menu.items.begin(), menu.items.end(), [&](const ORPMIDIMenuItem& item) { return item.tag == *selected; });
        if (found != menu.items.end()) {
            menu.selectedIndex = static_cast<size_t>(found - menu.items.begin());
        }
    }
    return menu;
}

ORPMIDIMenu ORPPreferences::sourceMenu() const
{
    return menu(true);
}

ORPMIDIMenu ORPPreferences::destinationMenu() const
{
    return menu(false);
}

void ORPPreferences::chooseMIDISourceTag(int32_t tag)
{
    hold(ORPMIDIRouting::kSourceIDKey, static_cast<int64_t>(tag));
}

void ORPPreferences::chooseMIDIDestinationTag(int32_t tag)
{
    hold(ORPMIDIRouting::kDestinationIDKey, static_cast<int64_t>(tag));
}

void ORPPreferences::dismiss(bool ok)
{
    if (!ok) {
        held_.clear();
    }
    for (const auto& [key, value] : held_) {
        defaults_.setObject(value, key);
    }
    held_.clear();
    if (routing_) {
        routing_->configureMIDI();
    }
}
