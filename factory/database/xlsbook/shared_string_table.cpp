#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_order.h"
#include "cell_value.h"
#include "records.h"

namespace xlsbook {

namespace {

constexpr uint8_t kHighByte = 0x01;
constexpr uint8_t kExtSt = 0x04;
constexpr uint8_t kRichSt = 0x08;

}  // namespace

namespace {

// The table's bytes over its pieces: positions count through all of them, as if joined.
class Pieces {
public:
    explicit Pieces(const std::vector<SharedStringTable::Piece>& pieces) : pieces_(pieces) {
        for (const SharedStringTable::Piece& piece : pieces) {
            if (!starts_.empty()) breaks_.push_back(size_);
            starts_.push_back(size_);
            size_ += piece.size;
        }
        if (!pieces.empty()) enter(0);
    }
    size_t size() const { return size_; }
    // Where each piece after the first starts.
    const std::vector<size_t>& breaks() const { return breaks_; }
    // Position `p` (below size()); what follows it up to the next break is in the same piece.
    const uint8_t* at(size_t p) {
        if (p - start_ >= length_) {
            size_t piece = piece_;
            while (p < starts_[piece]) --piece;
            while (p >= starts_[piece] + pieces_[piece].size) ++piece;
            enter(piece);
        }
        return data_ + (p - start_);
    }
    uint8_t byte(size_t p) { return *at(p); }
    // A field may run over a break, though writers do not split one.
    uint32_t get16(size_t p) {
        if (p - start_ + 2 <= length_) return xlsbook::get16(data_ + (p - start_));
        return byte(p) | (static_cast<uint32_t>(byte(p + 1)) << 8);
    }
    uint32_t get32(size_t p) { return get16(p) | (get16(p + 2) << 16); }

private:
    void enter(size_t piece) {
        piece_ = piece;
        start_ = starts_[piece];
        length_ = pieces_[piece].size;
        data_ = pieces_[piece].data;
    }

    const std::vector<SharedStringTable::Piece>& pieces_;
    std::vector<size_t> starts_;
    std::vector<size_t> breaks_;
    size_t size_ = 0;
    size_t piece_ = 0;
    size_t start_ = 0;
    size_t length_ = 0;
    const uint8_t* data_ = nullptr;
};

// Whether UTF-16LE `bytes` has only units below 0x100: every odd byte zero, eight at a time.
bool no_high_bytes(const char* bytes, size_t length) {
    uint64_t high = 0;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        high |= word;
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    high &= 0xFF00FF00FF00FF00u;
#else
    high &= 0x00FF00FF00FF00FFu;
#endif
    for (i |= 1; i < length; i += 2) high |= static_cast<unsigned char>(bytes[i]);
    return high == 0;
}

// UTF-16LE units below 0x100 to one byte each: sixteen units per step where the processor has
// SSE2 (a saturating pack keeps the low bytes exactly when the high ones are zero).
void narrow(char* out, const char* in, size_t units) {
    size_t k = 0;
#if defined(__SSE2__)
    for (; k + 16 <= units; k += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * k));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * k + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(low, high));
    }
    // Most texts of a list are shorter: eight units, then four, before the last few one by one.
    if (k + 8 <= units) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * k));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(x, _mm_setzero_si128()));
        k += 8;
    }
#endif
#ifdef XLSBOOK_LITTLE_ENDIAN
    if (k + 4 <= units) {
        uint64_t x;
        std::memcpy(&x, in + 2 * k, 8);
        const uint32_t y = static_cast<uint32_t>((x & 0xFF) | ((x >> 8) & 0xFF00) | ((x >> 16) & 0xFF0000) |
                                                 ((x >> 24) & 0xFF000000));
        std::memcpy(out + k, &y, 4);
        k += 4;
    }
#endif
    for (; k < units; ++k) out[k] = in[2 * k];
}

}  // namespace

void SharedStringTable::clear_entries() {
    chars_.clear();
    std::vector<Entry>().swap(entries);
}

