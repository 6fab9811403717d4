#include "reports/report_model.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "reports/report_sort.h"

namespace {

constexpr size_t kEntryRoom = 500;

// Adds every line's call to the entry of its key, creating entries in order
// of first appearance. The last key is remembered, since consecutive calls
// often share a trunk or a line.
// With several offices an entry is per office and key (see ListKey).
template <class Entry, class KeyOf, class Init>
void Gather(const TReportModel& source, TStrList_rep<Entry>& list,
            std::unordered_map<std::string, Entry*>& index, KeyOf keyOf, Init init,
            const std::function<bool(size_t)>& keep) {
    const TStrList_rep<TExtStr_rep>& lines = source.LineList();
    const std::vector<TSiteSpan>& sites = source.Sites();
    const bool multi = source.MultiSite();
    size_t site = 0;
    std::string sited;  // the key with its office, made without allocating each time
    list.Clear();
    list.Capacity(kEntryRoom);
    index.clear();
    const std::string* lastKey = nullptr;
    Entry* last = nullptr;
    for (size_t i = 0; i < lines.Count(); ++i) {
        if (keep && !keep(i)) continue;
        const TExtStr_rep* line = &lines[i];
        std::string_view key = keyOf(*line);
        if (multi) {
            while (site + 1 < sites.size() && sites[site + 1].First <= i)
                ++site;
            sited.assign(sites[site].Site);
            sited += '\x1f';
            sited += key;
            key = sited;
        }
        Entry* entry;
        if (last && *lastKey == key) {
            entry = last;
        } else {
            auto [it, fresh] = index.try_emplace(std::string(key), nullptr);
            if (fresh) {
                it->second = &list.Add();
                init(*it->second, *line);
                if (multi) it->second->Site = sites[site].Site;
            }
            entry = it->second;
            last = entry;
            lastKey = &it->first;
        }
        entry->AddCall(*line);
    }
}

// Sorts list by less within each office, the offices staying in the order
// of their names: a report of several offices lists each one's own. A
// report of one has no office names to compare.
template <class Entry, class Less>
void SortBySite(TStrList_rep<Entry>& list, Less less) {
    list.Sort([&less](const Entry& a, const Entry& b) {
        if (a.Site != b.Site) return a.Site < b.Site;
        return less(a, b);
    });
}

// The text keys, by which an entry is ordered when the key is no traffic.
bool TextLess(TALSortKey key, const TAL_rep& a, const TAL_rep& b) {
    return key == TALSortKey::HwLine ? NumberTextLess(a.HwLine, b.HwLine, false)
                                     : NumberTextLess(a.PrgLine, b.PrgLine, true);
}

bool TextLess(TSLSortKey, const TSL_rep& a, const TSL_rep& b) {
    return CompareTrunkText(a.Trunk, b.Trunk) < 0;
}

// Orders either list by key: the traffic keys, which both lists have, by
// the seconds every entry counts; the others by the entry's own text.
template <class Entry, class Key>
void SortList(TStrList_rep<Entry>& list, Key key) {
    int64_t TTraffic_rep::*seconds = nullptr;
    switch (key) {
        case Key::OutTraffic:
            seconds = &TTraffic_rep::OutTotalSec;
            break;
        case Key::InTraffic:
            seconds = &TTraffic_rep::InTotalSec;
            break;
        case Key::TotalTraffic:
            seconds = &TTraffic_rep::TotalSec;
            break;
        default:
            SortBySite(list, [key](const Entry& a, const Entry& b) { return TextLess(key, a, b); });
            return;
    }
    SortBySite(list, [seconds](const Entry& a, const Entry& b) { return a.*seconds < b.*seconds; });
}

}  // namespace

const std::string& TReportModel::SiteOf(size_t index) const {
    static const std::string kNone;
    const auto after =
        std::upper_bound(sites_.begin(), sites_.end(), index,
                         [](size_t i, const TSiteSpan& span) { return i < span.First; });
    return after == sites_.begin() || !MultiSite() ? kNone : std::prev(after)->Site;
}

