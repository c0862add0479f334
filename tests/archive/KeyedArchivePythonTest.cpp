// Cross-checks with Python's plistlib, a property-list implementation nobody here wrote.
#include "KeyedArchiveTestClasses.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace rp;

namespace {

class KeyedArchivePythonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::haveTool("python3"))
            GTEST_SKIP() << "python3 not available";
        KATestThing::registerClass();
    }
    void TearDown() override { KATestThing::unregisterClass(); }

    // Runs a Python script with the given arguments; returns its exit status, output in `output`.
    int runPython(const std::string& script, const std::string& arguments, std::string& output)
    {
        const auto path = dir_ / "script.py";
        std::ofstream(path) << script;
        return test::runCommand("python3 '" + path.string() + "' " + arguments + " 2>&1", &output);
    }

    test::TempDir dir_;
};

// Checks that a file is a well-formed keyed archive, then prints facts about the root object.
const char* const wellFormedChecker = R"PY(
import plistlib, sys
from plistlib import UID
with open(sys.argv[1], 'rb') as f:
    archive = plistlib.load(f)
assert archive['$archiver'] == 'NSKeyedArchiver', archive.get('$archiver')
assert archive['$version'] == 100000
objects = archive['$objects']
assert objects[0] == '$null'
top = archive['$top']
assert isinstance(top['root'], UID)

def check_uids(value):
    if isinstance(value, UID):
        assert 0 <= value.data < len(objects), value
    elif isinstance(value, dict):
        for v in value.values(): check_uids(v)
    elif isinstance(value, list):
        for v in value: check_uids(v)
check_uids(top)
for entry in objects:
    check_uids(entry)
    if isinstance(entry, dict) and '$class' in entry:
        description = objects[entry['$class'].data]
        assert isinstance(description['$classname'], str)
        classes = description['$classes']
        assert classes[0] == description['$classname'] and classes[-1] == 'NSObject', classes

def resolve(uid):
    return objects[uid.data]

root = resolve(top['root'])
print('class', resolve(root['$class'])['$classname'])
print('name', resolve(root['KAT_name']))
print('small', root['KAT_small'])
print('big', root['KAT_big'])
print('ratio', round(root['KAT_ratio'], 6))
print('flag', root['KAT_flag'])
print('blob', resolve(root['KAT_blob']).hex())
print('shared', root['KAT_child'] == resolve(root['KAT_list'])['NS.objects'][0])
print('conditional', root['KAT_cond'].data)
print('list class', resolve(resolve(root['KAT_list'])['$class'])['$classes'])
)PY";

} // namespace

TEST_F(KeyedArchivePythonTest, PlistlibReadsOurArchiveAsAWellFormedKeyedArchive)
{
    auto shared = std::make_shared<KATestThing>();
    auto root = std::make_shared<KATestThing>();
    root->name = "Caf\xC3\xA9 \xF0\x9F\xA5\x81"; // non-ASCII: stored as UTF-16
    root->small = -5;
    root->big = int64_t { 1 } << 40;
    root->ratio = 0.1f;
    root->flag = true;
    root->blob = std::vector<uint8_t> { 0xDE, 0xAD, 0x00, 0xBE };
    root->child = shared;
    root->list = { shared };
    root->conditionalChild = std::make_shared<KATestThing>();
    const auto path = dir_ / "out.archive";
    test::writeFileBytes(path, KeyedArchiver::archivedDataWithRootObject(root));

    std::string output;
    ASSERT_EQ(runPython(wellFormedChecker, "'" + path.string() + "'", output), 0) << output;
    EXPECT_EQ(output,
        "class KATestThing\n"
        "name Caf\xC3\xA9 \xF0\x9F\xA5\x81\n"
        "small -5\n"
        "big 1099511627776\n"
        "ratio 0.1\n"
        "flag True\n"
        "blob dead00be\n"
        "shared True\n"
        "conditional 0\n"
        "list class ['NSMutableArray', 'NSArray', 'NSObject']\n");
}

