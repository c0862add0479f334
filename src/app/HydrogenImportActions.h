#pragma once

class QWidget;

namespace rp::app {

// File > Import Hydrogen Kit...: asks for a Hydrogen kit (its drumkit.xml or a .h2drumkit archive)
// and where the new kit bundle goes, imports it, says what could not come over, and opens the kit.
void importHydrogenKit(QWidget* window);

// File > Import Hydrogen Song...: the same for a .h2song; its kit is found among the installed
// Hydrogen kits and imported beside the new song, which then opens.
void importHydrogenSong(QWidget* window);

} // namespace rp::app