TAL_rep& TReportModel::AddAL(const std::string& site, const std::string& hwLine) {
    TAL_rep& entry = al_.Add();
    entry.Site = site;
    entry.HwLine = hwLine;
    alIndex_[ListKey(site, hwLine)] = &entry;
    return entry;
}

TSL_rep& TReportModel::AddSL(const std::string& site, const std::string& trunk) {
    TSL_rep& entry = sl_.Add();
    entry.Site = site;
    entry.Trunk = trunk;
    slIndex_[ListKey(site, trunk)] = &entry;
    return entry;
}

TFileResult TReportModel::LoadFile(const std::string& path, const TLoadProgress& progress) {
    TCallLogContent content;
    const TFileResult result = ReadCallLogFile(path, content, progress);
    if (result.Ok()) Replace(std::move(content));
    return result;
}

void TReportModel::LoadText(std::string_view text) {
    Replace(ReadCallLogText(text));
}

void TReportModel::Replace(TCallLogContent&& content) {
    lineCount_ = content.LineCount;
    lines_ = std::move(content.LineList);
}

std::string TReportModel::LineCountCaption() const {
    // The database holds calls only, no lines of a file to count.
    if (!sites_.empty()) return "Звонков: " + std::to_string(lines_.Count());
    return "Кол-во строк: " + std::to_string(lineCount_);
}

void TReportModel::BuildLists() {
    BuildListsOf(*this, nullptr);
}

void TReportModel::BuildListsOf(const TReportModel& source,
                                const std::function<bool(size_t)>& keep) {
    if (this != &source) sites_ = source.sites_;  // the grids ask whether per office
    Gather(
        source, al_, alIndex_, [](const TExtStr_rep& l) { return l.HwLine.view(); },
        [](TAL_rep& e, const TExtStr_rep& l) {
            e.HwLine = l.HwLine;
            e.PrgLine = l.PrgLine;
        },
        keep);
    Gather(
        source, sl_, slIndex_, [](const TExtStr_rep& l) { return l.Trunk.view(); },
        [](TSL_rep& e, const TExtStr_rep& l) { e.Trunk = l.Trunk; }, keep);
}

TAL_rep* TReportModel::FindAL(std::string_view hwLine, std::string_view site) const {
    const auto it = alIndex_.find(ListKey(site, hwLine));
    return it == alIndex_.end() ? nullptr : it->second;
}

TSL_rep* TReportModel::FindSL(std::string_view trunk, std::string_view site) const {
    const auto it = slIndex_.find(ListKey(site, trunk));
    return it == slIndex_.end() ? nullptr : it->second;
}

void TReportModel::SortALList(TALSortKey key) {
    SortList(al_, key);
}

void TReportModel::SortSLList(TSLSortKey key) {
    SortList(sl_, key);
}

void TReportModel::Clear() {
    lineCount_ = 0;
    sites_.clear();
    lines_.Clear();
    al_.Clear();
    sl_.Clear();
    alIndex_.clear();
    slIndex_.clear();
}

std::vector<const TExtStr_rep*> SelectLines(const TStrList_rep<TExtStr_rep>& LineList,
                                            std::string_view number, std::string_view prefix,
                                            bool byProgrammed) {
    std::string wanted(number);
    wanted.erase(std::remove(wanted.begin(), wanted.end(), ' '), wanted.end());
    std::vector<const TExtStr_rep*> selected;
    for (const TExtStr_rep* line : LineList) {
        if (!wanted.empty() && (byProgrammed ? line->PrgLine : line->HwLine) != wanted) continue;
        if (!prefix.empty() && line->ExtNumber.view().substr(0, prefix.size()) != prefix) continue;
        selected.push_back(line);
    }
    return selected;
}
