// The fuzzer's seed streams are written by TypedStreamWriter. This test keeps the committed
// files equal to what the writer produces and checks that each one decodes; run it with
// RP_WRITE_FUZZ_SEEDS=1 to rewrite them after changing a seed.

#include "BuildInfo.h"
#include "TypedStreamWriter.h"
#include "archive/TypedStreamDecoder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using rp::test::TypedStreamWriter;

namespace {

std::map<std::string, std::vector<uint8_t>> seeds()
{
    std::map<std::string, std::vector<uint8_t>> out;
    {
        TypedStreamWriter w(false);
        w.group("@");
        w.stringObject("hello");
        out["string-little-endian"] = w.bytes();
    }
    {
        TypedStreamWriter w(true);
        w.group("@");
        w.arrayObject(
            4,
            [&](int i) {
                if (i == 0)
                    w.stringObject("snare", true);
                else if (i == 1)
                    w.integerNumber(-200, "s");
                else if (i == 2)
                    w.dataObject({ 1, 2, 3 });
                else
                    w.realNumber(0.5);
            },
            true);
        out["nested-big-endian"] = w.bytes();
    }
    {
        TypedStreamWriter w(false);
        w.group("@");
        int first = -1;
        w.beginObject({ { "NSDictionary", 0 }, { "NSObject", 0 } });
        w.group("i");
        w.integer(2);
        w.group("@@");
        first = w.stringObject("key");
        w.arrayObject(1, [&](int) { w.reference(first); });
        w.group("@@");
        w.stringObject("other");
        w.reference(first);
        w.endObject();
        out["shared-objects"] = w.bytes();
    }
    {
        // A program class, its older name, all value groupings and a marker-ended list.
        TypedStreamWriter w(true);
        w.group("@");
        w.beginObject({ { "OldFuzzThing", 2 }, { "NSObject", 0 } });
        w.group("@s");
        w.stringObject("kick");
        w.integer(-3);
        w.group("fc");
        w.floatValue(0.25f, true);
        w.byte(1);
        w.group("i");
        w.integer(2);
        w.group("[2c]");
        w.byte(0xab);
        w.byte(0xcd);
        w.group("S@");
        w.integer(48);
        w.stringObject("event");
        w.group("S");
        w.integer(65535);
        w.endObject();
        out["program-class"] = w.bytes();
    }
    {
        TypedStreamWriter w(false);
        w.group("@");
        w.beginObject({ { "NSValue", 0 }, { "NSObject", 0 } });
        w.group("*");
        w.cString("{_NSRect={_NSPoint=ff}{_NSSize=ff}}");
        w.group("{_NSRect={_NSPoint=ff}{_NSSize=ff}}");
        for (float f : { 1.0f, 2.5f, 300.0f, 4.0f })
            w.floatValue(f, f == 2.5f);
        w.endObject();
        w.group("[3i]*%:#");
        for (int v : { 1, -1000, 100000 })
            w.integer(v);
        w.cString("text");
        w.sharedString("atom");
        w.sharedString("selector:");
        w.classChain({ { "NSString", 1 }, { "NSObject", 0 } });
        out["values"] = w.bytes();
    }
    return out;
}

std::filesystem::path seedFolder()
{
    return std::filesystem::path(RP_SOURCE_DIR) / "fuzz" / "corpus" / "typed_stream";
}

} // namespace

TEST(TypedStreamSeeds, CommittedSeedsMatchTheWriterAndDecode)
{
    bool rewrite = std::getenv("RP_WRITE_FUZZ_SEEDS") != nullptr;
    for (const auto& [name, bytes] : seeds()) {
        SCOPED_TRACE(name);
        auto path = seedFolder() / name;
        if (rewrite) {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(
                reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> committed(
            (std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(committed, bytes) << "rewrite with RP_WRITE_FUZZ_SEEDS=1";

        rp::TypedStreamDecoder::Options options;
        options.decodeUnknownClassesGenerically = true;
        rp::TypedStreamDecoder decoder(bytes, options);
        size_t count = 0;
        while (!decoder.atEnd()) {
            decoder.decodeNextValue();
            ++count;
        }
        EXPECT_FALSE(decoder.failed()) << decoder.errorText();
        EXPECT_GE(count, 1u);
    }
}
