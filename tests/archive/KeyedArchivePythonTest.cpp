// Cross-checks with Python's plistlib, a property-list implementation nobody here wrote.
#include "BinaryPlistTestSupport.h"
#include "KeyedArchiveTestClasses.h"

#include <gtest/gtest.h>

using namespace rp;

namespace {

class KeyedArchivePythonTest : public keyed::test::PythonTest {
protected:
    void SetUp() override
    {
        PythonTest::SetUp();
        KATestThing::registerClass();
    }
    void TearDown() override { KATestThing::unregisterClass(); }
};

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
    test::writeFileBytes(dir_ / "out.archive", KeyedArchiver::archivedDataWithRootObject(root));

    // Checks that the file is a well-formed keyed archive, then prints facts about the root.
    std::string output;
    ASSERT_EQ(runPython(R"PY(
import plistlib, sys
from plistlib import UID
with open(sys.argv[1] + '/out.archive', 'rb') as f:
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
print('small', root['KAT_small'], 'big', root['KAT_big'], 'ratio', round(root['KAT_ratio'], 6))
print('flag', root['KAT_flag'], 'blob', resolve(root['KAT_blob']).hex())
print('shared', root['KAT_child'] == resolve(root['KAT_list'])['NS.objects'][0])
print('conditional', root['KAT_cond'].data)
print('list class', resolve(resolve(root['KAT_list'])['$class'])['$classes'])
)PY",
                  output),
        0)
        << output;
    EXPECT_EQ(output,
        "class KATestThing\n"
        "name Caf\xC3\xA9 \xF0\x9F\xA5\x81\n"
        "small -5 big 1099511627776 ratio 0.1\n"
        "flag True blob dead00be\n"
        "shared True\n"
        "conditional 0\n"
        "list class ['NSMutableArray', 'NSArray', 'NSObject']\n");
}

TEST_F(KeyedArchivePythonTest, ArchivesWrittenByPlistlibDecodeHere)
{
    // Integers of every stored width (1, 2, 4, 8 bytes, negative ones as 8), a UTF-16 string,
    // data, Foundation collections in their keyed forms and one object referred to twice.
    std::string output;
    ASSERT_EQ(runPython(R"PY(
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
with open(sys.argv[1] + '/python.archive', 'wb') as f:
    plistlib.dump(archive, f, fmt=plistlib.FMT_BINARY)
)PY",
                  output),
        0)
        << output;

    std::string error;
    auto root = std::dynamic_pointer_cast<KATestThing>(
        KeyedUnarchiver::unarchiveObjectWithData(test::readFileBytes(dir_ / "python.archive"), &error));
    ASSERT_TRUE(root) << error;
    EXPECT_EQ(std::tuple(root->flag, root->small, root->big, root->ratio, root->precise),
        std::tuple(true, 200, -(int64_t { 1 } << 40), 0.5f, 70000.0));
    EXPECT_EQ(root->name,
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\xA5\x81");
    EXPECT_EQ(root->blob, (std::vector<uint8_t> { 1, 2, 3 }));
    EXPECT_EQ(root->conditionalChild, nullptr);
    auto child = as<KATestThing>(root->child);
    EXPECT_EQ(
        std::tuple(child->small, child->flag, child->big), std::tuple(2000000000, true, int64_t { 1 } << 62));
    EXPECT_EQ(describe(std::make_shared<ArchivedArray>(root->list)),
        "NSArray(KATestThing(),NSDictionary(NSString(Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\xA5\x81)=KATestThing(),),"
        "NSMutableString(mutable),NSDate(86400.250000),NSMutableData(255 ),nil,NSNumber(1:-1),)");
    EXPECT_EQ(root->list[0], root->child);
    EXPECT_EQ(as<ArchivedDictionary>(root->list[1])->entries.at(0).second, root->child);
    // A 16-byte integer: as on the platform, its low 64 bits count.
    EXPECT_EQ(static_cast<uint64_t>(as<ArchivedNumber>(root->list.at(6))->int64Value()), UINT64_MAX);
}
