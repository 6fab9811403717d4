// A call as the reports read it from its call-log line, and the list of
// calls a report holds: a million of them are kept while a report is open,
// so both are built for memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "calllog/rep_text.h"

// One read call-log line. Texts are UTF-8. The members are ordered, the
// line and trunk numbers kept in short texts, and the duration's parts made
// from its seconds, so that a call takes 56 bytes: a million of them are
// held while the report is open.
struct TExtStr_rep {
    double StartTime = 0;     // days since 30 December 1899, time of day as fraction
    int32_t DurTotalSec = 0;  // below a day: the loader takes no other
    // The call's rate among the loaded tariffs' rates, as billing's
    // RateCalls marks it; -1 when it has none (incoming, no rate applies,
    // or no tariffs loaded).
    int32_t Rate = -1;
    TRepShortText HwLine;   // hardware subscriber-line number
    TRepShortText PrgLine;  // programmed subscriber number, blanks removed
    TRepShortText Trunk;    // trunk number, no blanks
    TRepText ExtNumber;     // dialled number, blanks removed; empty when incoming

    int DurHour() const { return DurTotalSec / 3600; }
    int DurMin() const { return DurTotalSec / 60 % 60; }
    int DurSec() const { return DurTotalSec % 60; }
    // The duration as a time of day on 1 January 1900, as the grids show it;
    // made when asked, so that a call keeps no copy.
    double Duration() const;
};
static_assert(sizeof(TExtStr_rep) <= 56, "a call stays within 56 bytes");

// The calls of one office in a report that covers several (from the
// database): its name and the index in LineList of its first call. An
// office's calls follow one another, so a call takes no room for its office.
struct TSiteSpan {
    std::string Site;
    size_t First = 0;
};

// The key of a list entry of an office: text alone when site is empty (a
// report of one office), else both, so that the offices' line and trunk
// numbers stay their own.
std::string ListKey(std::string_view site, std::string_view text);

// Ordered list of records that owns them. Records are kept in blocks so that
// appending a million of them costs few allocations and a record never
// moves: a pointer to it stays valid until Clear. While the records are in
// the order they were added, a record is found by its index in the blocks;
// only a list that has been sorted, or whose Items were asked for, keeps a
// pointer per record (a call list of a million would spend 8 MB on them).
template <class T>
class TStrList_rep {
  public:
    // Walks the records in order, giving a pointer to each.
    class const_iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = T*;
        using difference_type = std::ptrdiff_t;
        using pointer = T* const*;
        using reference = T*;

        const_iterator(const TStrList_rep* list, size_t i) : list_(list), i_(i) {}
        T* operator*() const { return list_->At(i_); }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator was = *this;
            ++i_;
            return was;
        }
        difference_type operator-(const const_iterator& o) const {
            return static_cast<difference_type>(i_) - static_cast<difference_type>(o.i_);
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

      private:
        const TStrList_rep* list_;
        size_t i_;
    };

    TStrList_rep() = default;
    TStrList_rep(const TStrList_rep&) = delete;
    TStrList_rep& operator=(const TStrList_rep&) = delete;
    TStrList_rep(TStrList_rep&& o) noexcept { *this = std::move(o); }
    TStrList_rep& operator=(TStrList_rep&& o) noexcept {
        if (this != &o) {
            blocks_ = std::move(o.blocks_);
            items_ = std::move(o.items_);
            usedInBlock_ = std::exchange(o.usedInBlock_, 0);
            count_ = std::exchange(o.count_, 0);
            byItems_ = std::exchange(o.byItems_, false);
            o.blocks_.clear();
            o.items_.clear();
        }
        return *this;
    }

    // Appends a new record in its initial state and returns it.
    T& Add() {
        if (blocks_.empty() || usedInBlock_ == kBlock) {
            blocks_.emplace_back(new T[kBlock]);
            usedInBlock_ = 0;
        }
        T* rec = &blocks_.back()[usedInBlock_++];
        if (byItems_) items_.push_back(rec);
        ++count_;
        return *rec;
    }

    // Drops the last record appended (used when a parsed line is rejected).
    void DropLast() {
        if (byItems_) items_.pop_back();
        --count_;
        --usedInBlock_;
        blocks_.back()[usedInBlock_] = T();
    }

    size_t Count() const { return count_; }
    T& operator[](size_t i) { return *At(i); }
    const T& operator[](size_t i) const { return *At(i); }
    // Room for n records without regrowth of the list's own bookkeeping.
    void Capacity(size_t n) {
        blocks_.reserve((n + kBlock - 1) / kBlock);
        if (byItems_) items_.reserve(n);
    }

    // Releases every record.
    void Clear() {
        items_.clear();
        items_.shrink_to_fit();
        blocks_.clear();
        blocks_.shrink_to_fit();
        usedInBlock_ = 0;
        count_ = 0;
        byItems_ = false;
    }

    // Reorders the records by less; records with equal keys keep their order.
    template <class Less>
    void Sort(Less less) {
        MakeItems();
        std::stable_sort(items_.begin(), items_.end(),
                         [&less](const T* a, const T* b) { return less(*a, *b); });
    }

    // A pointer per record, in order: from here on the list keeps them.
    const std::vector<T*>& Items() const {
        MakeItems();
        return items_;
    }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, count_); }

  private:
    static constexpr size_t kBlock = 1024;

    T* At(size_t i) const { return byItems_ ? items_[i] : &blocks_[i / kBlock][i % kBlock]; }
    void MakeItems() const {
        if (byItems_) return;
        items_.reserve(count_);
        for (size_t i = 0; i < count_; ++i)
            items_.push_back(&blocks_[i / kBlock][i % kBlock]);
        byItems_ = true;
    }

    std::vector<std::unique_ptr<T[]>> blocks_;
    size_t usedInBlock_ = 0;
    size_t count_ = 0;
    // The order, once it may differ from the blocks' (see Items).
    mutable std::vector<T*> items_;
    mutable bool byItems_ = false;
};
