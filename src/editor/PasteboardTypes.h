#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rp::editor {

// What the pattern editor copies: the selected drums (division selection) or whole bars.
inline constexpr const char* ORPPattisForDrumsPboardType = "ORPPattisForDrumsPboardType";
inline constexpr const char* ORPPattisForBarsPboardType = "ORPPattisForBarsPboardType";

// Pasteboard types are the application identifier followed by a type name
// ("net.rattlepan.Rattlepan.ORPSectionListPboardType"); on the desktop's clipboard and in drags
// they travel as the MIME type "application/x-<identifier>.<name>". Every type goes through here.
class PasteboardTypes {
public:
    static std::string pasteboardType(std::string_view name);
    static std::string mimeType(std::string_view name);
    // The type name inside a MIME type of ours; none for anything else (including malformed names).
    static std::optional<std::string> nameFromMimeType(std::string_view mimeType);

    // What is accepted from the clipboard or a drop: data from another program is bounded before
    // anything reads it.
    static constexpr size_t kMaximumForeignBytes = 64u << 20;
};

// The labels of an export of the selection: the selected section's name, else the one selected
// playlist entry's name, else "%lu sections"; the title "%@ (%@)" with the document's name.
struct ExportSelectionLabel {
    static std::string label(const std::optional<std::string>& selectedSectionName,
        size_t selectedEntryCount, const std::optional<std::string>& singleEntryName);
    static std::string title(const std::string& documentName, const std::string& label);
};

} // namespace rp::editor
