#include "editor/OXWindowFrame.h"

#include "BuildInfo.h"
#include "foundation/UserDefaults.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/xattr.h>

namespace {

constexpr std::string_view kFrameTag = "RPWF1";
constexpr int kMaxDigits = 7;
constexpr long kMaxCoordinate = 1000000;
constexpr long kMaxSize = 100000;
// Linux caps attribute values at 64 KiB; a value growing between our two calls is read again.
constexpr size_t kMaxAttributeBytes = 65536;
constexpr int kReadAttempts = 3;

std::optional<OXRect> rectFrom(const std::array<long, 8>& numbers, size_t first)
{
    const long x = numbers[first], y = numbers[first + 1], width = numbers[first + 2], height = numbers[first + 3];
    const auto coordinateOK = [](long v) { return v >= -kMaxCoordinate && v <= kMaxCoordinate; };
    const auto sizeOK = [](long v) { return v >= 1 && v <= kMaxSize; };
    if (!coordinateOK(x) || !coordinateOK(y) || !sizeOK(width) || !sizeOK(height)) {
        return std::nullopt;
    }
    return OXRect { static_cast<int>(x), static_cast<int>(y), static_cast<int>(width), static_cast<int>(height) };
}

bool attributesRefused(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP || error == EPERM;
}

std::string fallbackPathKey(const std::filesystem::path& file)
{
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(file, error);
    return (error ? std::filesystem::absolute(file, error) : canonical).string();
}

std::optional<std::string> readFallback(
    const std::filesystem::path& file, const std::string& name, const rp::UserDefaults& defaults)
{
    const auto all = defaults.dictionaryForKey(OXWindowFrameAttribute::kFallbackDefaultsKey);
    if (!all) {
        return std::nullopt;
    }
    const auto entry = all->find(fallbackPathKey(file));
    if (entry == all->end()) {
        return std::nullopt;
    }
    const auto* frames = entry->second.getIf<rp::PropertyDictionary>();
    if (!frames) {
        return std::nullopt;
    }
    const auto frame = frames->find(name);
    if (frame == frames->end()) {
        return std::nullopt;
    }
    const auto* text = frame->second.getIf<std::string>();
    if (!text) {
        return std::nullopt;
    }
    return *text;
}

// Stores (or, with none, removes) a fallback frame text.
void writeFallback(const std::filesystem::path& file, const std::string& name,
    const std::optional<std::string>& text, rp::UserDefaults& defaults)
{
    auto all = defaults.dictionaryForKey(OXWindowFrameAttribute::kFallbackDefaultsKey);
    if (!all && !text) {
        return;
    }
    rp::PropertyDictionary everything = all ? std::move(*all) : rp::PropertyDictionary {};
    const std::string pathKey = fallbackPathKey(file);
    rp::PropertyDictionary frames;
    if (const auto entry = everything.find(pathKey); entry != everything.end()) {
        if (const auto* existing = entry->second.getIf<rp::PropertyDictionary>()) {
            frames = *existing;
        }
    }
    if (text) {
        frames[name] = *text;
    } else if (frames.erase(name) == 0) {
        return; // nothing to remove: leave the store untouched
    }
    if (frames.empty()) {
        everything.erase(pathKey);
    } else {
        everything[pathKey] = std::move(frames);
    }
    if (everything.empty()) {
        defaults.removeObjectForKey(OXWindowFrameAttribute::kFallbackDefaultsKey);
        return;
    }
    defaults.setObject(rp::PropertyValue(std::move(everything)), OXWindowFrameAttribute::kFallbackDefaultsKey);
}

} // namespace

