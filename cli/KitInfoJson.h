#pragma once

// The kit part of `rattlepan-cli info`: a kit as JSON, the error JSON shared with songs, and the
// whole command for kit files and bundles.

#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace rp::cli {

// {"type": "kit", "kitName", "kitInfo", "groups": [{"name", "instruments": [{"typeName",
// "variants": [{"variantName", "defaultVar", "variantPrecedence", "linkAudioOnly", "shortcutKey",
// "midiChannel", "midiNote", "midiVelocity", "sound": {...}}]}]}]}
nlohmann::ordered_json kitInfoJson(const ORPDrumKit& kit);

// {"error": {"domain", "code", "description", "failureReason", "recoverySuggestion"}}
nlohmann::ordered_json errorJson(const rp::Error& error);

// True when `path` looks like a kit: a folder (bundle) or a file starting with the kit magic.
bool looksLikeKit(const std::filesystem::path& path);

// Prints the kit (JSON or text) and returns the exit status: 0, or 1 when it cannot be opened
// (with --json the error JSON on standard output, else the description and reason on standard
// error).
int printKitInfo(const std::filesystem::path& path, bool json);

} // namespace rp::cli