bool SharedStringTable::parse(const std::vector<Piece>& pieces) {
    Pieces d(pieces);
    const std::vector<size_t>& breaks = d.breaks();
    const size_t size = d.size();
    clear_entries();
    // Characters take at most what the table's bytes do. The room not used is never touched, so
    // it takes no memory; copying the text into a smaller buffer would.
    // Out of memory is not damage: it ends the load as it would have through new.
    if (!chars_.resize(size + kCharsSlack)) throw std::bad_alloc();
    char* stored = reinterpret_cast<char*>(chars_.data());
    size_t used = 0, capacity = size;
    // Appends an entry's characters as stored; 16-bit text with no unit above 0xFF is made compact
    // as it is copied.
    auto add = [this, &stored, &used, &capacity](const char* bytes, size_t length, bool wide) {
        if (length > capacity - used) {
            // Only a text split over records whose first part has 8-bit characters grows when
            // joined, each of them taking two bytes. Only the part in use is copied.
            capacity = std::max(2 * capacity, used + length);
            ByteBlock grown;
            if (!grown.resize(capacity + kCharsSlack)) throw std::bad_alloc();
            if (used > 0) std::memcpy(grown.data(), stored, used);
            chars_ = std::move(grown);
            stored = reinterpret_cast<char*>(chars_.data());
        }
        const size_t offset = used;
        const bool compact = wide && no_high_bytes(bytes, length);
        if (compact) {
            narrow(stored + offset, bytes, length / 2);
            used += length / 2;
        } else {
            std::memcpy(stored + offset, bytes, length);
            used += length;
        }
        entries.push_back(
            {static_cast<uint32_t>(offset), static_cast<uint32_t>(used - offset), wide, compact});
    };
    // The slack past the last entry is read with it: defined bytes, whatever they are.
    auto finish = [&stored, &used]() { std::memset(stored + used, 0, kCharsSlack); };
    if (d.size() < 8) return false;
    total = d.get32(0);
    const uint32_t count = d.get32(4);
    // Each entry takes at least 3 bytes: a count larger than that is damage, not a reason to
    // reserve gigabytes.
    entries.reserve(std::min<size_t>(count, d.size() / 3));
    size_t p = 8;
    size_t next_break = 0;  // first break at or after p
    std::u16string units;
    for (uint32_t i = 0; i < count; ++i) {
        if (p + 3 > d.size()) return false;
        size_t remaining = d.get16(p);
        uint8_t flags = d.byte(p + 2);
        p += 3;
        size_t runs = 0, ext = 0;
        if (flags & kRichSt) {
            if (p + 2 > d.size()) return false;
            runs = d.get16(p);
            p += 2;
        }
        if (flags & kExtSt) {
            if (p + 4 > d.size()) return false;
            ext = d.get32(p);
            p += 4;
        }
        while (next_break < breaks.size() && breaks[next_break] < p) ++next_break;

        bool wide = (flags & kHighByte) != 0;
        bool entry_wide = wide;
        bool split = false;
        bool added = false;
        units.clear();
        while (remaining > 0) {
            const size_t limit = next_break < breaks.size() ? breaks[next_break] : d.size();
            const size_t width = wide ? 2 : 1;
            const size_t n = std::min(remaining, (limit - p) / width);
            // Characters up to the break are in one piece.
            const uint8_t* chars = n > 0 ? d.at(p) : nullptr;
            if (!split && n == remaining) {  // the usual case: all characters in one piece
                add(reinterpret_cast<const char*>(chars), n * width, wide);
                added = true;
                p += n * width;
                break;
            }
            entry_wide = entry_wide || wide;
            for (size_t k = 0; k < n; ++k) units.push_back(wide ? get16(chars + 2 * k) : chars[k]);
            p += n * width;
            remaining -= n;
            if (remaining == 0) break;
            // [MS-XLS] SST: a CONTINUE that splits a string's characters starts with its flags
            // byte again, and the characters may change width there.
            if (p != limit || limit == d.size()) return false;
            wide = (d.byte(p) & kHighByte) != 0;
            ++p;
            ++next_break;
            split = true;
        }
        if (!added) {
            std::string bytes;
            for (char16_t u : units) {
                bytes.push_back(static_cast<char>(u & 0xFF));
                if (entry_wide) bytes.push_back(static_cast<char>(u >> 8));
            }
            add(bytes.data(), bytes.size(), entry_wide);
        }
        // Formatting runs and extended data are skipped; no flags byte is repeated in them.
        const uint64_t skip = static_cast<uint64_t>(runs) * 4 + ext;
        if (p + skip > d.size()) return false;
        p += static_cast<size_t>(skip);
    }
    finish();
    return true;
}

namespace {

// One byte per unit to UTF-16LE: sixteen units per step where the processor has SSE2, else four,
// spread with shifts and masks.
void widen(uint8_t* out, const uint8_t* in, size_t n) {
    size_t k = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; k + 16 <= n; k += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_unpacklo_epi8(x, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k + 16), _mm_unpackhi_epi8(x, zero));
    }
#endif
    for (; k + 4 <= n; k += 4) {
        uint64_t x = get32(in + k);
        x = (x | (x << 16)) & 0x0000FFFF0000FFFFu;
        x = (x | (x << 8)) & 0x00FF00FF00FF00FFu;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(out + 2 * k, &x, 8);
#else
        for (int b = 0; b < 8; ++b) out[2 * k + b] = static_cast<uint8_t>(x >> (8 * b));
#endif
    }
    for (; k < n; ++k) {
        out[2 * k] = in[k];
        out[2 * k + 1] = 0;
    }
}

