// The texts of a report record. A text of up to 15 bytes is kept in place
// and a longer one on the heap, in 16 bytes either way: the four texts of a
// call are short, so a million calls cost no allocation and 64 MB less
// than they would as std::string.
#pragma once

#include <cstdint>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

class TRepText {
  public:
    TRepText() noexcept { buf_[kTag] = kInline; }
    explicit TRepText(std::string_view s) : TRepText() { assign(s); }
    TRepText(const TRepText& o) : TRepText() { assign(o.view()); }
    TRepText(TRepText&& o) noexcept {
        std::memcpy(buf_, o.buf_, sizeof buf_);
        o.buf_[0] = 0;
        o.buf_[kTag] = kInline;
    }
    TRepText& operator=(const TRepText& o) {
        if (this != &o) assign(o.view());
        return *this;
    }
    TRepText& operator=(TRepText&& o) noexcept {
        if (this != &o) {
            Free();
            std::memcpy(buf_, o.buf_, sizeof buf_);
            o.buf_[0] = 0;
            o.buf_[kTag] = kInline;
        }
        return *this;
    }
    TRepText& operator=(std::string_view s) {
        assign(s);
        return *this;
    }
    ~TRepText() { Free(); }

    // Replaces the text; throws std::bad_alloc when a long one finds no
    // room, std::length_error beyond 4 GB.
    void assign(std::string_view s) {
        if (s.size() <= kMaxInline) {
            char* old = OnHeap() ? HeapData() : nullptr;
            // s may lie in the old heap block: copy before freeing it.
            std::memmove(buf_, s.data(), s.size());
            buf_[s.size()] = 0;
            buf_[kTag] = static_cast<char>(kMaxInline - s.size());
            delete[] old;
            return;
        }
        if (s.size() > UINT32_MAX) throw std::length_error("report text too long");
        char* block = new char[s.size() + 1];
        std::memcpy(block, s.data(), s.size());
        block[s.size()] = 0;
        Free();
        const uint32_t size = static_cast<uint32_t>(s.size());
        std::memcpy(buf_, &block, sizeof block);
        std::memcpy(buf_ + sizeof block, &size, sizeof size);
        buf_[kTag] = kHeap;
    }

    size_t size() const {
        if (!OnHeap()) return kMaxInline - static_cast<unsigned char>(buf_[kTag]);
        uint32_t size = 0;
        std::memcpy(&size, buf_ + sizeof(char*), sizeof size);
        return size;
    }
    bool empty() const { return size() == 0; }
    const char* data() const { return OnHeap() ? HeapData() : buf_; }
    std::string_view view() const { return {data(), size()}; }
    operator std::string_view() const { return view(); }
    std::string str() const { return std::string(view()); }

    friend bool operator==(const TRepText& a, const TRepText& b) { return a.view() == b.view(); }
    friend bool operator!=(const TRepText& a, const TRepText& b) { return !(a == b); }
    friend bool operator==(const TRepText& a, std::string_view b) { return a.view() == b; }
    friend bool operator!=(const TRepText& a, std::string_view b) { return a.view() != b; }
    friend bool operator==(std::string_view a, const TRepText& b) { return a == b.view(); }
    friend bool operator!=(std::string_view a, const TRepText& b) { return a != b.view(); }
    friend std::ostream& operator<<(std::ostream& os, const TRepText& t) { return os << t.view(); }

  private:
    static constexpr size_t kTag = 15;
    static constexpr size_t kMaxInline = 15;
    static constexpr char kInline = static_cast<char>(kMaxInline);  // tag of the empty text
    static constexpr char kHeap = static_cast<char>(0x80);

    bool OnHeap() const { return buf_[kTag] == kHeap; }
    char* HeapData() const {
        char* p = nullptr;
        std::memcpy(&p, buf_, sizeof p);
        return p;
    }
    void Free() {
        if (OnHeap()) delete[] HeapData();
        buf_[0] = 0;
        buf_[kTag] = kInline;
    }

    // In place: the bytes, then a 0; the last byte is 15 - size (0 when the
    // text fills the place, doubling as its terminator). On the heap: the
    // block's address, the size in 4 bytes, then the tag kHeap.
    char buf_[16];
};
static_assert(sizeof(TRepText) == 16, "a report text takes 16 bytes");
