#pragma once

#include <functional>
#include <string>

namespace rp {
class UserDefaults;
}

// The defaults the interface reads, registered once per store, and the font choice of the drawing.
class ORPInterfaceDefaults {
public:
    static constexpr const char* kPatternsPerRowKey = "RPPatternsPerRow";
    static constexpr const char* kSectionBeginsNewRowKey = "RPSectionBeginsNewRow";
    // The playing options (RPDefaultVelocity, RPLoopPlayback, RPRecordEnabled) belong to the
    // transport inspector, which registers them.

    // RPPatternsPerRow -1, RPSectionBeginsNewRow false.
    static void registerDefaults(rp::UserDefaults& defaults);
};

// A font choice: a family at a size, or the desktop's own interface font.
struct ORPFontChoice {
    std::string family; // empty for the system font
    double size = 11.0;
    bool isSystemFont = false;
    bool operator==(const ORPFontChoice&) const = default;
};

// The named font at that size when it is installed; else the first installed of Arial, Helvetica,
// Geneva and then the usual Linux sans faces, DejaVu Sans and Liberation Sans, at that size; else the
// system font at size 11, whatever size was asked for.
ORPFontChoice preferredFont(
    const std::string& name, double size, const std::function<bool(const std::string& family)>& isInstalled);
