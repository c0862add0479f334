#include "SongPlayerEditor.h"

#include <charconv>

namespace rp::cli {

namespace {

bool parseBarNumber(std::string_view text, size_t& value)
{
    if (text.empty())
        return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

} // namespace

std::optional<std::pair<size_t, size_t>> parseBarRange(
    const std::string& text, size_t barCount, std::string& error)
{
    const std::string_view view(text);
    const size_t dash = view.find('-');
    size_t first = 0;
    size_t last = 0;
    bool parsed = false;
    if (dash == std::string_view::npos) {
        parsed = parseBarNumber(view, first);
        last = first;
    } else {
        parsed = parseBarNumber(view.substr(0, dash), first) && parseBarNumber(view.substr(dash + 1), last);
    }
    if (!parsed || first == 0 || last < first) {
        error = "--bars wants A-B, two bar numbers from 1 with A <= B (got \"" + text + "\")";
        return std::nullopt;
    }
    if (last > barCount) {
        error = "--bars " + text + ": the song has " + std::to_string(barCount) + " bars";
        return std::nullopt;
    }
    return std::make_pair(first, last);
}

SongPlayerEditor::SongPlayerEditor(
    std::vector<ORPPatternInstancePtr> instances, std::optional<std::pair<size_t, size_t>> selectedBars)
    : instances_(std::move(instances))
{
    if (selectedBars && selectedBars->first >= 1 && selectedBars->second <= instances_.size()
        && selectedBars->first <= selectedBars->second) {
        selected_.assign(instances_.begin() + static_cast<std::ptrdiff_t>(selectedBars->first - 1),
            instances_.begin() + static_cast<std::ptrdiff_t>(selectedBars->second));
    }
}

} // namespace rp::cli
