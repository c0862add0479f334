#pragma once

#include "archive/TypedStreamWriter.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UndoManager.h"
#include "model/ORPSong.h"

#include <algorithm>
#include <any>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace rp::test {

inline ORPDrumPtr makeDrum(
    const std::string& type, const std::string& variant = "default", const std::string& group = "Drums")
{
    auto drum = ORPDrum::drum();
    drum->setTypeName(type);
    drum->setVariantName(variant);
    drum->setGroupName(group);
    return drum;
}

// Owns an undo manager the way a song document does. Groups are opened explicitly by edit().
class TestDocument : public ORPSongDocument {
public:
    TestDocument() { undo.setGroupsByEvent(false); }
    rp::UndoManager* undoManager() override { return &undo; }

    template <class F> void edit(F&& change)
    {
        undo.beginUndoGrouping();
        change();
        undo.endUndoGrouping();
    }

    rp::UndoManager undo;
};

// A song with no kit, owned by a test document.
struct SongFixture {
    SongFixture()
    {
        ORPSong::setDefaultKitProvider({});
        song = ORPSong::song();
        song->setDocument(document);
    }
    std::shared_ptr<TestDocument> document = std::make_shared<TestDocument>();
    ORPSongPtr song;
};

// Records the notifications of one name (any object) while it lives.
class NotificationRecorder {
public:
    explicit NotificationRecorder(const std::string& name, const void* object = nullptr)
    {
        rp::NotificationCenter::defaultCenter().addObserver(
            this, name, object, [this](const rp::Notification& note) { posted.push_back(note); });
    }
    ~NotificationRecorder() { rp::NotificationCenter::defaultCenter().removeObserver(this); }
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;
    size_t count() const { return posted.size(); }
    // The user-info entry of the last notification, or an empty any.
    std::any lastInfo(const std::string& key) const
    {
        const auto* info = posted.empty() ? nullptr : std::any_cast<ORPUserInfo>(&posted.back().userInfo);
        auto found = info ? info->find(key) : ORPUserInfo::const_iterator();
        return info && found != info->end() ? found->second : std::any();
    }

    std::vector<rp::Notification> posted;
};

// Everything a song holds but its drums, with the ownership links, as text to compare.
inline std::string outline(const ORPSong& song)
{
    std::ostringstream out;
    out << song.name() << "|" << song.notes() << "|" << song.masterLevel() << "\n";
    const auto& sections = song.sectionList();
    for (const auto& section : sections) {
        out << "section " << section->name() << (section->parentSong().get() == &song ? "" : " STRAY")
            << "\n";
        for (const auto& pattern : section->patterns())
            out << (pattern->parentSection() == section ? "" : "STRAY ") << "zoom " << pattern->zoomLevel()
                << " " << pattern->description();
    }
    for (const auto& entry : song.sectionMarkerList())
        out << "entry " << entry->name() << " x" << entry->numberOfTimes() << " from bar "
            << entry->firstBarNumber() << " plays section "
            << std::find(sections.begin(), sections.end(), entry->section()) - sections.begin() << "\n";
    return out.str();
}

inline std::vector<float> places(const ORPPattern& pattern)
{
    std::vector<float> result;
    for (const auto& event : *pattern.events())
        result.push_back(event->whenRatio());
    return result;
}

// Two sections sharing a hi hat, a 7/8 bar, and a playlist of three entries.
inline ORPSongPtr richSong(ORPDrumPtr& hat)
{
    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    song->setName("Groove");
    song->setNotes("two sections");
    song->setMasterLevel(0.65f);
    hat = makeDrum("hi hat", "closed", "Cymbals");
    hat->setMidiChannel(9);
    hat->setMidiNote(42);
    hat->setMidiVelocity(100);
    hat->setShortcutKey("h");
    auto first = song->sectionList()[0];
    first->setName("verse");
    auto bar = first->patterns()[0];
    bar->addEventWithDrum(hat, 0.8f, 0.0f);
    bar->addEventWithDrum(hat, 0.5f, 0.5f);
    bar->addEventWithDrum(makeDrum("kick"), 1.0f, 0.5f);
    bar->setZoomLevel(4);
    auto second = ORPSection::section();
    second->setName("fill");
    auto odd = ORPPattern::pattern();
    odd->setTimeSignatureTop(7, 8);
    odd->setBpm(140, 8);
    odd->addEventWithDrum(hat, 0.3f, 6.0f / 7.0f);
    second->insertPatterns({ odd }, 0);
    song->insertSections({ second }, 1);
    auto entry = ORPSectionMarker::sectionMarker();
    entry->setSection(second);
    entry->setName("fill in");
    entry->setNumberOfTimes(2);
    auto again = ORPSectionMarker::sectionMarker();
    again->setSection(first);
    song->insertSectionMarkers({ entry, again }, 1);
    return song;
}

