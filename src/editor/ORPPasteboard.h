#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rp::editor {

// A pasteboard as the pattern editor and the song tables see it: the general clipboard or the data
// of one drag. Types are the bare type names ("ORPSectionArrayPboardType", "ORPPattisForBarsPboardType");
// the adapter turns them into its own names (PasteboardTypes). Data read back may come from another process and is treated as hostile by the
// caller; adapters bound it by PasteboardTypes::kMaximumForeignBytes.
class ORPPasteboard {
public:
    // Produces a type's bytes when a reader first asks for them (empty: the type is unavailable).
    using Provider = std::function<std::vector<uint8_t>()>;

    virtual ~ORPPasteboard() = default;
    // Replaces the contents with these types; each has bytes now or a provider called on demand.
    virtual void declareTypes(const std::vector<std::string>& typeNames) = 0;
    virtual void setData(const std::string& typeName, std::vector<uint8_t> bytes) = 0;
    virtual void setProvider(const std::string& typeName, Provider provider) = 0;
    virtual bool hasType(const std::string& typeName) const = 0;
    // The bytes of a type, none when absent, unavailable or over the bound.
    virtual std::optional<std::vector<uint8_t>> data(const std::string& typeName) const = 0;
};

// A pasteboard in memory: the drag data a table builds before the toolkit carries it, and the
// clipboard in tests. Providers run at most once; their bytes are kept.
class ORPMemoryPasteboard : public ORPPasteboard {
public:
    void declareTypes(const std::vector<std::string>& typeNames) override;
    void setData(const std::string& typeName, std::vector<uint8_t> bytes) override;
    void setProvider(const std::string& typeName, Provider provider) override;
    bool hasType(const std::string& typeName) const override;
    std::optional<std::vector<uint8_t>> data(const std::string& typeName) const override;

    const std::vector<std::string>& types() const { return types_; }
    // How many times a provider has been asked for its bytes.
    int providerCalls() const { return providerCalls_; }

private:
    std::vector<std::string> types_;
    mutable std::map<std::string, std::vector<uint8_t>> data_;
    mutable std::map<std::string, Provider> providers_;
    mutable int providerCalls_ = 0;
};

} // namespace rp::editor
