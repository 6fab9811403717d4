// The texts of a report record, in N bytes each: a text of up to N - 1
// bytes is kept in place and a longer one on the heap. The texts of a call
// are short, so a million calls cost no allocation: the numbers of a line
// and a trunk fit in 8 bytes, a dialled number in 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

template <size_t N>
class TRepTextOf {
    static_assert(N >= 8 && N <= 128, "room for an address and the tag");

  public:
    TRepTextOf() noexcept { buf_[kTag] = kInline; }
    explicit TRepTextOf(std::string_view s) : TRepTextOf() { assign(s); }
    TRepTextOf(const TRepTextOf& o) : TRepTextOf() { assign(o.view()); }
    TRepTextOf(TRepTextOf&& o) noexcept {
        std::memcpy(buf_, o.buf_, sizeof buf_);
        o.buf_[0] = 0;
        o.buf_[kTag] = kInline;
    }
    TRepTextOf& operator=(const TRepTextOf& o) {
        if (this != &o) assign(o.view());
        return *this;
    }
    TRepTextOf& operator=(TRepTextOf&& o) noexcept {
        if (this != &o) {
            Free();
            std::memcpy(buf_, o.buf_, sizeof buf_);
            o.buf_[0] = 0;
            o.buf_[kTag] = kInline;
        }
        return *this;
    }
    TRepTextOf& operator=(std::string_view s) {
        assign(s);
        return *this;
    }
    ~TRepTextOf() { Free(); }

    // Replaces the text; throws std::bad_alloc when a long one finds no
    // room, std::length_error beyond 4 GB.
    void assign(std::string_view s) {
        if (s.size() <= kMaxInline) {
            char* old = OnHeap() ? HeapBlock() : nullptr;
            // s may lie in the old heap block: copy before freeing it.
            std::memmove(buf_, s.data(), s.size());
            buf_[s.size()] = 0;
            buf_[kTag] = static_cast<char>(kMaxInline - s.size());
            if (old) Release(old);
            return;
        }
        if (s.size() > UINT32_MAX) throw std::length_error("report text too long");
        const uint32_t size = static_cast<uint32_t>(s.size());
        char* block = static_cast<char*>(
            ::operator new[](sizeof size + s.size() + 1, std::align_val_t{kBlockAlign}));
        const uintptr_t address = reinterpret_cast<uintptr_t>(block) / kBlockAlign;
        if (address >> (8 * kAddressBytes) != 0) {  // no user-space address is that high
            ::operator delete[](block, std::align_val_t{kBlockAlign});
            throw std::bad_alloc();
        }
        std::memcpy(block, &size, sizeof size);
        std::memcpy(block + sizeof size, s.data(), s.size());
        block[sizeof size + s.size()] = 0;
        Free();
        for (size_t i = 0; i < kAddressBytes; ++i)
            buf_[i] = static_cast<char>(static_cast<unsigned char>(address >> (8 * i)));
        buf_[kTag] = kHeap;
    }

    size_t size() const {
        if (!OnHeap()) return kMaxInline - static_cast<unsigned char>(buf_[kTag]);
        uint32_t size = 0;
        std::memcpy(&size, HeapBlock(), sizeof size);
        return size;
    }
    bool empty() const { return OnHeap() ? false : buf_[kTag] == kInline; }
    const char* data() const { return OnHeap() ? HeapBlock() + sizeof(uint32_t) : buf_; }
    std::string_view view() const { return {data(), size()}; }
    operator std::string_view() const { return view(); }
    std::string str() const { return std::string(view()); }

    friend bool operator==(const TRepTextOf& a, const TRepTextOf& b) {
        return a.view() == b.view();
    }
    friend bool operator!=(const TRepTextOf& a, const TRepTextOf& b) { return !(a == b); }
    friend bool operator==(const TRepTextOf& a, std::string_view b) { return a.view() == b; }
    friend bool operator!=(const TRepTextOf& a, std::string_view b) { return a.view() != b; }
    friend bool operator==(std::string_view a, const TRepTextOf& b) { return a == b.view(); }
    friend bool operator!=(std::string_view a, const TRepTextOf& b) { return a != b.view(); }
    friend std::ostream& operator<<(std::ostream& os, const TRepTextOf& t) {
        return os << t.view();
    }

  private:
    static constexpr size_t kTag = N - 1;
    static constexpr size_t kMaxInline = N - 1;
    static constexpr char kInline = static_cast<char>(kMaxInline);  // tag of the empty text
    static constexpr char kHeap = static_cast<char>(0x80);
    // A heap block is aligned to 16 bytes, so its address divided by 16
    // fits the 7 bytes before the tag (any address below 2^60).
    static constexpr size_t kBlockAlign = 16;
    static constexpr size_t kAddressBytes = 7;

    bool OnHeap() const { return buf_[kTag] == kHeap; }
    char* HeapBlock() const {
        uintptr_t address = 0;
        for (size_t i = 0; i < kAddressBytes; ++i)
            address |= uintptr_t{static_cast<unsigned char>(buf_[i])} << (8 * i);
        return reinterpret_cast<char*>(address * kBlockAlign);
    }
    static void Release(char* block) { ::operator delete[](block, std::align_val_t{kBlockAlign}); }
    void Free() {
        if (OnHeap()) Release(HeapBlock());
        buf_[0] = 0;
        buf_[kTag] = kInline;
    }

    // In place: the bytes, then a 0; the last byte is N - 1 - size (0 when
    // the text fills the place, doubling as its terminator). On the heap:
    // the block's address over 16 in 7 bytes, lowest first, and the tag
    // kHeap last; the block holds the size in 4 bytes, the bytes and a 0.
    char buf_[N];
};

using TRepText = TRepTextOf<16>;      // room for 15 bytes in place
using TRepShortText = TRepTextOf<8>;  // room for 7 bytes in place
static_assert(sizeof(TRepText) == 16, "a report text takes 16 bytes");
static_assert(sizeof(TRepShortText) == 8, "a short report text takes 8 bytes");