// A text held in its cell, widened sixteen bytes at once: 32 bytes are written whatever its
// length, into the room the record keeps beyond its end.
constexpr size_t kWidenSlack = 2 * CellValue::kCellTextBytes;

void widen_cell_text(uint8_t* out, const uint8_t* in) {
#if defined(__SSE2__)
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(x, _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(x, _mm_setzero_si128()));
#else
    widen(out, in, CellValue::kCellTextBytes);
#endif
}

}  // namespace

size_t SharedStringTable::write(ByteBuffer* out, uint32_t total,
                                const std::pmr::vector<const CellValue*>& entries, size_t chunk,
                                const std::function<bool()>& hand_on) {
    size_t size = 0;  // bytes of the table so far
    size_t used = 0;  // data bytes in the record being filled
    bool handed = true;
    // Records are filled in place in `out`: room for a whole record is made when it starts and
    // the rest given back when it ends, so that an entry costs no growing of the buffer.
    size_t header = 0;
    // `n` bytes more in the current record; null when only counting.
    auto append = [&](size_t n) -> uint8_t* {
        uint8_t* p = out ? out->data() + header + 4 + used : nullptr;
        size += n;
        used += n;
        return p;
    };
    auto start_record = [&](uint16_t code) {
        size += 4;
        used = 0;
        if (!out) return;
        header = out->size();
        out->resize(header + 4 + kMaxRecordData + kWidenSlack);
        set16(out->data() + header, code);
    };
    auto finish_record = [&]() {
        if (!out) return;
        set16(out->data() + header + 2, static_cast<uint32_t>(used));
        out->resize(header + 4 + used);
        if (hand_on && out->size() >= chunk) handed = handed && hand_on();
    };
    auto room = [&]() { return kMaxRecordData - used; };
    auto put_flags = [&](bool wide) {
        if (uint8_t* p = append(1)) *p = wide ? kHighByte : 0;
    };

    start_record(code::kSharedStringTable);
    if (uint8_t* p = append(8)) {
        set32(p, total);
        set32(p + 4, static_cast<uint32_t>(entries.size()));
    }
    for (const CellValue* cell : entries) {
        const std::string_view text = cell->raw_text();
        const bool wide = cell->kind() == CellValue::kWideString, compact = cell->compact();
        const size_t width = wide ? 2 : 1;
        const size_t count = compact ? text.size() : text.size() / width;
        const uint8_t* chars = reinterpret_cast<const uint8_t*>(text.data());
        // Compact text has no unit above 0xFF, so only full UTF-16 text can hold a pair.
        auto high_surrogate_at = [&](size_t unit) {
            return wide && !compact && unit + 1 < count && (chars[2 * unit + 1] & 0xFC) == 0xD8;
        };
        // Characters [from, from + n) at `p`; compact text is widened with zero high bytes.
        auto put_chars = [&](uint8_t* p, size_t from, size_t n) {
            if (!p) return;
            if (compact)
                widen(p, chars + from, n);
            else
                std::memcpy(p, chars + from * width, n * width);
        };
        if (room() >= 3 + count * width) {  // the usual case: the whole entry fits, written at once
            if (uint8_t* p = append(3 + count * width)) {
                set16(p, static_cast<uint32_t>(count));
                p[2] = wide ? kHighByte : 0;
                if (compact && cell->text_in_cell())
                    widen_cell_text(p + 3, chars);
                else
                    put_chars(p + 3, 0, count);
            }
            continue;
        }
        // The entry's header and its first character (both units of a pair) stay together.
        const size_t first = count ? width * (high_surrogate_at(0) ? 2 : 1) : 0;
        if (room() < 3 + first) {
            finish_record();
            start_record(code::kContinue);
        }
        if (uint8_t* p = append(2)) set16(p, static_cast<uint32_t>(count));
        put_flags(wide);
        size_t done = 0;
        while (done < count) {
            size_t fit = std::min(room() / width, count - done);
            // A pair split over two records is refused by other readers: the pair moves on whole.
            if (fit > 0 && done + fit < count && high_surrogate_at(done + fit - 1)) --fit;
            if (fit == 0) {
                finish_record();
                start_record(code::kContinue);
                put_flags(wide);
                continue;
            }
            put_chars(append(fit * width), done, fit);
            done += fit;
        }
    }
    finish_record();
    return handed ? size : 0;
}

}  // namespace xlsbook
