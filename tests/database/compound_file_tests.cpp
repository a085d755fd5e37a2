// Compound file layout at the container's edges, read back by our reader.
#include <gtest/gtest.h>

#include "test_support.h"
#include "xlsbook/byte_block.h"
#include "xlsbook/byte_order.h"
#include "xlsbook/compound_file.h"

using xlsbook::CompoundFile;

namespace {

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return out;
}

}  // namespace

TEST(CompoundFile, StreamsAtSectorAndCutoffBoundariesReadBack) {
    // Mini sectors (63/64/65), regular sectors (511..513), the mini stream cutoff (4095/4096),
    // and sizes that need more than one FAT sector and DIFAT sectors beyond the header's 109.
    for (size_t size :
         {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 65536, 66000 * 8, 7200000, 7400000}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> stream = pattern(size);
        const std::vector<uint8_t> file = CompoundFile::build("Workbook", stream);
        ASSERT_EQ(file.size() % 512, 0u);
        CompoundFile reader;
        ASSERT_TRUE(reader.open_bytes(file));
        std::vector<uint8_t> back;
        ASSERT_TRUE(reader.read_stream("Workbook", back));
        EXPECT_TRUE(back == stream);
        EXPECT_TRUE(reader.read_stream("WORKBOOK", back)) << "names compare without case";
        EXPECT_FALSE(reader.read_stream("Book", back));
    }
}

TEST(CompoundFile, NewFileHeaderHasTheDocumentedValues) {
    const std::vector<uint8_t> file = CompoundFile::build("Workbook", pattern(100));
    const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    EXPECT_TRUE(std::equal(signature, signature + 8, file.begin()));
    const uint8_t* h = file.data();
    EXPECT_EQ(xlsbook::get16(h + 24), 0x003B);       // minor version
    EXPECT_EQ(xlsbook::get16(h + 26), 0x0003);       // major version
    EXPECT_EQ(xlsbook::get16(h + 28), 0xFFFE);       // byte order
    EXPECT_EQ(xlsbook::get16(h + 30), 9);            // 512-byte sectors
    EXPECT_EQ(xlsbook::get16(h + 32), 6);            // 64-byte mini sectors
    EXPECT_EQ(xlsbook::get32(h + 40), 0u);           // directory sectors (version 3)
    EXPECT_EQ(xlsbook::get32(h + 44), 1u);           // one FAT sector
    EXPECT_EQ(xlsbook::get32(h + 48), 1u);           // directory in sector 1
    EXPECT_EQ(xlsbook::get32(h + 56), 4096u);        // mini stream cutoff
    EXPECT_EQ(xlsbook::get32(h + 68), 0xFFFFFFFEu);  // no DIFAT sector
    EXPECT_EQ(xlsbook::get32(h + 76), 0u);           // FAT in sector 0
    EXPECT_EQ(xlsbook::get32(h + 80), 0xFFFFFFFFu);
    const uint8_t* fat = h + 512;
    EXPECT_EQ(xlsbook::get32(fat), 0xFFFFFFFDu);      // the FAT sector itself
    EXPECT_EQ(xlsbook::get32(fat + 4), 0xFFFFFFFEu);  // directory: one sector
    const uint8_t* root = h + 1024;
    EXPECT_EQ(xlsbook::get16(root), 'R');
    EXPECT_EQ(xlsbook::get16(root + 64), 22);  // "Root Entry" + terminator, in bytes
    EXPECT_EQ(root[66], 5);                    // root storage
}

TEST(CompoundFile, DamagedContainersAreRefused) {
    const std::vector<uint8_t> good = CompoundFile::build("Workbook", pattern(9000));
    CompoundFile reader;
    ASSERT_TRUE(reader.open_bytes(good));

    std::vector<uint8_t> bad = good;
    bad[0] = 0;  // signature
    EXPECT_FALSE(reader.open_bytes(bad));

    bad = good;  // FAT chain of the stream loops back on itself
    const uint32_t start = xlsbook::get32(good.data() + 1024 + 128 + 116);
    xlsbook::set32(bad.data() + 512 + 4 * (start + 2), start);
    ASSERT_TRUE(reader.open_bytes(bad));
    std::vector<uint8_t> out;
    EXPECT_FALSE(reader.read_stream("Workbook", out));

    bad = good;  // stream size larger than the file
    xlsbook::set32(bad.data() + 1024 + 128 + 120, 0x7FFFFFFF);
    ASSERT_TRUE(reader.open_bytes(bad));
    EXPECT_FALSE(reader.read_stream("Workbook", out));

    bad = good;  // FAT sector count beyond the file
    xlsbook::set32(bad.data() + 44, 5000);
    EXPECT_FALSE(reader.open_bytes(bad));

    bad.assign(good.begin(), good.begin() + 700);  // cut inside the directory
    EXPECT_FALSE(reader.open_bytes(bad));
}

// A file read into memory is cut down to its stream in place; a file that grew while it was read
// makes the block grow again. Either way the bytes kept are the file's.
TEST(CompoundFile, ByteBlockKeepsItsBytesWhenCutAndGrown) {
    const size_t large = (size_t{5} << 20) + 123;  // over a few large pages
    for (size_t size : {size_t{1000}, large}) {
        const std::vector<uint8_t> bytes = pattern(size);
        xlsbook::ByteBlock block(bytes);
        const size_t from = size / 3 + 1, kept = size / 2;
        block.keep(from, kept);
        ASSERT_EQ(block.size(), kept);
        EXPECT_TRUE(std::equal(block.data(), block.data() + kept, bytes.begin() + from)) << size;
        ASSERT_TRUE(block.resize(2 * kept + 1));
        std::fill(block.data() + kept, block.data() + block.size(), uint8_t{0xAB});
        EXPECT_TRUE(std::equal(block.data(), block.data() + kept, bytes.begin() + from)) << size;
        block.keep(kept, kept + 1);
        EXPECT_EQ(block.data()[kept], 0xAB) << size;
    }
}
