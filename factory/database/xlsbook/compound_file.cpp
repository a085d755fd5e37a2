#include "compound_file.h"

#include <algorithm>

#include "byte_order.h"

namespace xlsbook {

constexpr uint8_t CompoundFileHeader::kSignature[8];

namespace {

constexpr size_t kHeaderSize = 512;
constexpr size_t kDirectoryEntrySize = 128;

bool same_name(const std::u16string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<char16_t>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

size_t ceil_div(size_t a, size_t b) { return (a + b - 1) / b; }

}  // namespace

bool CompoundFile::open_bytes(ByteBlock bytes) {
    bytes_ = std::move(bytes);
    fat_.clear();
    mini_fat_.clear();
    directory_.clear();
    mini_stream_chain_.clear();
    if (bytes_.size() < kHeaderSize) return false;
    const uint8_t* h = bytes_.data();
    if (!std::equal(h, h + 8, CompoundFileHeader::kSignature)) return false;
    if (get16(h + 28) != CompoundFileHeader::kByteOrder) return false;
    major_version_ = get16(h + 26);
    const uint16_t sector_shift = get16(h + 30);
    if (!((major_version_ == 3 && sector_shift == 9) || (major_version_ == 4 && sector_shift == 12)))
        return false;
    if (get16(h + 32) != CompoundFileHeader::kMiniSectorShift) return false;
    sector_size_ = size_t{1} << sector_shift;
    mini_sector_size_ = 64;
    // [MS-CFB] 2.2: the mini stream cutoff MUST be 4096; a different value is damage, not a choice.
    mini_cutoff_ = CompoundFileHeader::kMiniStreamCutoffSize;
    return load_fat() && load_directory();
}

const uint8_t* CompoundFile::keep_only(const uint8_t* data, size_t size) {
    fat_.clear();
    mini_fat_.clear();
    directory_.clear();
    mini_stream_chain_.clear();
    bytes_.keep(static_cast<size_t>(data - bytes_.data()), size);
    return bytes_.data();
}

const uint8_t* CompoundFile::sector(uint32_t index) const {
    if (index > kMaxRegSect) return nullptr;
    const uint64_t offset = (static_cast<uint64_t>(index) + 1) * sector_size_;
    if (offset + sector_size_ > bytes_.size()) return nullptr;
    return bytes_.data() + offset;
}

bool CompoundFile::load_fat() {
    const uint8_t* h = bytes_.data();
    const uint32_t fat_sectors = get32(h + 44);
    const size_t file_sectors = (bytes_.size() - 1) / sector_size_;  // minus the header sector
    if (fat_sectors > file_sectors) return false;

    std::vector<uint32_t> fat_sector_numbers;
    for (size_t i = 0; i < CompoundFileHeader::kHeaderDifatEntries; ++i) {
        if (fat_sector_numbers.size() >= fat_sectors) break;
        const uint32_t s = get32(h + 76 + 4 * i);
        if (s > kMaxRegSect) break;
        fat_sector_numbers.push_back(s);
    }
    uint32_t difat = get32(h + 68);
    const uint32_t difat_count = get32(h + 72);
    const size_t per_difat = sector_size_ / 4 - 1;
    // A DIFAT chain cannot have more sectors than the file: a larger count is damage, or a loop.
    const size_t difat_sectors = std::min<size_t>(difat_count, file_sectors);
    for (size_t n = 0; n < difat_sectors && fat_sector_numbers.size() < fat_sectors; ++n) {
        const uint8_t* d = sector(difat);
        if (!d) return false;
        for (size_t i = 0; i < per_difat && fat_sector_numbers.size() < fat_sectors; ++i) {
            const uint32_t s = get32(d + 4 * i);
            if (s > kMaxRegSect) continue;
            fat_sector_numbers.push_back(s);
        }
        difat = get32(d + 4 * per_difat);
    }
    if (fat_sector_numbers.size() < fat_sectors) return false;

    const size_t per_sector = sector_size_ / 4;
    fat_.reserve(fat_sector_numbers.size() * per_sector);
    for (uint32_t s : fat_sector_numbers) {
        const uint8_t* f = sector(s);
        if (!f) return false;
        for (size_t i = 0; i < per_sector; ++i) fat_.push_back(get32(f + 4 * i));
    }
    return true;
}

bool CompoundFile::read_chain(uint32_t start, std::vector<uint32_t>& chain,
                              const std::vector<uint32_t>& table) const {
    chain.clear();
    uint32_t current = start;
    while (current != kEndOfChain) {
        // A chain longer than its table has a loop in it.
        if (current >= table.size() || chain.size() >= table.size()) return false;
        chain.push_back(current);
        current = table[current];
    }
    return true;
}

bool CompoundFile::load_directory() {
    std::vector<uint32_t> chain;
    if (!read_chain(get32(bytes_.data() + 48), chain, fat_) || chain.empty()) return false;
    const size_t per_sector = sector_size_ / kDirectoryEntrySize;
    for (uint32_t s : chain) {
        const uint8_t* d = sector(s);
        if (!d) return false;
        for (size_t i = 0; i < per_sector; ++i) {
            const uint8_t* e = d + i * kDirectoryEntrySize;
            DirectoryEntry entry;
            const size_t name_bytes = std::min<size_t>(get16(e + 64), 64);
            for (size_t c = 0; c + 1 < name_bytes; c += 2) {
                const char16_t ch = get16(e + c);
                if (ch == 0) break;
                entry.name.push_back(ch);
            }
            entry.type = e[66];
            entry.start_sector = get32(e + 116);
            entry.size = get64(e + 120);
            // [MS-CFB] 2.6.3: version 3 readers ignore the high 32 bits of the size.
            if (major_version_ == 3) entry.size &= 0xFFFFFFFFu;
            directory_.push_back(std::move(entry));
        }
    }
    return directory_[0].type == DirectoryEntry::kRoot;
}

bool CompoundFile::load_mini_fat() {
    if (!mini_fat_.empty() || !mini_stream_chain_.empty()) return true;
    std::vector<uint32_t> chain;
    if (!read_chain(get32(bytes_.data() + 60), chain, fat_)) return false;
    const size_t per_sector = sector_size_ / 4;
    for (uint32_t s : chain) {
        const uint8_t* f = sector(s);
        if (!f) return false;
        for (size_t i = 0; i < per_sector; ++i) mini_fat_.push_back(get32(f + 4 * i));
    }
    return read_chain(directory_[0].start_sector, mini_stream_chain_, fat_);
}

const DirectoryEntry* CompoundFile::find_stream(const std::string& name) const {
    for (const DirectoryEntry& e : directory_)
        if (e.type == DirectoryEntry::kStream && same_name(e.name, name)) return &e;
    return nullptr;
}

bool CompoundFile::stream_in_place(const std::string& name, const uint8_t*& data, size_t& size) const {
    const DirectoryEntry* entry = find_stream(name);
    if (!entry || entry->size < mini_cutoff_ || entry->size > bytes_.size()) return false;
    std::vector<uint32_t> chain;
    if (!read_chain(entry->start_sector, chain, fat_) || chain.size() < ceil_div(entry->size, sector_size_))
        return false;
    for (size_t i = 1; i < chain.size(); ++i)
        if (chain[i] != chain[i - 1] + 1) return false;
    const uint64_t offset = (static_cast<uint64_t>(chain[0]) + 1) * sector_size_;
    if (offset + entry->size > bytes_.size()) return false;
    data = bytes_.data() + offset;
    size = static_cast<size_t>(entry->size);
    return true;
}

bool CompoundFile::read_stream(const std::string& name, std::vector<uint8_t>& out) const {
    out.clear();
    const DirectoryEntry* entry = find_stream(name);
    if (!entry) return false;
    const uint64_t size = entry->size;
    if (size == 0) return true;
    if (size > bytes_.size()) return false;  // cannot be held by this file
    std::vector<uint32_t> chain;

    if (size < mini_cutoff_) {
        if (!const_cast<CompoundFile*>(this)->load_mini_fat()) return false;
        if (!read_chain(entry->start_sector, chain, mini_fat_)) return false;
        if (chain.size() < ceil_div(size, mini_sector_size_)) return false;
        out.reserve(size);
        for (uint32_t m : chain) {
            const uint64_t offset = static_cast<uint64_t>(m) * mini_sector_size_;
            const size_t which = offset / sector_size_;
            if (which >= mini_stream_chain_.size()) return false;
            const uint8_t* s = sector(mini_stream_chain_[which]);
            if (!s) return false;
            const size_t take = std::min<size_t>(mini_sector_size_, size - out.size());
            const uint8_t* from = s + offset % sector_size_;
            out.insert(out.end(), from, from + take);
            if (out.size() == size) break;
        }
        return true;
    }

    if (!read_chain(entry->start_sector, chain, fat_)) return false;
    if (chain.size() < ceil_div(size, sector_size_)) return false;
    out.reserve(size);
    for (uint32_t s : chain) {
        const size_t take = std::min<size_t>(sector_size_, size - out.size());
        const uint64_t offset = (static_cast<uint64_t>(s) + 1) * sector_size_;
        // The last sector may be cut short by a writer that does not pad; only what the stream
        // needs has to be there.
        if (offset + take > bytes_.size()) return false;
        out.insert(out.end(), bytes_.data() + offset, bytes_.data() + offset + take);
        if (out.size() == size) break;
    }
    return true;
}

namespace {

void put_directory_entry(uint8_t* e, const std::u16string& name, uint8_t type, uint32_t child, uint32_t start,
                         uint64_t size) {
    for (size_t i = 0; i < name.size() && i < 31; ++i) set16(e + 2 * i, name[i]);
    set16(e + 64, name.empty() ? 0 : static_cast<uint32_t>((name.size() + 1) * 2));
    e[66] = type;
    e[67] = type == DirectoryEntry::kUnallocated ? 0 : 1;  // black
    set32(e + 68, kNoStream);
    set32(e + 72, kNoStream);
    set32(e + 76, child);
    set32(e + 116, start);
    set32(e + 120, static_cast<uint32_t>(size));
    set32(e + 124, static_cast<uint32_t>(size >> 32));
}

}  // namespace

std::vector<uint8_t> CompoundFile::build(const std::string& stream_name, const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> out = build_prefix(stream_name, stream.size());
    out.insert(out.end(), stream.begin(), stream.end());
    out.resize(ceil_div(out.size(), 512) * 512, 0);
    return out;
}

std::vector<uint8_t> CompoundFile::build_prefix(const std::string& stream_name, size_t size) {
    constexpr size_t kSector = 512;
    constexpr size_t kMini = 64;
    constexpr size_t kPerFat = kSector / 4;
    constexpr size_t kPerDifat = kPerFat - 1;
    const bool in_mini = size > 0 && size < CompoundFileHeader::kMiniStreamCutoffSize;
    const size_t mini_sectors = in_mini ? ceil_div(size, kMini) : 0;
    const size_t mini_fat_sectors = ceil_div(mini_sectors, kPerFat);
    const size_t data_sectors = in_mini ? ceil_div(mini_sectors * kMini, kSector) : ceil_div(size, kSector);
    const size_t fixed = 1 + mini_fat_sectors + data_sectors;  // the directory is one sector

    size_t fat_sectors = 1, difat_sectors = 0;
    for (;;) {
        difat_sectors = fat_sectors > CompoundFileHeader::kHeaderDifatEntries
                            ? ceil_div(fat_sectors - CompoundFileHeader::kHeaderDifatEntries, kPerDifat)
                            : 0;
        if (fat_sectors * kPerFat >= fixed + fat_sectors + difat_sectors) break;
        ++fat_sectors;
    }
    const uint32_t first_difat = static_cast<uint32_t>(fat_sectors);
    const uint32_t directory = first_difat + static_cast<uint32_t>(difat_sectors);
    const uint32_t first_mini_fat = directory + 1;
    const uint32_t first_data = first_mini_fat + static_cast<uint32_t>(mini_fat_sectors);

    // Only the sectors before the stream: the stream itself is written from its own buffer.
    std::vector<uint8_t> out((1 + first_data) * kSector, 0);
    auto at = [&](size_t s) { return out.data() + (s + 1) * kSector; };

    uint8_t* h = out.data();
    std::copy(CompoundFileHeader::kSignature, CompoundFileHeader::kSignature + 8, h);
    set16(h + 24, CompoundFileHeader::kMinorVersion);
    set16(h + 26, CompoundFileHeader::kMajorVersion);
    set16(h + 28, CompoundFileHeader::kByteOrder);
    set16(h + 30, CompoundFileHeader::kSectorShift);
    set16(h + 32, CompoundFileHeader::kMiniSectorShift);
    set32(h + 44, static_cast<uint32_t>(fat_sectors));
    set32(h + 48, directory);
    set32(h + 56, CompoundFileHeader::kMiniStreamCutoffSize);
    set32(h + 60, mini_fat_sectors ? first_mini_fat : kEndOfChain);
    set32(h + 64, static_cast<uint32_t>(mini_fat_sectors));
    set32(h + 68, difat_sectors ? first_difat : kEndOfChain);
    set32(h + 72, static_cast<uint32_t>(difat_sectors));
    for (size_t i = 0; i < CompoundFileHeader::kHeaderDifatEntries; ++i)
        set32(h + 76 + 4 * i, i < fat_sectors ? static_cast<uint32_t>(i) : kFreeSect);

    for (size_t d = 0; d < difat_sectors; ++d) {
        uint8_t* p = at(first_difat + d);
        for (size_t i = 0; i < kPerDifat; ++i) {
            const size_t fat = CompoundFileHeader::kHeaderDifatEntries + d * kPerDifat + i;
            set32(p + 4 * i, fat < fat_sectors ? static_cast<uint32_t>(fat) : kFreeSect);
        }
        set32(p + 4 * kPerDifat,
              d + 1 < difat_sectors ? first_difat + static_cast<uint32_t>(d) + 1 : kEndOfChain);
    }

    std::vector<uint32_t> fat(fat_sectors * kPerFat, kFreeSect);
    for (size_t s = 0; s < fat_sectors; ++s) fat[s] = kFatSect;
    for (size_t s = 0; s < difat_sectors; ++s) fat[first_difat + s] = kDifSect;
    fat[directory] = kEndOfChain;
    auto link = [&](uint32_t first, size_t count) {
        for (size_t i = 0; i < count; ++i)
            fat[first + i] = i + 1 < count ? first + static_cast<uint32_t>(i) + 1 : kEndOfChain;
    };
    link(first_mini_fat, mini_fat_sectors);
    link(first_data, data_sectors);
    for (size_t i = 0; i < fat.size(); ++i) set32(at(i / kPerFat) + 4 * (i % kPerFat), fat[i]);

    for (size_t i = 0; i < mini_fat_sectors * kPerFat; ++i) {
        const uint32_t v = i < mini_sectors
                               ? (i + 1 < mini_sectors ? static_cast<uint32_t>(i) + 1 : kEndOfChain)
                               : kFreeSect;
        set32(at(first_mini_fat + i / kPerFat) + 4 * (i % kPerFat), v);
    }

    uint8_t* dir = at(directory);
    const uint32_t data_start = data_sectors ? first_data : kEndOfChain;
    put_directory_entry(dir, u"Root Entry", DirectoryEntry::kRoot, 1, in_mini ? data_start : kEndOfChain,
                        in_mini ? mini_sectors * kMini : 0);
    const std::u16string name(stream_name.begin(), stream_name.end());
    put_directory_entry(dir + kDirectoryEntrySize, name, DirectoryEntry::kStream, kNoStream,
                        in_mini ? 0 : data_start, size);
    for (size_t i = 2; i < kSector / kDirectoryEntrySize; ++i)
        put_directory_entry(dir + i * kDirectoryEntrySize, u"", DirectoryEntry::kUnallocated, kNoStream, 0,
                            0);
    if (size == 0) set32(dir + kDirectoryEntrySize + 116, kEndOfChain);
    return out;
}

}  // namespace xlsbook
