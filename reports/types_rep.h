// Report records and the owning record list the report works on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "reports/rep_text.h"

// One read call-log line. Texts are UTF-8.
struct TExtStr_rep {
    double StartTime = 0;  // days since 30 December 1899, time of day as fraction
    double Duration = 0;   // the duration as a time of day on 1 January 1900
    uint16_t DurHour = 0;
    uint16_t DurMin = 0;
    uint16_t DurSec = 0;
    int32_t DurTotalSec = 0;
    TRepText HwLine;     // hardware subscriber-line number
    TRepText PrgLine;    // programmed subscriber number, blanks removed
    TRepText Trunk;      // trunk number, no blanks
    TRepText ExtNumber;  // dialled number, blanks removed; empty when incoming
};

// Traffic counters shared by the subscriber-line and trunk entries. Minutes and
// seconds change only through the setters, which keep them within 0-59 by
// carrying into the next larger unit. The second counts are 64-bit so that a
// large file can never overflow them.
class TTraffic_rep {
  public:
    int64_t InHour = 0;
    uint32_t InMin() const { return InMin_; }
    uint32_t InSec() const { return InSec_; }
    int64_t OutHour = 0;
    uint32_t OutMin() const { return OutMin_; }
    uint32_t OutSec() const { return OutSec_; }
    int64_t TotalSec = 0;
    int64_t InTotalSec = 0;
    int64_t OutTotalSec = 0;

    void SetInMin(uint32_t v) { SetMin(InHour, InMin_, v); }
    void SetInSec(uint32_t v) { SetSec(InHour, InMin_, InSec_, v); }
    void SetOutMin(uint32_t v) { SetMin(OutHour, OutMin_, v); }
    void SetOutSec(uint32_t v) { SetSec(OutHour, OutMin_, OutSec_, v); }

    // Adds one call: incoming when its dialled number is empty, else outgoing.
    void AddCall(const TExtStr_rep& line);

  private:
    static void SetMin(int64_t& hours, uint32_t& minutes, uint32_t v);
    static void SetSec(int64_t& hours, uint32_t& minutes, uint32_t& seconds, uint32_t v);

    uint32_t InMin_ = 0;
    uint32_t InSec_ = 0;
    uint32_t OutMin_ = 0;
    uint32_t OutSec_ = 0;
};

// One distinct subscriber line.
struct TAL_rep : TTraffic_rep {
    std::string HwLine;
    std::string PrgLine;  // programmed number of the line's first call
};

// One distinct trunk.
struct TSL_rep : TTraffic_rep {
    std::string Trunk;  // compared byte for byte
};

// Hours, minutes and seconds joined by ":", each at least two digits; the
// hours are never cut (123:00:45).
std::string TrafficText(int64_t hours, uint32_t minutes, uint32_t seconds);

// The traffic text of a count of seconds.
std::string TrafficText(int64_t totalSeconds);

// Ordered list of record pointers that owns its records. Records are kept in
// blocks so that appending a million of them costs few allocations and a
// record never moves: a pointer to it stays valid until Clear.
template <class T>
class TStrList_rep {
  public:
    TStrList_rep() = default;
    TStrList_rep(const TStrList_rep&) = delete;
    TStrList_rep& operator=(const TStrList_rep&) = delete;
    TStrList_rep(TStrList_rep&&) noexcept = default;
    TStrList_rep& operator=(TStrList_rep&&) noexcept = default;

    // Appends a new record in its initial state and returns it.
    T& Add() {
        if (blocks_.empty() || usedInBlock_ == kBlock) {
            blocks_.emplace_back(new T[kBlock]);
            usedInBlock_ = 0;
        }
        T* rec = &blocks_.back()[usedInBlock_++];
        items_.push_back(rec);
        return *rec;
    }

    // Drops the last record appended (used when a parsed line is rejected).
    void DropLast() {
        items_.pop_back();
        --usedInBlock_;
        blocks_.back()[usedInBlock_] = T();
    }

    size_t Count() const { return items_.size(); }
    T& operator[](size_t i) { return *items_[i]; }
    const T& operator[](size_t i) const { return *items_[i]; }
    void Capacity(size_t n) { items_.reserve(n); }

    // Releases every record.
    void Clear() {
        items_.clear();
        items_.shrink_to_fit();
        blocks_.clear();
        usedInBlock_ = 0;
    }

    // Reorders the records by less; records with equal keys keep their order.
    template <class Less>
    void Sort(Less less) {
        std::stable_sort(items_.begin(), items_.end(),
                         [&less](const T* a, const T* b) { return less(*a, *b); });
    }

    const std::vector<T*>& Items() const { return items_; }
    typename std::vector<T*>::const_iterator begin() const { return items_.begin(); }
    typename std::vector<T*>::const_iterator end() const { return items_.end(); }

  private:
    static constexpr size_t kBlock = 1024;
    std::vector<std::unique_ptr<T[]>> blocks_;
    size_t usedInBlock_ = 0;
    std::vector<T*> items_;
};
