#pragma once

#include "foundation/NotificationCenter.h"
#include "foundation/UndoManager.h"
#include "model/ORPSong.h"

#include <any>
#include <gtest/gtest.h>
#include <memory>
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
        if (posted.empty() || !posted.back().userInfo.has_value())
            return {};
        const auto* info = std::any_cast<ORPUserInfo>(&posted.back().userInfo);
        if (!info)
            return {};
        auto found = info->find(key);
        return found == info->end() ? std::any() : found->second;
    }
    bool lastHasInfo() const { return !posted.empty() && posted.back().userInfo.has_value(); }

    std::vector<rp::Notification> posted;
};

inline std::vector<float> places(const ORPPattern& pattern)
{
    std::vector<float> result;
    for (const auto& event : *pattern.events())
        result.push_back(event->whenRatio());
    return result;
}

} // namespace rp::test