// An older sequential song ("Old song", "from the nineties") of `patterns` patterns and one old
// marker "verse" that refers back to the second and third. Version 2 stores the kit as an alias
// record, earlier ones as a path ("/kits/Old.rpkit"); version 0 has no master level (later ones
// 0.7). In pattern form 1 (4/4) hits sit at positions of 24 per written beat: a kick at 0, a
// snare and two hi hat slots at 48, a tom in the second slot at 72, and a position past the bar
// that holds no event. Form 0 spreads four events evenly over a 6/8 bar: a kick in each, a snare
// in every other one. Each pattern is a beat per minute faster than the one before.
struct OlderSong {
    bool bigEndian = true;
    int songVersion = 2;
    int patternVersion = 1;
    int patterns = 4;
    int legacyBasis = 40; // form 1 only
    float tempo = 120;
    std::vector<uint8_t> kitAlias = {};
};

inline void writeOldEvent(
    TypedStreamWriter& w, const std::vector<std::pair<std::string, std::string>>& slots, float velocity)
{
    w.beginObject({ { "DrumEvent", 0 }, { "NSObject", 0 } });
    for (size_t slot = 0; slot < 5; ++slot) {
        const bool used = slot < slots.size() && !slots[slot].first.empty();
        w.group("@");
        used ? static_cast<void>(w.stringObject(slots[slot].first)) : w.nil();
        w.group("@");
        used ? static_cast<void>(w.stringObject(slots[slot].second)) : w.nil();
        w.group("f");
        w.floatValue(velocity, true);
    }
    w.endObject();
}

inline std::vector<uint8_t> olderSong(const OlderSong& song)
{
    TypedStreamWriter w(song.bigEndian);
    auto shorts = [&w](std::initializer_list<int> values) {
        for (int value : values) {
            w.group("s");
            w.integer(value);
        }
    };
    w.group("@");
    w.beginObject({ { "SongFile", song.songVersion }, { "NSObject", 0 } });
    for (const char* text : { "Old song", "from the nineties" }) {
        w.group("@");
        w.stringObject(text);
    }
    w.group("@");
    song.songVersion >= 2 ? static_cast<void>(w.dataObject(song.kitAlias))
                          : static_cast<void>(w.stringObject("/kits/Old.rpkit"));
    std::vector<int> numbers;
    w.group("@");
    w.arrayObject(song.patterns, [&](int i) {
        numbers.push_back(w.beginObject({ { "DrumPattern", song.patternVersion }, { "NSObject", 0 } }));
        song.patternVersion == 0 ? shorts({ 6, 8, 0, 0 }) : shorts({ 4, 4, song.legacyBasis });
        w.group("f");
        w.floatValue(song.tempo + static_cast<float>(i));
        if (song.patternVersion == 0) {
            w.group("@");
            w.arrayObject(4, [&](int e) {
                writeOldEvent(w, { { "kick", "" }, { e % 2 ? "snare" : "", "" } }, 0.9f);
            });
        } else {
            const std::vector<std::pair<int, std::vector<std::pair<std::string, std::string>>>> hits
                = { { 0, { { "kick", "default" } } },
                      { 48, { { "snare", "default" }, { "hi hat", "closed" }, { "Hi Hat", "open" } } },
                      { 72, { {}, { "tom", "" } } }, { 200, {} } };
            for (const auto& [position, slots] : hits) {
                w.group("S");
                w.integer(position);
                if (position < 96) {
                    w.group("@");
                    writeOldEvent(w, slots, 0.5f);
                }
            }
            w.group("S");
            w.integer(65535);
        }
        w.endObject();
    });
    w.group("@");
    w.arrayObject(1, [&](int) {
        w.beginObject({ { "SectionMarker", 0 }, { "NSObject", 0 } });
        w.group("@");
        w.stringObject("verse");
        for (int number : { numbers[1], numbers[2] }) {
            w.group("@");
            w.reference(number);
        }
        w.endObject();
    });
    w.group("f");
    w.floatValue(1.0f);
    w.group("c");
    w.byte(1);
    if (song.songVersion >= 1) {
        w.group("f");
        w.floatValue(0.7f, true);
    }
    w.endObject();
    return w.bytes();
}

} // namespace rp::test
