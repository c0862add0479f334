#pragma once

// A pattern editor on a recording view, a small real kit and a song owned by a test document.

#include "editor/EditorTestSupport.h"
#include "editor/ORPDrumPicker.h"
#include "editor/ORPInterfaceDefaults.h"
#include "editor/ORPPatternEditor.h"
#include "foundation/NotificationQueue.h"
#include "foundation/UndoManager.h"
#include "model/ORPSectionMarker.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace rp::test {

inline ORPDrumPtr editorDrum(const std::string& group, const std::string& type, const std::string& variant)
{
    auto drum = ORPDrum::drum();
    drum->setGroupName(group);
    drum->setTypeName(type);
    drum->setVariantName(variant);
    return drum;
}

// Owns the song's undo manager as a song document does; groups only where the editor opens them.
class EditorTestDocument : public ORPSongDocument {
public:
    EditorTestDocument() { undo.setGroupsByEvent(false); }
    UndoManager* undoManager() override { return &undo; }
    UndoManager undo;
};

// Records the notifications of one name while it lives.
class PostedNotifications {
public:
    explicit PostedNotifications(const std::string& name)
    {
        NotificationCenter::defaultCenter().addObserver(
            this, name, nullptr, [this](const Notification& note) { posted.push_back(note); });
    }
    ~PostedNotifications() { NotificationCenter::defaultCenter().removeObserver(this); }
    PostedNotifications(const PostedNotifications&) = delete;
    PostedNotifications& operator=(const PostedNotifications&) = delete;
    size_t count() const { return posted.size(); }
    std::vector<Notification> posted;
};

// A song with one playlist entry playing its one section, owned by a test document.
struct EditorSong {
    EditorSong()
    {
        ORPSong::setDefaultKitProvider({});
        song = ORPSong::song();
        song->setDocument(document);
    }
    std::shared_ptr<EditorTestDocument> document = std::make_shared<EditorTestDocument>();
    ORPSongPtr song;
};

class RecordingEditorView : public ORPPatternEditorView {
public:
    ORPRect visibleRect() const override { return visible; }
    void setCanvasSize(double width, double height) override { canvas = { 0, 0, width, height }; }
    void redrawRect(const ORPRect& rect) override { redrawn.push_back(rect); }
    void redrawAll() override { ++fullRedraws; }
    void scrollRectToVisible(const ORPRect& rect) override { scrolledTo.push_back(rect); }
    void beep() override { ++beeps; }
    void setCursor(ORPEditorCursor shape, const ORPDrumPtr& drum) override
    {
        cursor = shape;
        cursorDrum = drum;
    }
    bool windowIsKey() const override { return key; }
    bool isFirstResponder() const override { return true; }
    void makeWindowKey() override { key = true; }
    bool floatingPanelContains(ORPPoint) const override { return false; }
    void setAutoScrollTimer(bool run) override { autoScroll = run; }
    void setMousePositionTimer(bool run) override { mouseTimer = run; }
    void setInsertionBlinkTimer(bool run) override { blinkTimer = run; }
    void setPlaybackTimer(bool run) override
    {
        playbackTimer = run;
        if (onPlaybackTimer)
            onPlaybackTimer(run);
    }
    void showVelocityPopUp(const ORPEventPtr& event, const ORPPatternPtr&, ORPPoint point) override
    {
        popUpEvent = event;
        popUpAt = point;
    }
    void showEditContextMenu(ORPPoint) override { ++contextMenus; }
    void dragSelectedBars(ORPPoint) override { ++barDrags; }

    ORPRect visible { 0, 0, 1000, 800 };
    ORPRect canvas;
    std::vector<ORPRect> redrawn;
    int fullRedraws = 0;
    std::vector<ORPRect> scrolledTo;
    int beeps = 0;
    ORPEditorCursor cursor = ORPEditorCursor::Arrow;
    ORPDrumPtr cursorDrum;
    bool key = true;
    bool autoScroll = false;
    bool mouseTimer = false;
    bool blinkTimer = false;
    bool playbackTimer = false;
    std::function<void(bool)> onPlaybackTimer; // a test may run the timer on the main loop
    ORPEventPtr popUpEvent;
    ORPPoint popUpAt;
    int contextMenus = 0;
    int barDrags = 0;
};

// Three groups: Kicks (row 0: Kick Hard, Kick Soft, Low Kick), Snares (row 1: Snare), Hats (row 2: Hat Closed,
// Hat Open, Ride). Row height 3 x 18 + 44 = 98.
struct EditorFixture : ::testing::Test {
    EditorFixture()
    {
        for (const auto& drum : { kickHard, kickSoft, kickLow, snare, hatClosed, hatOpen, ride })
            kit->addDrum(drum);
        for (const auto& drum : { kickHard, kickLow, snare, hatClosed, ride })
            drum->setDefaultVarForType(true);
        picker.setViewHooks({ [] { }, [](std::optional<size_t>) { } });
        song.song->setDrumKit(kit, {});
        defaults.store().setInteger(0, ORPInterfaceDefaults::kPatternsPerRowKey); // one row unless a test says
        editor->setDrumPicker(&picker);
        song.document->undo.removeAllActions();
    }
    ~EditorFixture() override { NotificationQueue::defaultQueue().flush(); }

    ORPSectionPtr section() const { return song.song->sectionList()[0]; }
    ORPSectionMarkerPtr entry() const { return song.song->sectionMarkerList()[0]; }
    // The first section holds `count` bars of 4/4 at zoom level 1 (8 divisions, 144 points).
    void setBars(size_t count)
    {
        while (section()->patterns().size() < count)
            section()->insertPatterns({ ORPPattern::pattern() }, section()->patterns().size());
        song.document->undo.removeAllActions();
    }
    void editPlaylist() { editor->setEditedObjects({ entry() }, kit); }
    ORPPatternInstancePtr bar(size_t index) const { return editor->instances().at(index); }
    // The centre of cell (group, division) of bar `index`.
    ORPPoint cell(size_t index, int group, int div) const
    {
        const auto& frame = bar(index)->frame();
        return { frame.x + 18 * div + 9, frame.y + 24 + 18 * group + 9 };
    }
    ORPMouseInput at(ORPPoint point, ORPEditorModifiers modifiers = {}, int clicks = 1) const
    {
        return { point, modifiers, clicks, ORPMouseInput::Button::Left };
    }
    void click(ORPPoint point, ORPEditorModifiers modifiers = {}, int clicks = 1)
    {
        editor->hoverUpdate(at(point, modifiers, clicks));
        editor->mouseDown(at(point, modifiers, clicks));
        editor->mouseUp(at(point, modifiers, clicks));
    }

    ORPDrumPtr kickHard = editorDrum("Kicks", "Kick", "Hard");
    ORPDrumPtr kickSoft = editorDrum("Kicks", "Kick", "Soft");
    ORPDrumPtr kickLow = editorDrum("Kicks", "Low Kick", "default");
    ORPDrumPtr snare = editorDrum("Snares", "Snare", "Plain");
    ORPDrumPtr hatClosed = editorDrum("Hats", "Hat", "Closed");
    ORPDrumPtr hatOpen = editorDrum("Hats", "Hat", "Open");
    ORPDrumPtr ride = editorDrum("Hats", "Ride", "default");
    ORPDrumKitPtr kit = ORPDrumKit::kit();
    EditorSong song;
    TempDefaults defaults;
    ORPDrumPicker picker;
    RecordingEditorView view;
    std::shared_ptr<ORPPatternEditor> editor = std::make_shared<ORPPatternEditor>(view, defaults.store());
};

} // namespace rp::test
