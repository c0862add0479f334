#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "kit/ORPDrumKit.h"
#include "player/ORPPlayer.h"
#endif

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace rp::app {

// Starts an export of `instances` by `player` from `window`: the export panel (audio) or the save
// chooser (MIDI, after the alert about drums without notes), then the progress sheet on the window.
// Returns when the export has started or was dismissed.
void startExport(QWidget* window, const std::shared_ptr<ORPPlayer>& player,
    const std::vector<ORPPatternInstancePtr>& instances, unsigned mode, const ORPDrumKitPtr& kit,
    const std::optional<std::string>& title, const std::optional<std::string>& notes,
    const std::string& defaultFilename);

// The items of the export menus, in mode order (0: mix, 1: one file per group, 2: MIDI), English.
const std::vector<std::string>& exportMenuItemTitles();

// The default name of an export of the editor's selected bars: the document's name and the count,
// "Song (3 bars)" or "Song (1 bar)".
std::string selectedBarsExportName(const std::string& documentName, size_t bars);

} // namespace rp::app
