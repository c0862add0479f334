#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace rp {

// Describes the object graph of an archive as JSON text, for people and scripts inspecting files.
//
// Accepts a keyed archive (binary property list), a typed stream of either byte order,
// an "OXdc" compressed block holding one of those, and song and kit files (their header is
// described, then the archive after it). Keyed archives are walked as raw property lists, so
// archives of any classes print. Typed streams decode the Foundation classes and read every
// other class generically from the stream's own type information.
//
// Every object shows its class name ("$class"; typed streams also "$version") and a number
// ("$id"); an object met again prints as {"$ref": id}. Keyed objects list their keys in order;
// typed-stream objects list their value types ("types") and values ("values"). Strings are
// UTF-8 text, data is {"$data": base64}.
//
// Bad input gives nullopt and a one-line reason in `error`.
std::optional<std::string> dumpArchiveAsJSON(std::span<const uint8_t> bytes, std::string* error);

} // namespace rp
