// The report's data: the calls of one loaded call-log file and the lists of
// distinct subscriber lines and trunks built from them, with their look-ups,
// sort orders and the subscriber query.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "calllog/calllog_loader.h"
#include "reports/types_rep.h"

// Sort orders of the subscriber-line list (ascending).
enum class TALSortKey { HwLine, PrgLine, OutTraffic, InTraffic, TotalTraffic };
// Sort orders of the trunk list (ascending).
enum class TSLSortKey { Trunk, OutTraffic, InTraffic, TotalTraffic };

class TReportModel {
  public:
    // Loads a call-log file in place of the current one: its line count and
    // its records; the subscriber-line and trunk lists keep their entries
    // until BuildLists. Results as ReadCallLogFile; on any but Done the
    // model is left as it was.
    TFileResult LoadFile(const std::string& path, const TLoadProgress& progress = nullptr);

    // Loads call-log text held in memory, as LoadFile does with a file.
    void LoadText(std::string_view text);

    // Takes calls read elsewhere (the database's) as a load would.
    void LoadContent(TCallLogContent&& content) { Replace(std::move(content)); }

    // The offices of a report from the database, in their order in
    // LineList, each with its first call; sites without calls included.
    // Only with more than one are the lists kept per office (entries get
    // their Site) and do the grids show an office column.
    void SetSites(std::vector<TSiteSpan> sites) { sites_ = std::move(sites); }
    const std::vector<TSiteSpan>& Sites() const { return sites_; }
    bool MultiSite() const { return sites_.size() > 1; }
    // The office of LineList's call at index; empty for a report of one.
    const std::string& SiteOf(size_t index) const;

    // New entries for sums made elsewhere (the database's), appended in
    // the order they are made; site as TAL_rep::Site. Key as BuildLists.
    TAL_rep& AddAL(const std::string& site, const std::string& hwLine);
    TSL_rep& AddSL(const std::string& site, const std::string& trunk);

    // Number of lines of 30 characters or more in the last load.
    size_t LineCount() const { return lineCount_; }

    // "Кол-во строк: " followed by LineCount; for calls from the database
    // (Sites given), "Звонков: " and their number.
    std::string LineCountCaption() const;

    // Rebuilds ALList and SLList from LineList: one entry per distinct
    // hardware number and per distinct trunk text, in order of first
    // appearance, each with the traffic of its calls.
    void BuildLists();
    // Builds ALList and SLList the same way from the lines of source for
    // which keep(index in source's LineList) holds; this model's own
    // LineList is left alone. A period's lists are built beside the lists
    // of the whole file, which the window may be showing meanwhile.
    void BuildListsOf(const TReportModel& source, const std::function<bool(size_t)>& keep);

    // The subscriber line whose HwLine equals hwLine, or nullptr; of
    // office site when the report covers several.
    TAL_rep* FindAL(std::string_view hwLine, std::string_view site = {}) const;
    // The trunk whose Trunk has the same bytes as trunk, or nullptr.
    TSL_rep* FindSL(std::string_view trunk, std::string_view site = {}) const;

    void SortALList(TALSortKey key);
    void SortSLList(TSLSortKey key);

    // Empties all three lists (the window being closed).
    void Clear();

    const TStrList_rep<TExtStr_rep>& LineList() const { return lines_; }
    // The calls themselves, for marking each with its rate.
    TStrList_rep<TExtStr_rep>& Calls() { return lines_; }
    const TStrList_rep<TAL_rep>& ALList() const { return al_; }
    const TStrList_rep<TSL_rep>& SLList() const { return sl_; }

  private:
    void Replace(TCallLogContent&& content);

    size_t lineCount_ = 0;
    std::vector<TSiteSpan> sites_;
    TStrList_rep<TExtStr_rep> lines_;
    TStrList_rep<TAL_rep> al_;
    TStrList_rep<TSL_rep> sl_;
    // Key to entry; every key occurs once in its list, so the index gives the
    // entry a front-to-back scan would find.
    std::unordered_map<std::string, TAL_rep*> alIndex_;
    std::unordered_map<std::string, TSL_rep*> slIndex_;
};

// The lines of LineList the subscriber query selects, in file order. number
// (blanks removed) is compared for equality with PrgLine when byProgrammed,
// else with HwLine; a non-empty prefix keeps only lines whose ExtNumber
// begins with it. With both empty every line is selected.
std::vector<const TExtStr_rep*> SelectLines(const TStrList_rep<TExtStr_rep>& LineList,
                                            std::string_view number, std::string_view prefix,
                                            bool byProgrammed);
