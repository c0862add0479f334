#pragma once

#include <string>
#include <vector>

namespace rp {

class KeyedArchiver;

// Mix-in for the program's own classes written to keyed archives. A class derives from both
// rp::ArchiveObject and rp::KeyedCoding, writes its keys in encodeWithCoder and registers a
// factory with KeyedUnarchiver::registerClass to read them back.
class KeyedCoding {
public:
    virtual ~KeyedCoding() = default;

    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;

    // The superclasses written after the class name in the archive's "$classes" list, nearest
    // first. A subclass of another archivable class returns its chain, e.g.
    // {"KWMIDIRealEndpoint", "KWMIDIEndpoint", "NSObject"}.
    virtual std::vector<std::string> keyedArchiveSuperclasses() const { return { "NSObject" }; }
};

} // namespace rp
