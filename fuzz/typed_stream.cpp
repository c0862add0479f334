// Fuzzes the typed-stream reader: strict decoding with the Foundation classes and one program-like
// class, then generic decoding through the dump, which also prints the result as JSON.

#include "archive/ArchiveDump.h"
#include "archive/TypedStreamDecoder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

class FuzzThing final : public rp::ArchiveObject {
public:
    std::string archiveClassName() const override { return "FuzzThing"; }
};

// Reads the kinds of values older songs and kits read: objects, strings, 16-bit and 8-bit
// integers, floats, data, and a list ended by a marker.
const bool registered = [] {
    rp::TypedStreamDecoder::registerClass(
        "FuzzThing", [](rp::TypedStreamDecoder& coder) -> rp::ArchiveObjectPtr {
            int64_t version = coder.versionForClassName("FuzzThing");
            coder.decodeStringObject();
            coder.decodeInteger('s');
            coder.decodeFloat();
            coder.decodeInteger('c');
            if (version >= 1)
                coder.decodeDataObject();
            if (version >= 2) {
                while (coder.decodeInteger('S') != 65535)
                    coder.decodeObject();
            }
            return std::make_shared<FuzzThing>();
        });
    rp::TypedStreamDecoder::setClassNameTranslation("OldFuzzThing", "FuzzThing");
    return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::span<const uint8_t> bytes(data, size);
    std::string error;
    rp::TypedStreamDecoder::unarchiveObjectWithData(bytes, &error);
    rp::dumpArchiveAsJSON(bytes, &error);
    return registered ? 0 : 1;
}
