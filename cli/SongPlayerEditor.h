#pragma once

// The pattern editor as the command line has it: the song's bars laid out from its playlist, an
// optional run of them selected (--bars A-B), no insertion point (so playing starts at the top).

#include "player/ORPPlayerEditor.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rp::cli {

// "A-B" (or "A"): 1-based, inclusive bar numbers. None, with `error` set, when the text is not
// such a range or names bars the song does not have.
std::optional<std::pair<size_t, size_t>> parseBarRange(
    const std::string& text, size_t barCount, std::string& error);

class SongPlayerEditor final : public ORPPlayerEditor {
public:
    explicit SongPlayerEditor(std::vector<ORPPatternInstancePtr> instances,
        std::optional<std::pair<size_t, size_t>> selectedBars = std::nullopt);

    bool hasSelection() const override { return !selected_.empty(); }
    std::vector<ORPPatternInstancePtr> selectedPatternInstances() const override { return selected_; }
    std::vector<ORPPatternInstancePtr> patternInstances() const override { return instances_; }
    std::optional<uint64_t> insertionPointIndex() const override { return std::nullopt; }
    float insertionPointPlace() const override { return 0; }

    // The bars to play or export: the selection when there is one, else every bar.
    const std::vector<ORPPatternInstancePtr>& barsToRender() const
    {
        return hasSelection() ? selected_ : instances_;
    }

private:
    std::vector<ORPPatternInstancePtr> instances_;
    std::vector<ORPPatternInstancePtr> selected_;
};

} // namespace rp::cli
