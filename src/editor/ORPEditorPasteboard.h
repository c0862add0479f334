#pragma once

// The clipboard as the pattern editor sees it: a few typed blocks of bytes, named by the type names
// of PasteboardTypes ("ORPPattisForDrumsPboardType", ...). The interface wraps the desktop's
// clipboard; what it hands back may come from any program and is read as hostile.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class ORPEditorPasteboard {
public:
    virtual ~ORPEditorPasteboard() = default;

    // The type names of ours the clipboard offers now.
    virtual std::vector<std::string> types() const = 0;
    // The bytes under a type name; none when the clipboard does not offer it. Not bounded here.
    virtual std::optional<std::vector<uint8_t>> dataForType(const std::string& typeName) const = 0;
    // Empties the clipboard and puts `bytes` on it under that one type name.
    virtual void setDataForType(const std::string& typeName, std::vector<uint8_t> bytes) = 0;

    bool hasType(const std::string& typeName) const;
};