std::optional<long> OXParseStoredInteger(std::string_view token)
{
    bool negative = false;
    if (!token.empty() && token.front() == '-') {
        negative = true;
        token.remove_prefix(1);
    }
    if (token.empty() || token.size() > kMaxDigits) {
        return std::nullopt;
    }
    long value = 0;
    for (const char c : token) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::string OXFrameString(const OXSavedFrame& frame)
{
    std::string text(kFrameTag);
    for (const int value : { frame.window.x, frame.window.y, frame.window.width, frame.window.height,
             frame.screen.x, frame.screen.y, frame.screen.width, frame.screen.height }) {
        text += ' ';
        text += std::to_string(value);
    }
    return text;
}

std::optional<OXSavedFrame> OXParseFrameString(std::string_view text)
{
    if (!text.starts_with(kFrameTag)) {
        return std::nullopt;
    }
    text.remove_prefix(kFrameTag.size());
    std::array<long, 8> numbers {};
    for (long& number : numbers) {
        if (text.empty() || text.front() != ' ') {
            return std::nullopt;
        }
        text.remove_prefix(1);
        const size_t end = std::min(text.find(' '), text.size());
        const auto parsed = OXParseStoredInteger(text.substr(0, end));
        if (!parsed) {
            return std::nullopt;
        }
        number = *parsed;
        text.remove_prefix(end);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    const auto window = rectFrom(numbers, 0);
    const auto screen = rectFrom(numbers, 4);
    if (!window || !screen) {
        return std::nullopt;
    }
    return OXSavedFrame { *window, *screen };
}

OXRect OXConstrainFrameToScreen(const OXRect& window, const OXRect& screen)
{
    OXRect result = window;
    result.width = std::min(window.width, screen.width);
    result.height = std::min(window.height, screen.height);
    result.x = std::clamp(window.x, screen.x, screen.x + screen.width - result.width);
    result.y = std::clamp(window.y, screen.y, screen.y + screen.height - result.height);
    return result;
}

std::string OXWindowFrameAttribute::attributeName(const std::string& autosaveName)
{
    return std::string("user." RP_APP_IDENTIFIER ".NSWindow Frame ") + autosaveName;
}

bool OXWindowFrameAttribute::writeAttribute(
    const std::filesystem::path& file, const std::string& name, std::string_view value, int* error)
{
    if (::setxattr(file.c_str(), name.c_str(), value.data(), value.size(), 0) == 0) {
        return true;
    }
    if (error) {
        *error = errno;
    }
    return false;
}

bool OXWindowFrameAttribute::saveFrameToAttributeAtURL(const std::filesystem::path& file,
    const std::string& autosaveName, const OXSavedFrame& frame, rp::UserDefaults& fallback)
{
    const std::string name = attributeName(autosaveName);
    const std::string text = OXFrameString(frame);
    int error = 0;
    if (writeAttribute(file, name, text, &error)) {
        writeFallback(file, name, std::nullopt, fallback); // the attribute is the one answer now
        return true;
    }
    if (!attributesRefused(error)) {
        return false; // no such file, no permission to write it, ...
    }
    std::error_code exists;
    if (!std::filesystem::exists(file, exists)) {
        return false;
    }
    writeFallback(file, name, text, fallback);
    return true;
}

std::optional<std::string> OXWindowFrameAttribute::readAttributeAtURL(
    const std::filesystem::path& file, const std::string& autosaveName, const rp::UserDefaults& fallback)
{
    const std::string name = attributeName(autosaveName);
    std::optional<std::string> value;
    for (int attempt = 0; attempt < kReadAttempts && !value; ++attempt) {
        const ssize_t size = ::getxattr(file.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) {
            break;
        }
        // One byte more than announced tells a value that grew meanwhile from one that fits.
        std::string bytes(std::min(static_cast<size_t>(size), kMaxAttributeBytes) + 1, '\0');
        const ssize_t got = ::getxattr(file.c_str(), name.c_str(), bytes.data(), bytes.size());
        if (got < 0) {
            if (errno == ERANGE) {
                continue;
            }
            break;
        }
        bytes.resize(static_cast<size_t>(got));
        value = std::move(bytes);
    }
    // A file system without user attributes keeps the frame in the store.
    if (!value) {
        value = readFallback(file, name, fallback);
    }
    if (!value || value->empty()) {
        return std::nullopt;
    }
    if (value->size() > kMaxReadBytes) {
        value->resize(kMaxReadBytes);
    }
    return value;
}

std::optional<OXSavedFrame> OXWindowFrameAttribute::frameFromAttributeAtURL(
    const std::filesystem::path& file, const std::string& autosaveName, const rp::UserDefaults& fallback)
{
    const auto text = readAttributeAtURL(file, autosaveName, fallback);
    return text ? OXParseFrameString(*text) : std::nullopt;
}

std::optional<OXRect> OXCascadeIfNecessary(
    const OXRect& window, int titleBarHeight, const std::vector<OXRect>& otherWindows)
{
    for (const OXRect& other : otherWindows) {
        if (other.x == window.x && other.y == window.y) {
            OXRect moved = window;
            moved.x += titleBarHeight;
            moved.y += titleBarHeight; // down, in y-down screen coordinates
            return moved;
        }
    }
    return std::nullopt;
}

OXRect OXCascadeFromSavedFrame(const std::optional<OXRect>& fromAttribute, const std::optional<OXRect>& autosaved,
    const OXRect& current, int titleBarHeight, const std::vector<OXRect>& otherWindows)
{
    const OXRect frame = fromAttribute ? *fromAttribute : autosaved ? *autosaved : current;
    return OXCascadeIfNecessary(frame, titleBarHeight, otherWindows).value_or(frame);
}
