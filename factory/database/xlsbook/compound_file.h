// Compound file container ([MS-CFB]) holding the "Workbook" stream.
//
//   xlsbook::CompoundFile cf;
//   if (cf.open_bytes(std::move(bytes))) { std::vector<uint8_t> wb; cf.read_stream("Workbook", wb); }
//   std::vector<uint8_t> file = xlsbook::CompoundFile::build("Workbook", stream_bytes);
//
// The reader accepts version 3 and 4 files with FAT, mini FAT and DIFAT chains of any length and
// refuses anything whose chains point outside the file or loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_block.h"

namespace xlsbook {

struct CompoundFileHeader {
    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    static constexpr uint16_t kMinorVersion = 0x003B;
    static constexpr uint16_t kMajorVersion = 0x0003;
    static constexpr uint16_t kByteOrder = 0xFFFE;
    static constexpr uint16_t kSectorShift = 9;
    static constexpr uint16_t kMiniSectorShift = 6;
    static constexpr uint32_t kMiniStreamCutoffSize = 4096;
    static constexpr size_t kHeaderDifatEntries = 109;
};

// Special sector numbers of [MS-CFB] 2.1.
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

struct DirectoryEntry {
    enum Type : uint8_t { kUnallocated = 0, kStorage = 1, kStream = 2, kRoot = 5 };
    std::u16string name;
    uint8_t type = kUnallocated;
    uint32_t start_sector = kEndOfChain;
    uint64_t size = 0;
};

class CompoundFile {
public:
    bool open_bytes(ByteBlock bytes);
    bool open_bytes(const std::vector<uint8_t>& bytes) { return open_bytes(ByteBlock(bytes)); }

    // Reads the stream entry whose name equals `name` (compared without case, as [MS-CFB] does).
    bool read_stream(const std::string& name, std::vector<uint8_t>& out) const;
    // The stream in place when its sectors follow each other in the file (as writers usually
    // lay them out); false otherwise, and read_stream has to gather it.
    bool stream_in_place(const std::string& name, const uint8_t*& data, size_t& size) const;
    // Keeps only the `size` bytes at `data` (a part of a stream in place), moved to the front of
    // the file's memory, and frees the rest: the file cannot be read any more. Returns where
    // they now are.
    const uint8_t* keep_only(const uint8_t* data, size_t size);

    // A whole compound file holding one stream, laid out as: FAT sectors, DIFAT sectors,
    // directory, mini FAT, then the stream (or the mini stream that holds it).
    static std::vector<uint8_t> build(const std::string& stream_name, const std::vector<uint8_t>& stream);
    // The same file up to where the stream's sectors start: write it, then the stream, then
    // zeros up to a whole sector.
    static std::vector<uint8_t> build_prefix(const std::string& stream_name, size_t stream_size);

private:
    const uint8_t* sector(uint32_t index) const;
    const DirectoryEntry* find_stream(const std::string& name) const;
    bool read_chain(uint32_t start, std::vector<uint32_t>& chain, const std::vector<uint32_t>& table) const;
    bool load_fat();
    bool load_directory();
    bool load_mini_fat();

    ByteBlock bytes_;
    size_t sector_size_ = 512;
    size_t mini_sector_size_ = 64;
    uint32_t mini_cutoff_ = 4096;
    uint16_t major_version_ = 3;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> mini_fat_;
    std::vector<DirectoryEntry> directory_;
    std::vector<uint32_t> mini_stream_chain_;
};

}  // namespace xlsbook