TEST_F(KeyedArchivePythonTest, ArchivesWrittenByPlistlibDecodeHere)
{
    // Integers of every stored width (1, 2, 4, 8 bytes, negative ones as 8), a UTF-16 string,
    // data, Foundation collections in their keyed forms and one object referred to twice.
    const char* const writer = R"PY(
import plistlib, sys
from plistlib import UID
objects = [
    '$null',
    {'$class': UID(2), 'KAT_flag': True, 'KAT_small': 200, 'KAT_big': -(2**40), 'KAT_ratio': 0.5,
     'KAT_precise': 70000, 'KAT_name': UID(3), 'KAT_blob': UID(4), 'KAT_child': UID(5),
     'KAT_list': UID(7), 'KAT_cond': UID(0)},
    {'$classname': 'KATestThing', '$classes': ['KATestThing', 'NSObject']},
    'Gr\u00fc\u00dfe \U0001F941',
    b'\x01\x02\x03',
    {'$class': UID(2), 'KAT_small': 2000000000, 'KAT_flag': 300, 'KAT_big': 2**62},
    {'$classname': 'NSMutableArray', '$classes': ['NSMutableArray', 'NSArray', 'NSObject']},
    {'$class': UID(6), 'NS.objects': [UID(5), UID(8), UID(10), UID(12), UID(13), UID(0), UID(14)]},
    {'$class': UID(9), 'NS.keys': [UID(3)], 'NS.objects': [UID(5)]},
    {'$classname': 'NSDictionary', '$classes': ['NSDictionary', 'NSObject']},
    {'$class': UID(11), 'NS.string': 'mutable'},
    {'$classname': 'NSMutableString', '$classes': ['NSMutableString', 'NSString', 'NSObject']},
    {'$class': UID(15), 'NS.time': 86400.25},
    {'$class': UID(16), 'NS.data': b'\xff'},
    2**64 - 1,
    {'$classname': 'NSDate', '$classes': ['NSDate', 'NSObject']},
    {'$classname': 'NSMutableData', '$classes': ['NSMutableData', 'NSData', 'NSObject']},
]
archive = {'$version': 100000, '$archiver': 'NSKeyedArchiver', '$top': {'root': UID(1)}, '$objects': objects}
with open(sys.argv[1], 'wb') as f:
    plistlib.dump(archive, f, fmt=plistlib.FMT_BINARY)
)PY";
    const auto path = dir_ / "python.archive";
    std::string output;
    ASSERT_EQ(runPython(writer, "'" + path.string() + "'", output), 0) << output;

    std::string error;
    auto root = std::dynamic_pointer_cast<KATestThing>(
        KeyedUnarchiver::unarchiveObjectWithData(test::readFileBytes(path), &error));
    ASSERT_TRUE(root) << error;
    EXPECT_TRUE(root->flag);
    EXPECT_EQ(root->small, 200);
    EXPECT_EQ(root->big, -(int64_t { 1 } << 40));
    EXPECT_EQ(root->ratio, 0.5f);
    EXPECT_EQ(root->precise, 70000.0);
    EXPECT_EQ(root->name,
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\xA5\x81");
    EXPECT_EQ(root->blob, (std::vector<uint8_t> { 1, 2, 3 }));
    EXPECT_EQ(root->conditionalChild, nullptr);
    auto child = std::dynamic_pointer_cast<KATestThing>(root->child);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->small, 2000000000);
    EXPECT_TRUE(child->flag);
    EXPECT_EQ(child->big, int64_t { 1 } << 62);
    ASSERT_EQ(root->list.size(), 7u);
    EXPECT_EQ(root->list[0], root->child);
    auto dictionary = std::dynamic_pointer_cast<ArchivedDictionary>(root->list[1]);
    ASSERT_TRUE(dictionary);
    ASSERT_EQ(dictionary->entries.size(), 1u);
    EXPECT_EQ(dictionary->entries[0].second, root->child);
    auto text = std::dynamic_pointer_cast<ArchivedString>(root->list[2]);
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->mutableString);
    EXPECT_EQ(text->value, "mutable");
    auto date = std::dynamic_pointer_cast<ArchivedDate>(root->list[3]);
    ASSERT_TRUE(date);
    EXPECT_EQ(date->secondsSinceReferenceDate, 86400.25);
    auto data = std::dynamic_pointer_cast<ArchivedData>(root->list[4]);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->bytes, std::vector<uint8_t> { 0xFF });
    EXPECT_EQ(root->list[5], nullptr);
    // A 16-byte integer: as on the platform, its low 64 bits count.
    auto huge = std::dynamic_pointer_cast<ArchivedNumber>(root->list[6]);
    ASSERT_TRUE(huge);
    EXPECT_EQ(static_cast<uint64_t>(huge->int64Value()), UINT64_MAX);
}
