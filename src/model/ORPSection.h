#pragma once

#include "model/ORPPattern.h"

#include <memory>
#include <string>
#include <vector>

class ORPSong;
class ORPSection;
using ORPSectionPtr = std::shared_ptr<ORPSection>;

inline constexpr const char* ORPSectionPatternsAddedOrRemovedNotification
    = "ORPSectionPatternsAddedOrRemovedNotification";
inline constexpr const char* ORPSectionDurationChangedNotification = "ORPSectionDurationChangedNotification";
inline constexpr const char* ORPSectionRenamedNotification = "ORPSectionRenamedNotification";

// A named list of bars. Owns its patterns, observes them, and keeps its duration (the sum of theirs)
// current. Main thread only.
class ORPSection : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    ORPSection(); // named the localized "new section", no patterns
    ~ORPSection() override;
    ORPSection(const ORPSection&) = delete;
    ORPSection& operator=(const ORPSection&) = delete;

    static ORPSectionPtr section() { return std::make_shared<ORPSection>(); }
    // Copies of every pattern (re-parented to the copy), the name, the same duration, no parent song.
    ORPSectionPtr copy() const;

    const std::vector<ORPPatternPtr>& patterns() const { return patterns_; }
    const std::string& name() const { return name_; }
    void setName(const std::string& name);
    float duration() const { return duration_; }
    std::shared_ptr<ORPSong> parentSong() const { return parentSong_.lock(); }
    void setParentSong(const std::weak_ptr<ORPSong>& song) { parentSong_ = song; }
    rp::UndoManager* undoManager() const;

    void updateOverview();
    void insertPatterns(const std::vector<ORPPatternPtr>& patterns, size_t index);
    void insertPatterns(const std::vector<ORPPatternPtr>& patterns, const std::vector<size_t>& indices);
    void removePatterns(const std::vector<ORPPatternPtr>& patterns);
    void handleNotification(const rp::Notification& notification);

    std::string archiveClassName() const override { return "ORPSection"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPSectionPtr initWithCoder(rp::KeyedUnarchiver& coder);

private:
    ORPSectionPtr self() { return std::static_pointer_cast<ORPSection>(shared_from_this()); }
    void adopt(const ORPPatternPtr& pattern);
    void registerUndo(std::function<void(ORPSection&)> inverse);
    void finishInsertion(const std::vector<ORPPatternPtr>& patterns);

    std::vector<ORPPatternPtr> patterns_;
    std::string name_;
    float duration_ = 0;
    std::weak_ptr<ORPSong> parentSong_;
};
