#include "editor/ORPPasteboard.h"

#include "editor/PasteboardTypes.h"

#include <algorithm>

namespace rp::editor {

void ORPMemoryPasteboard::declareTypes(const std::vector<std::string>& typeNames)
{
    types_ = typeNames;
    data_.clear();
    providers_.clear();
}

void ORPMemoryPasteboard::setData(const std::string& typeName, std::vector<uint8_t> bytes)
{
    if (!hasType(typeName))
        return;
    providers_.erase(typeName);
    data_[typeName] = std::move(bytes);
}

void ORPMemoryPasteboard::setProvider(const std::string& typeName, Provider provider)
{
    if (!hasType(typeName))
        return;
    data_.erase(typeName);
    providers_[typeName] = std::move(provider);
}

bool ORPMemoryPasteboard::hasType(const std::string& typeName) const
{
    return std::find(types_.begin(), types_.end(), typeName) != types_.end();
}

std::optional<std::vector<uint8_t>> ORPMemoryPasteboard::data(const std::string& typeName) const
{
    if (!hasType(typeName))
        return std::nullopt;
    if (auto provider = providers_.find(typeName); provider != providers_.end()) {
        Provider produce = std::move(provider->second);
        providers_.erase(provider);
        ++providerCalls_;
        data_[typeName] = produce ? produce() : std::vector<uint8_t> {};
    }
    auto found = data_.find(typeName);
    if (found == data_.end() || found->second.empty() || found->second.size() > PasteboardTypes::kMaximumForeignBytes)
        return std::nullopt;
    return found->second;
}

} // namespace rp::editor
