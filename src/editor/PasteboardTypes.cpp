#include "editor/PasteboardTypes.h"

#include "BuildInfo.h"
#include "foundation/Localization.h"

#include <algorithm>

namespace rp::editor {

namespace {

constexpr std::string_view kMimePrefix = "application/x-";

bool isTypeNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
        || c == '_';
}

} // namespace

std::string PasteboardTypes::pasteboardType(std::string_view name)
{
    return std::string(RP_APP_IDENTIFIER) + "." + std::string(name);
}

std::string PasteboardTypes::mimeType(std::string_view name)
{
    return std::string(kMimePrefix) + pasteboardType(name);
}

std::optional<std::string> PasteboardTypes::nameFromMimeType(std::string_view mimeType)
{
    const std::string prefix = std::string(kMimePrefix) + RP_APP_IDENTIFIER + ".";
    if (mimeType.size() <= prefix.size() || mimeType.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::string_view name = mimeType.substr(prefix.size());
    if (name.size() > 128 || !std::all_of(name.begin(), name.end(), isTypeNameCharacter)) {
        return std::nullopt;
    }
    return std::string(name);
}

std::string ExportSelectionLabel::label(const std::optional<std::string>& selectedSectionName,
    size_t selectedEntryCount, const std::optional<std::string>& singleEntryName)
{
    if (selectedSectionName) {
        return *selectedSectionName;
    }
    if (selectedEntryCount == 1 && singleEntryName) {
        return *singleEntryName;
    }
    return localizedFormat("%lu sections", { FormatArgument(static_cast<uint64_t>(selectedEntryCount)) });
}

std::string ExportSelectionLabel::title(const std::string& documentName, const std::string& label)
{
    return localizedFormat("%@ (%@)", { FormatArgument(documentName), FormatArgument(label) });
}

} // namespace rp::editor
