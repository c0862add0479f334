#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#ifndef Q_MOC_RUN
#include "editor/ORPEditorPasteboard.h"
#endif

class QMimeData;

namespace rp::app {

// The desktop clipboard for our own pasteboard types. Bytes travel under the MIME type that
// PasteboardTypes names; anything read back may come from another program, so it is bounded here
// and the caller still validates it as an untrusted archive.
class Pasteboard {
public:
    // Puts the items (type name -> bytes) on the clipboard, replacing what was there.
    static void write(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items);
    // The bytes of one of our types, or none when absent or larger than the bound.
    static std::optional<std::vector<uint8_t>> read(const std::string& typeName);
    static bool hasType(const std::string& typeName);

    // The same for drag and drop data.
    static QMimeData* mimeData(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items);
    static std::optional<std::vector<uint8_t>> read(const QMimeData* data, const std::string& typeName);
};

// The desktop clipboard as the pattern editor uses it.
class EditorClipboard final : public ORPEditorPasteboard {
public:
    std::vector<std::string> types() const override;
    std::optional<std::vector<uint8_t>> dataForType(const std::string& typeName) const override;
    void setDataForType(const std::string& typeName, std::vector<uint8_t> bytes) override;
};

} // namespace rp::app
