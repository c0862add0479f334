#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rp {
class UserDefaults;
}

// Window frames kept with document files, so each song or kit reopens where it was.
//
// All rectangles are in Qt's screen coordinates: pixels, y grows downwards, so a window's top edge
// is its y and "down" means a greater y.
struct OXRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const OXRect&) const = default;
};

// A window's frame and the frame of the screen it was on when saved.
struct OXSavedFrame {
    OXRect window;
    OXRect screen;
    bool operator==(const OXSavedFrame&) const = default;
};

// The saved-frame text: "RPWF1" then the eight integers x y width height of the window and of the
// screen, separated by single spaces. At most 78 bytes.
//
// Parsing refuses anything else: other characters, missing or extra numbers, numbers with more than
// 7 digits, coordinates beyond +-1000000, sizes below 1 or above 100000.
std::string OXFrameString(const OXSavedFrame& frame);
std::optional<OXSavedFrame> OXParseFrameString(std::string_view text);
// One stored integer: at most 7 digits with an optional minus sign, nothing else (stored window and
// panel geometry is read back strictly).
std::optional<long> OXParseStoredInteger(std::string_view token);

// The window moved inside `screen` if it sticks out (and shrunk to it if it is larger).
OXRect OXConstrainFrameToScreen(const OXRect& window, const OXRect& screen);

// The frame attribute of a document file: the Linux extended attribute
// "user.<application identifier>.NSWindow Frame <autosave name>" holding the frame text in UTF-8 with
// no terminating zero. Written after the save's rename (the rename replaces the file, and with it
// the old file's attributes). Where the file system refuses user attributes (ENOTSUP, or EPERM for
// files that are not regular files or folders), the text is kept in the user defaults instead, under
// RPWindowFrameAttributes, by the file's canonical path and the attribute name.
class OXWindowFrameAttribute {
public:
    static constexpr size_t kMaxReadBytes = 256;
    static constexpr const char* kFallbackDefaultsKey = "RPWindowFrameAttributes";

    static std::string attributeName(const std::string& autosaveName);

    // True when the frame was stored (as an attribute or, where attributes are refused, in the store).
    static bool saveFrameToAttributeAtURL(const std::filesystem::path& file, const std::string& autosaveName,
        const OXSavedFrame& frame, rp::UserDefaults& fallback);

    // The attribute's bytes, read whole and cut to the first 256; none when there is none or it is
    // empty.
    static std::optional<std::string> readAttributeAtURL(
        const std::filesystem::path& file, const std::string& autosaveName, const rp::UserDefaults& fallback);

    // setFrameFromAttributeAtURL: the saved frame, or none when the attribute is missing, empty or not
    // a frame text this program wrote.
    static std::optional<OXSavedFrame> frameFromAttributeAtURL(
        const std::filesystem::path& file, const std::string& autosaveName, const rp::UserDefaults& fallback);

    // Writes or reads raw attribute bytes (tests use it to plant hostile values). The errno of a
    // failure is left in *error.
    static bool writeAttribute(const std::filesystem::path& file, const std::string& name,
        std::string_view value, int* error = nullptr);
};

// cascadeIfNecessary: at the first of the other windows with the same x and the same top edge, this
// window moves right and down by its title bar's height, once. None when it need not move.
std::optional<OXRect> OXCascadeIfNecessary(
    const OXRect& window, int titleBarHeight, const std::vector<OXRect>& otherWindows);

// cascadeFromSavedFrameAtURL: the attribute's frame when there is one, else the frame saved under
// the autosave name (or the window's current frame), then cascaded if necessary.
OXRect OXCascadeFromSavedFrame(const std::optional<OXRect>& fromAttribute, const std::optional<OXRect>& autosaved,
    const OXRect& current, int titleBarHeight, const std::vector<OXRect>& otherWindows);
