#include "jet/compact/verifier.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <thread>

#include "jet/checker.h"
#include "jet/compact/layout_planner.h"
#include "jet/compact/long_value_packer.h"
#include "jet/data_page.h"
#include "jet/index.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// Pages of the new file kept cached while it is verified: more than a group of a
// column's long-value pages (LongValuePacker::kGroupPages), among which the rows in
// order jump about, with the data pages read meanwhile. 24 MB of Jet 4 pages.
constexpr std::size_t kVerifyCachePages = LongValuePacker::kGroupPages + 2048;

// The second worker's handle on the source: half the repack's cache (kSourceCachePages),
// whose pages the calling thread goes on using. As much again re-reads fewer pages but
// costs more memory than the compaction's budget allows, for no time gained.
constexpr std::size_t kSecondSourceCachePages = 1024;

// A table's rows are compared in this many parts at most (fewer when the repack
// left fewer splits): with two workers, the one that finishes its last part first
// then waits for at most about a sixteenth of the table, and each part's own costs
// (the two maps read, its lookup table) stay small beside its rows.
constexpr std::size_t kRowsParts = 16;

// A set of pages of the new file, a bit each (64 KB for the largest file).
class PageSet {
  public:
    explicit PageSet(std::uint32_t pages = 0) : words_((std::size_t{pages} + 63) / 64, 0) {}
    bool Contains(std::uint32_t p) const {
        return p / 64 < words_.size() && ((words_[p / 64] >> (p % 64)) & 1);
    }
    // REQUIRES: p below the pages it was made for
    void Insert(std::uint32_t p) {
        assert(p / 64 < words_.size());
        words_[p / 64] |= std::uint64_t{1} << (p % 64);
    }
    // REQUIRES: o made for no more pages than this
    void Merge(const PageSet& o) {
        assert(o.words_.size() <= words_.size());
        for (std::size_t i = 0; i < o.words_.size(); ++i) words_[i] |= o.words_[i];
    }

  private:
    std::vector<std::uint64_t> words_;
};

// Pages a task claims for its structures, kept by the task and claimed into the
// file's page roles in the tasks' fixed order once every task has run: two workers
// never share them, and the first conflict in that order is the one reported. A
// table's long-value pages are noted once each (not once per value read from
// them), so all the logs together hold a few entries per page of the new file.
class ClaimLog {
  public:
    void Add(std::uint32_t page, const std::string& role) {
        if (roles_.empty() || roles_[last_role_] != role) {
            auto it = std::find(roles_.begin(), roles_.end(), role);
            last_role_ = static_cast<std::size_t>(it - roles_.begin());
            if (it == roles_.end()) roles_.push_back(role);
        }
        const auto role_at = static_cast<std::uint16_t>(last_role_);
        if (!claims_.empty() && claims_.back().page == page && claims_.back().role == role_at)
            return;
        claims_.push_back({page, role_at});
    }
    template <class ClaimFn>
    void Replay(ClaimFn&& claim) const {
        for (const Entry& c : claims_) claim(c.page, roles_[c.role]);
    }

  private:
    struct Entry {
        std::uint32_t page;
        std::uint16_t role;
    };
    std::vector<std::string> roles_;  // a task claims for a handful of roles
    std::vector<Entry> claims_;
    std::size_t last_role_ = 0;
};

// The two files as one worker reads them. A PageFile serves one thread: the calling
// thread reads through the databases' handles, the second worker through its own.
struct Files {
    PageFile& src;
    PageFile& out;
    bool reports = false;  // this worker reports progress (only the calling thread)
};

// A task that gave up because an earlier task (in the fixed order) failed.
struct TaskCancelled {};

// Whether the long values of fields `fa` (read through `a`) and `fb` (through `b`)
// hold the same bytes, compared a row of each at a time as they are read rather than
// gathered first: each row of b's value goes to `row_b` as it is read. Throws
// FormatError for a value that does not read (as far as the comparison goes).
template <class RowFn>
bool SameLongValue(TableReader& a, Bytes fa, TableReader& b, Bytes fb, const RowFn& row_b) {
    const LongValueHeader ha = ParseLongValueHeader(fa), hb = ParseLongValueHeader(fb);
    if (ha.kind == LongValueHeader::Kind::Inline || hb.kind == LongValueHeader::Kind::Inline) {
        const LongValue va = a.ReadLongValue(fa), vb = b.ReadLongValue(fb);
        for (const RowAddr& r : vb.rows) row_b(r);
        return va.data == vb.data;
    }
    LongValueRows ra(a.file(), ha, a.limits()), rb(b.file(), hb, b.limits());
    RowAddr at;
    Bytes row, da, db;
    bool more_a = true, more_b = true;
    for (;;) {
        while (da.empty() && more_a) more_a = ra.Next(&at, &row, &da);
        while (db.empty() && more_b)
            if ((more_b = rb.Next(&at, &row, &db))) row_b(at);
        if (da.empty() || db.empty()) return da.empty() && db.empty();
        const std::size_t n = std::min(da.size(), db.size());
        if (std::memcmp(da.data(), db.data(), n) != 0) return false;
        da = da.subspan(n);
        db = db.subspan(n);
    }
}

class Verifier {
  public:
    Verifier(Database& src, Database& out, const std::filesystem::path& src_path,
             const std::filesystem::path& out_path, bool loaded, const IdMap& ids,
             const std::vector<std::uint32_t>& fillers, const CompactProgressFn& progress,
             const VerifyOptions& options)
        : src_(src),
          out_(out),
          src_path_(src_path),
          out_path_(out_path),
          loaded_(loaded),
          ids_(ids),
          fillers_(fillers.begin(), fillers.end()),
          progress_(progress),
          options_(options) {}

    // Throws FormatError with the first fault of the comparison; the soundness
    // check's findings are in soundness() afterwards.
    void Run();
    const CheckReport& soundness() const { return soundness_; }

  private:
    // A stretch of a table's rows: the source data pages numbered from first_page
    // up to the next part's, against the rows of the new file (in its map's order)
    // from `start` up to the next part's start. Parts meet exactly, so together they
    // pair every source row with every new row, in order, as one pass would.
    struct RowsPart {
        std::uint32_t first_page = 0;
        RowAddr start;
        RowMap pairing;  // source slot -> new slot for its rows, until joined to the table's
        bool done = false;  // its task completed
        // Left by its task for the table's end of rows:
        std::uint32_t count = 0;  // rows compared
        PageSet lv_seen;          // pages of the new file a long value was read from
        bool foreign = false;     // the new map lists a page that holds none of its rows
    };
    struct TableWork {
        std::string source_name;
        std::string name;  // "table 'X'"
        const TableDef* sd = nullptr;
        const TableDef* od = nullptr;
        std::vector<RowsPart> parts;  // ascending; the first from the table's start
        // Source slot -> new slot: the parts' pairings joined in order as they complete
        // (a few parts wait to be joined at a time), read by the index tasks and
        // dropped after the last of them: some 16 bytes per source data page plus 8
        // per 64 slots up to its last live row, and 8 per run of consecutive new
        // slots (a fraction of a byte per row of narrow tables).
        RowMap pairing;
        std::size_t joined = 0;  // parts whose pairing is in `pairing`
        std::size_t parts_left = 0;
        bool parts_failed = false;   // a part did not complete
        std::size_t rows_end = 0;    // its RowsEnd task
        std::size_t indexes_left = 0;

        void DropPairing() {
            pairing = RowMap();
            for (RowsPart& p : parts) p.pairing = RowMap();
        }
    };
    struct Task {
        // Rows: one part of a table's rows; RowsEnd: what needs all of them (the row
        // count, the maps). The soundness check in parts: its table pass, then each
        // index tree.
        enum class Kind { Rows, RowsEnd, Index, Maps, CheckTables, CheckIndex } kind = Kind::Rows;
        enum class State { Waiting, Ready, Running, Done } state = State::Waiting;
        std::size_t table = 0, index = 0, part = 0;
        // An index comparison that walks the new tree for the check's tree `check` too
        // (CheckInParts::IndexAlong); none: it walks on its own. Set under mu_ before
        // the task is taken.
        std::optional<std::size_t> check;
        ClaimLog claims;
        std::optional<std::string> failure;
        Task* maps = nullptr;  // a RowsEnd task's maps part
    };

    [[noreturn]] void Fail(const std::string& why) { ThrowFormat(why); }
    void Report() const {
        if (progress_)
            progress_({CompactProgress::Stage::Verifying, rows_done_.load(), rows_total_,
                       src_.file().pages_read() + out_.file().pages_read()});
    }
    void Claim(std::uint32_t page, const std::string& role);
    std::uint16_t RoleId(const std::string& role);
    void CompareCatalog();
    void PlanTasks();
    void Work(unsigned worker);
    bool TakeNext(unsigned worker, std::size_t& t);
    // Tasks are read by reference outside the lock: the deque keeps them in place
    // while tasks are added, but its index may not be used meanwhile.
    bool RunTask(Task& task, std::size_t t, Files& files);
    void Finished(std::size_t t, bool completed);
    void NoteFailure(std::size_t t, std::string why);
    bool Cancelled(std::size_t t) const {
        return abort_.load(std::memory_order_relaxed) ||
               t > first_failed_.load(std::memory_order_relaxed);
    }
    void CompareRows(Task& task, std::size_t t, Files& f);
    void EndRows(Task& task, std::size_t t, Files& f);
    void CompareIndex(Task& task, std::size_t t, Files& f);
    void CheckMaps(const TableWork& w, PageFile& out, bool foreign, const PageSet& lv_seen,
                   ClaimLog& claims);
    void StartSecondWorker(std::size_t check_at, std::unique_ptr<PageFile>& own_src,
                           std::unique_ptr<PageFile>& own_out, std::optional<Files>& files);
    void CheckGlobalMap();

    Database& src_;
    Database& out_;
    const std::filesystem::path& src_path_;
    const std::filesystem::path& out_path_;
    const bool loaded_;  // out_ reads the new file from memory (set_loaded), to be shared
    const IdMap& ids_;
    std::set<std::uint32_t> fillers_;
    const CompactProgressFn& progress_;
    const VerifyOptions options_;

    std::vector<TableWork> tables_;
    // In the fixed order; the check's index trees are added once its table pass has
    // listed them (a deque keeps the tasks in place meanwhile).
    std::deque<Task> tasks_;
    std::unique_ptr<CheckInParts> check_;
    std::mutex mu_;            // guards the tasks' states and the tables' counts
    std::condition_variable changed_;
    bool second_reads_ = true;  // the second worker could open its handles
    std::atomic<std::size_t> first_failed_{std::numeric_limits<std::size_t>::max()};
    std::atomic<bool> abort_{false};  // an error that is no fault of the file
    std::exception_ptr error_;
    std::atomic<std::uint64_t> rows_done_{0};
    std::uint64_t rows_total_ = 0;
    CheckReport soundness_;

    // Every page of the new file with its role: an index into role_names_, 0 = none.
    // Filled from the tasks' logs after they have all run, on the calling thread.
    std::vector<std::uint16_t> roles_;
    std::vector<std::string> role_names_{""};
    std::map<std::string, std::uint16_t> role_ids_;
};

std::uint16_t Verifier::RoleId(const std::string& role) {
    auto [it, inserted] = role_ids_.emplace(role, static_cast<std::uint16_t>(role_names_.size()));
    if (inserted) {
        if (role_names_.size() == 0xFFFF) Fail("the file has too many structures to verify");
        role_names_.push_back(role);
    }
    return it->second;
}

void Verifier::Claim(std::uint32_t page, const std::string& role) {
    if (page >= out_.file().page_count())
        Fail(role + " lies past the end of the file (page " + std::to_string(page) + ")");
    if (roles_.empty()) roles_.assign(out_.file().page_count(), 0);
    std::uint16_t& have = roles_[page];
    if (have != 0 && role_names_[have] == role) return;
    std::uint16_t id = RoleId(role);
    if (have != 0 && have != id)
        Fail("page " + std::to_string(page) + " is both " + role_names_[have] + " and " + role);
    have = id;
}

void Verifier::CompareCatalog() {
    const auto& a = src_.catalog();
    const auto& b = out_.catalog();
    if (a.size() != b.size())
        Fail("the catalog lists " + std::to_string(b.size()) + " objects instead of " +
             std::to_string(a.size()));
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].flags != b[i].flags)
            Fail("catalog object '" + a[i].name + "' changed");
        if (b[i].id != ids_.Map(a[i].id) || b[i].parent_id != ids_.Map(a[i].parent_id))
            Fail("catalog object '" + a[i].name + "' has a wrong Id");
    }
    // Table Ids stay distinct, and each names a table definition.
    std::set<std::int32_t> seen;
    for (const auto& e : b) {
        if (!seen.insert(e.id).second) Fail("two catalog objects share Id " + std::to_string(e.id));
        if (e.is_table() && out_.file().Read(e.tdef_page()).type() != kPageTdef)
            Fail("table '" + e.name + "' has an Id that is not a table definition page");
    }
}

// Definitions are read here, before the workers start: a Database's cache of them
// is not for two threads; the workers only read the definitions it holds.
void Verifier::PlanTasks() {
    auto st = src_.Tables(true);
    auto ot = out_.Tables(true);
    if (st.size() != ot.size()) Fail("the number of tables changed");
    tables_.resize(st.size());
    for (std::size_t i = 0; i < st.size(); ++i) {
        if (st[i]->name != ot[i]->name) Fail("table '" + st[i]->name + "' is missing");
        TableWork& w = tables_[i];
        w.source_name = st[i]->name;
        w.name = "table '" + st[i]->name + "'";
        w.sd = &src_.Definition(st[i]->tdef_page());
        w.od = &out_.Definition(ot[i]->tdef_page());
        rows_total_ += w.sd->row_count;
        w.parts.emplace_back();  // from the start
        if (auto hint = options_.splits.find(w.sd->page); hint != options_.splits.end()) {
            const std::vector<RowsSplit>& h = hint->second;
            const std::size_t step = h.size() / kRowsParts + 1;
            for (std::size_t k = step - 1; k < h.size(); k += step) {
                // Splits out of order would make parts that overlap: not taken.
                const RowsPart& last = w.parts.back();
                if (h[k].source_page <= last.first_page || !(last.start < h[k].placed)) continue;
                w.parts.emplace_back();
                w.parts.back().first_page = h[k].source_page;
                w.parts.back().start = h[k].placed;
            }
        }
        for (std::size_t k = 0; k < w.parts.size(); ++k) {
            Task rows;
            rows.table = i;
            rows.part = k;
            rows.state = Task::State::Ready;
            tasks_.push_back(std::move(rows));
        }
        w.parts_left = w.parts.size();
        Task end;
        end.kind = Task::Kind::RowsEnd;
        end.table = i;
        tasks_.push_back(std::move(end));
        w.rows_end = tasks_.size() - 1;
        Task& end_task = tasks_.back();
        for (std::size_t k = 0; k < w.sd->real_indexes.size(); ++k) {
            Task ix;
            ix.kind = Task::Kind::Index;
            ix.table = i;
            ix.index = k;
            tasks_.push_back(std::move(ix));
        }
        Task maps;
        maps.kind = Task::Kind::Maps;  // done at the end of rows, reported after the indexes
        maps.table = i;
        tasks_.push_back(std::move(maps));
        end_task.maps = &tasks_.back();
    }
    // A fault the comparison finds is reported before anything the check finds.
    Task check;
    check.kind = Task::Kind::CheckTables;
    check.state = Task::State::Running;  // the second worker's first task
    tasks_.push_back(std::move(check));
}

void Verifier::NoteFailure(std::size_t t, std::string why) {
    std::lock_guard lock(mu_);
    tasks_[t].failure = std::move(why);
    if (t < first_failed_.load()) first_failed_.store(t);
}

// REQUIRES: mu_ held. The next ready task that this worker may take: the second
// worker's is the first in the fixed order; the calling thread's is the last, but
// for the parts of a table's rows, which both take in order (they are joined in
// order as they complete, so none waits long). The calling thread reads the source
// through the repack's handle, whose cache still holds what the repack read last
// (the last tables), and the second worker through a handle of its own: from the
// two ends they read different tables' pages (but for the table where they meet)
// instead of each reading much the same pages. Tasks after a failed one are
// dropped on the way; those before it all still run, so the order they run in
// does not change which fault is reported.
bool Verifier::TakeNext(unsigned worker, std::size_t& t) {
    const std::size_t n = tasks_.size();
    for (std::size_t j = 0; j < n; ++j) {
        std::size_t i = worker == 0 ? n - 1 - j : j;
        Task& k = tasks_[i];
        if (k.state != Task::State::Ready) continue;
        if (Cancelled(i)) {
            Finished(i, false);
            continue;
        }
        if (k.kind == Task::Kind::Index && worker == 0 && options_.indexes_on_second_worker &&
            second_reads_)
            continue;
        // The table's first part still waiting (none before it is cancelled if it is not).
        if (worker == 0 && k.kind == Task::Kind::Rows)
            while (tasks_[i].part > 0 && tasks_[i - 1].state == Task::State::Ready) --i;
        assert(tasks_[i].kind == k.kind && tasks_[i].table == k.table && !Cancelled(i));
        tasks_[i].state = Task::State::Running;
        t = i;
        return true;
    }
    return false;
}

// REQUIRES: mu_ held. The last of a table's parts to finish readies its end of rows
// (or drops it and all after it when a part did not complete); that readies the
// index comparisons (or drops them); the last of those drops the pairing.
void Verifier::Finished(std::size_t t, bool completed) {
    Task& k = tasks_[t];
    k.state = Task::State::Done;
    if (k.kind == Task::Kind::CheckTables || k.kind == Task::Kind::CheckIndex) return;
    TableWork& w = tables_[k.table];
    auto end_rows = [&](std::size_t end, bool ok) {
        std::size_t i = end + 1;
        for (; tasks_[i].kind == Task::Kind::Index; ++i)
            tasks_[i].state = ok ? Task::State::Ready : Task::State::Done;
        tasks_[i].state = Task::State::Done;  // its maps, checked at the end of rows
        w.indexes_left = ok ? i - end - 1 : 0;
        if (w.indexes_left == 0) w.DropPairing();
    };
    if (k.kind == Task::Kind::Rows) {
        w.parts_failed = w.parts_failed || !completed;
        w.parts[k.part].done = completed;
        for (; w.joined < w.parts.size() && w.parts[w.joined].done; ++w.joined)
            w.pairing.Append(std::move(w.parts[w.joined].pairing));
        if (--w.parts_left > 0) return;
        if (!w.parts_failed) {
            tasks_[w.rows_end].state = Task::State::Ready;
            return;
        }
        tasks_[w.rows_end].state = Task::State::Done;
        end_rows(w.rows_end, false);
    } else if (k.kind == Task::Kind::RowsEnd) {
        end_rows(t, completed);
    } else if (k.kind == Task::Kind::Index) {
        if (--w.indexes_left == 0) w.DropPairing();
    }
}

// The second worker first checks the new file's tables, then lists the check's index
// trees as tasks and reads on through the check's handle on the new file and one of
// its own on the source.
void Verifier::StartSecondWorker(std::size_t check_at, std::unique_ptr<PageFile>& own_src,
                                 std::unique_ptr<PageFile>& own_out, std::optional<Files>& files) {
    // Every page of the new file is in use, so blocks read around a page bring pages
    // the check needs too; its cache holds a group of long values as the
    // comparison's does, among which rows in order jump.
    check_ = std::make_unique<CheckInParts>(
        out_path_, CheckReading{.cache_pages = kVerifyCachePages,
                                .block_reads = true,
                                .loaded = loaded_,
                                .loaded_like = loaded_ ? &out_.file() : nullptr,
                                // Rows and entries are compared with the source's,
                                // so a key unlike its row's values was so in the
                                // source: the batch's check before compacting (and
                                // `mdbcompact check`) reports that, compaction copies
                                // keys as they are, so comparing them here again
                                // would be work without a finding.
                                .index_keys = false});
    check_->Tables();
    std::string err;
    own_src = PageFile::Open(src_path_, &err);
    PageFile* out = check_->file();
    if (!out) {
        own_out = PageFile::Open(out_path_, &err);
        if (own_out) {
            own_out->set_cache_capacity(kVerifyCachePages);
            own_out->set_block_reads(true);
            if (loaded_) own_out->set_loaded(&out_.file());
        }
        out = own_out.get();
    }
    std::lock_guard lock(mu_);
    // A tree the comparison walks too is checked on its walk (one walk instead of two:
    // some 15 % less CPU for the trees of many narrow rows), where the two workers
    // then have an even number of such tasks per table: with an odd number, the
    // middle tree's comparison and check stay apart, so that both workers finish the
    // table's indexes at about the same time. Three large trees as three shared walks
    // leave one worker idle for the third; with the middle one apart, the worker that
    // takes tasks from the start takes the first shared walk and the middle
    // comparison, the other (from the end) the middle check and the last shared walk.
    // Only comparisons not yet taken: one that started meanwhile walks on its own.
    std::map<std::pair<std::uint32_t, std::size_t>, Task*> compared;
    for (Task& k : tasks_)
        if (k.kind == Task::Kind::Index &&
            (k.state == Task::State::Waiting || k.state == Task::State::Ready))
            compared[{tables_[k.table].od->page, k.index}] = &k;
    std::vector<Task*> along(check_->index_count(), nullptr);
    std::map<std::size_t, std::vector<std::size_t>> along_by_table;
    for (std::size_t k = 0; k < along.size(); ++k) {
        const CheckInParts::Tree tree = check_->tree(k);
        auto it = compared.find({tree.table, tree.index});
        if (it == compared.end() ||
            tree.root != tables_[it->second->table].od->real_indexes[tree.index].root)
            continue;
        along[k] = it->second;
        along_by_table[it->second->table].push_back(k);
    }
    for (const auto& [table, trees] : along_by_table)
        if (trees.size() % 2 == 1) along[trees[trees.size() / 2]] = nullptr;
    for (std::size_t k = 0; k < along.size(); ++k) {
        if (along[k]) {
            along[k]->check = k;
            continue;
        }
        Task ix;
        ix.kind = Task::Kind::CheckIndex;
        ix.index = k;
        ix.state = Task::State::Ready;
        tasks_.push_back(std::move(ix));
    }
    Finished(check_at, true);
    if (own_src && out) {
        own_src->set_cache_capacity(kSecondSourceCachePages);
        files.emplace(Files{*own_src, *out, false});
    } else {
        second_reads_ = false;  // the calling thread then does everything
    }
    changed_.notify_all();
}

void Verifier::Work(unsigned worker) {
    std::unique_ptr<PageFile> own_src, own_out;
    std::optional<Files> files;
    if (worker == 0) {
        files.emplace(Files{src_.file(), out_.file(), true});
    } else {
        std::size_t check_at = 0;
        {
            std::lock_guard lock(mu_);
            check_at = tasks_.size() - 1;
        }
        try {
            StartSecondWorker(check_at, own_src, own_out, files);
        } catch (...) {
            std::lock_guard lock(mu_);
            if (!error_) error_ = std::current_exception();
            abort_.store(true);
            second_reads_ = false;
            tasks_[check_at].state = Task::State::Done;
            changed_.notify_all();
        }
        if (!files) return;
    }
    for (;;) {
        std::size_t t = 0;
        Task* task = nullptr;
        {
            std::unique_lock lock(mu_);
            while (!TakeNext(worker, t)) {
                // Done when nothing waits to run or runs that could ready more.
                const bool more = std::any_of(tasks_.begin(), tasks_.end(), [](const Task& k) {
                    return k.state != Task::State::Done;
                });
                if (!more) return;
                changed_.wait(lock);
            }
            task = &tasks_[t];
        }
        const bool completed = RunTask(*task, t, *files);
        std::lock_guard lock(mu_);
        Finished(t, completed);
        changed_.notify_all();
    }
}

// Runs one task; true when it completed (found nothing wrong and was not stopped).
bool Verifier::RunTask(Task& task, std::size_t t, Files& files) {
    try {
        switch (task.kind) {
            case Task::Kind::Rows:
                CompareRows(task, t, files);
                break;
            case Task::Kind::RowsEnd:
                EndRows(task, t, files);
                break;
            case Task::Kind::Index:
                CompareIndex(task, t, files);
                break;
            case Task::Kind::CheckIndex:
                check_->Index(task.index, files.out);
                break;
            case Task::Kind::Maps:
            case Task::Kind::CheckTables:
                break;  // never taken: the rows task and the second worker do them
        }
        return true;
    } catch (const FormatError& e) {
        NoteFailure(t, e.what());
    } catch (const TaskCancelled&) {
    } catch (...) {
        // Not a fault of the file (memory, say): everything stops and it is rethrown.
        std::lock_guard lock(mu_);
        if (!error_) error_ = std::current_exception();
        abort_.store(true);
    }
    return false;
}

void Verifier::CompareRows(Task& task, std::size_t t, Files& f) {
    TableWork& w = tables_[task.table];
    RowsPart& part = w.parts[task.part];
    const bool last_part = task.part + 1 == w.parts.size();
    ClaimLog& claims = task.claims;
    const bool jet3 = f.src.jet3();
    const TableDef& sd = *w.sd;
    const TableDef& od = *w.od;
    const std::string& name = w.name;
    const std::string lv_role = name + " long values", rows_role = name + " rows";
    if (task.part == 0)
        for (std::uint32_t p : od.pages) claims.Add(p, name + " definition");
    if (sd.columns.size() != od.columns.size() ||
        sd.real_indexes.size() != od.real_indexes.size() ||
        sd.logical_indexes.size() != od.logical_indexes.size())
        Fail(name + " has a different definition");
    std::vector<std::size_t> id_cols, lv_cols;
    for (std::size_t i = 0; i < sd.columns.size(); ++i) {
        if (sd.columns[i].type != od.columns[i].type || sd.columns[i].name != od.columns[i].name)
            Fail(name + " has a different column " + sd.columns[i].name);
        if (IsIdColumn(w.source_name, sd.columns[i].name) && sd.columns[i].type == kColLong)
            id_cols.push_back(i);
        if (IsLongValueType(sd.columns[i].type)) lv_cols.push_back(i);
    }

    // Long values mostly lie about the rows that hold them (a file written in row
    // order): a source page read out of order brings its block along, as when the
    // repack planned them, and back as it was after the part.
    struct BlockReads {
        PageFile& file;
        const bool before = file.block_reads();
        ~BlockReads() { file.set_block_reads(before); }
    } block_reads{f.src};
    if (!lv_cols.empty()) f.src.set_block_reads(true);

    // Rows: the k-th live row of the source against the k-th row of the new file,
    // within this part's stretch of both.
    TableReader sr(f.src, sd);
    sr.set_plan_long_values(!lv_cols.empty());
    TableReader orr(f.out, od);
    // The new table's map lists its data pages in order; a listed page that holds
    // none of its rows is passed over here and refused with the maps.
    const std::vector<std::uint32_t> out_pages =
        ReadUsageMap(f.out, od.owned_map, f.out.page_count()).pages;
    // A place among the new rows: a page's index in out_pages, a row on it.
    struct Pos {
        std::size_t page = 0, row = 0;
        auto operator<=>(const Pos&) const = default;
    };
    auto pos_of = [&](RowAddr a) {
        auto it = std::lower_bound(out_pages.begin(), out_pages.end(), a.page);
        const bool on = it != out_pages.end() && *it == a.page;
        return Pos{static_cast<std::size_t>(it - out_pages.begin()), on ? a.row : 0u};
    };
    Pos cur = pos_of(part.start);
    const Pos end = last_part ? Pos{out_pages.size(), 0} : pos_of(w.parts[task.part + 1].start);
    const std::uint32_t end_page =
        last_part ? std::numeric_limits<std::uint32_t>::max() : w.parts[task.part + 1].first_page;
    auto lay = DataPageLayout::For(jet3);
    RowMap& pairing = part.pairing;
    {
        // Its entries taken at once for the part's stretch of source page numbers (up
        // to the last its map lists there) rather than regrown, each time in fresh
        // memory, as its rows come. The first part's stretch is the whole table's: its
        // map becomes the table's when the parts are joined (RowMap::Append takes it
        // over), so each later part is then copied into room made once, instead of
        // the table's map regrowing in fresh memory while both workers wait on the
        // lock that joining holds. A bad map is left for the rows' pass
        // to report.
        std::vector<std::uint32_t> listed;
        try {
            listed = ReadUsageMap(f.src, sd.owned_map, f.src.page_count()).pages;
        } catch (const FormatError&) {
        }
        const auto from = std::lower_bound(listed.begin(), listed.end(), part.first_page);
        const auto to =
            task.part == 0 ? listed.end() : std::lower_bound(from, listed.end(), end_page);
        if (from != to) pairing.Reserve(*(to - 1) - *from + 1, 0);
    }
    std::uint32_t count = 0;
    std::uint64_t uncounted = 0;  // rows compared since rows_done_ was last added to
    // Per page of the new file: a long value of this table was read from it (so it
    // is a long-value page, and claimed as one already).
    if (!lv_cols.empty()) part.lv_seen = PageSet(f.out.page_count());
    std::vector<std::uint8_t> expect;  // buffers kept from row to row
    CrackedRow sc;
    // Only Ids and long values need the row's columns (the repack checked the source
    // rows' structure); other rows compare whole.
    std::vector<std::size_t> wanted = id_cols;
    wanted.insert(wanted.end(), lv_cols.begin(), lv_cols.end());
    std::sort(wanted.begin(), wanted.end());
    const RowCracker cracker(sd, jet3, wanted);
    const bool cracks = !wanted.empty();
    Page held;  // the new file's page of the row being compared, read once for all its rows
    std::size_t held_i = out_pages.size();
    std::uint32_t held_rows = 0;
    // The rows on the page at index i of the new map. Each data page's free-space
    // field is checked as the page comes in, not in a pass of its own: a table's
    // pages are then read once (the page where two parts meet, twice).
    auto rows_on = [&](std::size_t i) -> std::uint32_t {
        if (held_i != i) {
            held = f.out.Read(out_pages[i]);
            held_i = i;
            held_rows = 0;
            if (held.type() != kPageData || PageOwner(held.bytes()) != od.page) {
                part.foreign = true;
                return 0;
            }
            DataPageInfo info = ReadDataPage(held.bytes(), jet3);
            if (!info.slots_valid ||
                info.free_space != ComputedFreeSpace(info, f.out.page_size(), jet3))
                Fail(name + ": data page " + std::to_string(out_pages[i]) +
                     " has a wrong free-space field");
            held_rows = U16(held.bytes(), lay.row_count);
            claims.Add(out_pages[i], rows_role);
        }
        return held_rows;
    };
    sr.ForEachRowIn(part.first_page, end_page, [&](const RowRef& s) {
        // Next row of the new file (every slot there must be a live row).
        for (;; ++cur.page, cur.row = 0) {
            if (!(cur < end)) Fail(name + " lost rows");
            if (cur.row < rows_on(cur.page)) break;
        }
        const Page& pg = held;
        RowAddr oaddr{out_pages[cur.page], static_cast<std::uint8_t>(cur.row)};
        std::uint16_t raw = U16(pg.bytes(), lay.row_table + kRowSlotSize * cur.row);
        if (raw & (kRowDeleted | kRowOverflow))
            Fail(name + " has a deleted or overflow row at " + oaddr.ToString());
        Bytes ob = RowBytes(pg.bytes(), jet3, static_cast<unsigned>(cur.row));
        ++cur.row;
        if (s.bytes.size() != ob.size()) Fail(name + " row " + s.slot.ToString() + " changed size");
        // Most rows read byte for byte the same; then each long value stored outside
        // must still read the same wherever it now lies. A row that differs, and
        // every row with Ids (a few system tables), is compared with the source row
        // as the repack patches it.
        const bool same =
            id_cols.empty() && std::equal(s.bytes.begin(), s.bytes.end(), ob.begin());
        // A row whose long-value columns are all null has none to compare (and no Ids,
        // or it is cracked for them): its null mask tells, without cracking it.
        const bool cracked = cracks && (!id_cols.empty() || !cracker.AllNull(s.bytes));
        if (cracked) cracker.Crack(s.bytes, sc);
        if (!same) expect.assign(s.bytes.begin(), s.bytes.end());
        for (std::size_t ci : id_cols) {
            const FieldRef& fr = sc.fields[ci];
            if (fr.null || fr.size != 4) continue;
            const auto v = static_cast<std::uint32_t>(
                ids_.Map(static_cast<std::int32_t>(U32(s.bytes, fr.begin))));
            for (int b = 0; b < 4; ++b) expect[fr.begin + b] = static_cast<std::uint8_t>(v >> (8 * b));
        }
        for (std::size_t ci : lv_cols) {
            if (!cracked) break;
            const FieldRef& fr = sc.fields[ci];
            if (fr.null || fr.size < kLongValueHeaderSize) continue;
            Bytes sf = s.bytes.subspan(fr.begin, fr.size);
            if (ParseLongValueHeader(sf).kind == LongValueHeader::Kind::Inline) continue;
            // Only the pointer to the long value may differ; its data must not.
            const std::size_t at = fr.begin + kLongValuePointerAt;
            if (!same)
                std::copy(ob.begin() + at, ob.begin() + at + kRowPointerSize, expect.begin() + at);
            auto seen = [&](RowAddr a) {
                if (part.lv_seen.Contains(a.page)) return;
                part.lv_seen.Insert(a.page);  // read as a long-value page just now
                claims.Add(a.page, lv_role);
            };
            const bool equal = SameLongValue(sr, sf, orr, ob.subspan(fr.begin, fr.size), seen);
            if (!equal) Fail(name + " row " + s.slot.ToString() + " has a different long value");
        }
        if (!same && !std::equal(expect.begin(), expect.end(), ob.begin()))
            Fail(name + " row " + s.slot.ToString() + " reads differently");
        pairing.Add(s.slot, oaddr);
        ++count;
        if (++uncounted == 1024) {
            rows_done_ += uncounted;
            uncounted = 0;
            if (f.reports) Report();
            if (Cancelled(t)) throw TaskCancelled();
        }
        return true;
    });
    rows_done_ += uncounted;
    for (; cur < end; ++cur.page, cur.row = 0)
        if (cur.row < rows_on(cur.page)) Fail(name + " gained rows");
    part.count = count;
}

// The row count and the maps, once every part of the table's rows has completed.
void Verifier::EndRows(Task& task, std::size_t t, Files& f) {
    TableWork& w = tables_[task.table];
    std::uint64_t count = 0;
    bool foreign = false;
    PageSet lv_seen(f.out.page_count());
    for (RowsPart& p : w.parts) {
        count += p.count;
        foreign = foreign || p.foreign;
        lv_seen.Merge(p.lv_seen);
        p.lv_seen = PageSet();
    }
    if (w.od->row_count != count)
        Fail(w.name + " holds " + std::to_string(count) + " rows but its definition says " +
             std::to_string(w.od->row_count));
    // The maps are reported after the indexes (they were checked after them when
    // one thread did all), but need only what the rows read.
    const std::size_t maps = t + 1 + w.sd->real_indexes.size();
    if (Cancelled(maps)) return;
    try {
        CheckMaps(w, f.out, foreign, lv_seen, task.maps->claims);
    } catch (const FormatError& e) {
        NoteFailure(maps, e.what());
    }
}

void Verifier::CompareIndex(Task& task, std::size_t t, Files& f) {
    const TableWork& w = tables_[task.table];
    const std::size_t i = task.index;
    const TableDef& sd = *w.sd;
    const TableDef& od = *w.od;
    const RealIndex& si = sd.real_indexes[i];
    const RealIndex& oi = od.real_indexes[i];
    // Indexes: same keys in the same order, each pointing at the row it pointed at.
    bool id_key = false;
    if (!si.columns.empty())
        for (const Column& c : sd.columns)
            if (c.number == si.columns.front().column && c.type == kColLong &&
                IsIdColumn(w.source_name, c.name))
                id_key = true;
    const std::string iname = w.name + " index " + std::to_string(i);
    // The new tree walked in order against the source's leaf level, entry by entry:
    // memory stays bounded by the trees' depth.
    LeafCursor source_entries(f.src, si.root);
    std::size_t k = 0;
    std::vector<std::uint8_t> mapped;  // a source key with its Id mapped
    // The entries' rows are looked up a batch at a time (RowMap::FindMany overlaps the
    // lookups' cache misses); a batch is settled before any later fault is reported,
    // so the first wrong entry is still the one named.
    constexpr std::size_t kBatch = 256;  // a few KB: fits the cache beside the pages
    std::vector<RowAddr> olds, news, found(kBatch);
    olds.reserve(kBatch);
    news.reserve(kBatch);
    auto settle = [&] {
        const std::size_t n = w.pairing.FindMany(olds, found);
        for (std::size_t i = 0; i < olds.size(); ++i)
            if (i >= n || found[i] != news[i])
                Fail(iname + " entry " + std::to_string(k - olds.size() + i) +
                     " points at the wrong row");
        olds.clear();
        news.clear();
    };
    // A leaf page of the new tree at a time: one call per page, not per entry.
    const LeafPageVisitor compare = [&](std::span<const IndexEntry> entries, std::uint32_t) {
        for (const IndexEntry& b : entries) {
            const IndexEntry* a = source_entries.Next();
            if (!a) {
                settle();
                Fail(iname + " holds more entries than the source");
            }
            Bytes key = Bytes(a->bytes).first(a->key_size);
            if (id_key) {
                mapped.assign(key.begin(), key.end());
                MapLeadingIdKey(mapped, ids_);
                key = mapped;
            }
            if (b.key_size != key.size() || !std::equal(key.begin(), key.end(), b.bytes.begin())) {
                settle();
                Fail(iname + " entry " + std::to_string(k) + " has a different key");
            }
            olds.push_back(a->row);
            news.push_back(b.row);
            ++k;
            if (olds.size() == kBatch) settle();
            if (k % 4096 == 0 && Cancelled(t)) throw TaskCancelled();
        }
    };
    IndexWalk ow;
    if (task.check)
        check_->IndexAlong(*task.check, f.out, compare, ow);
    else
        ow = WalkIndex(f.out, oi.root, od.page, compare);
    settle();
    if (!ow.problems.empty()) Fail(iname + ": " + ow.problems.front().text);
    if (source_entries.Next())
        Fail(iname + " holds " + std::to_string(k) + " entries, fewer than the source");
    ClaimLog& claims = task.claims;
    for (std::uint32_t p : ow.pages) claims.Add(p, iname);
    if (!oi.map.null()) {
        UsageMap m = ReadUsageMap(f.out, oi.map, f.out.page_count());
        std::vector<std::uint32_t> walked = ow.pages;
        std::sort(walked.begin(), walked.end());
        if (m.pages != walked) Fail(iname + ": its usage map does not list exactly its pages");
    }
}

void Verifier::CheckMaps(const TableWork& w, PageFile& f, bool foreign, const PageSet& lv_seen,
                         ClaimLog& claims) {
    const std::string& name = w.name;
    const TableDef& od = *w.od;
    const std::uint32_t n = f.page_count();
    auto claim_map = [&](const UsageMap& m, RowAddr where) {
        claims.Add(where.page, "usage maps");
        for (std::uint32_t p : m.bitmap_pages)
            if (p) claims.Add(p, "usage map pages");
    };
    if (!od.owned_map.null()) {
        UsageMap owned = ReadUsageMap(f, od.owned_map, n);
        claim_map(owned, od.owned_map);
        if (foreign)
            Fail(name + ": its usage map does not list exactly its data pages");
        if (!od.free_map.null()) {
            UsageMap fm = ReadUsageMap(f, od.free_map, n);
            claim_map(fm, od.free_map);
            for (std::uint32_t p : fm.pages)
                if (!owned.Contains(p))
                    Fail(name + ": its free-space map lists a page it does not own");
        }
    }
    for (const auto& lv : od.long_value_columns) {
        if (lv.owned_map.null()) continue;
        UsageMap m = ReadUsageMap(f, lv.owned_map, n);
        claim_map(m, lv.owned_map);
        for (std::uint32_t p : m.pages) {
            // A page a value was read from is a long-value page (reading it checked
            // that); only the others are read for it here.
            if (p >= n || !lv_seen.Contains(p)) {
                Page pg = f.Read(p);
                if (pg.type() != kPageData || PageOwner(pg.bytes()) != kLvalOwner)
                    Fail(name + ": a long-value map lists page " + std::to_string(p) +
                         ", which holds no long values");
            }
            claims.Add(p, name + " long values");
        }
        if (!lv.free_map.null()) {
            UsageMap fm = ReadUsageMap(f, lv.free_map, n);
            claim_map(fm, lv.free_map);
            for (std::uint32_t p : fm.pages)
                if (!m.Contains(p))
                    Fail(name + ": a long-value free-space map lists a page its map does not");
        }
    }
    for (const auto& ix : od.real_indexes) {
        if (ix.map.null()) continue;
        claim_map(ReadUsageMap(f, ix.map, n), ix.map);
    }
}

void Verifier::CheckGlobalMap() {
    PageFile& f = out_.file();
    const std::uint32_t n = f.page_count();
    Claim(kHeaderPage, "the header");
    Claim(kGlobalMapPage, "the global usage map");
    UsageMap g = ReadUsageMap(f, RowAddr{kGlobalMapPage, 0}, n);
    for (std::uint32_t p : g.bitmap_pages)
        if (p) Claim(p, "global usage map pages");
    std::vector<bool> free(n, false);
    for (std::uint32_t p : g.pages)
        if (p < n) free[p] = true;
    for (std::uint32_t p = 0; p < n; ++p) {
        bool used = roles_[p] != 0;
        if (used && free[p])
            Fail("the global usage map marks page " + std::to_string(p) + " (" +
                 role_names_[roles_[p]] + ") free");
        if (!used && !fillers_.count(p))
            Fail("page " + std::to_string(p) + " of the compacted file has no role");
        if (fillers_.count(p) && !free[p])
            Fail("spare page " + std::to_string(p) + " is not marked free");
    }
}

void Verifier::Run() {
    if (src_.header().format != out_.header().format) Fail("the format changed");
    {
        const Page a = src_.file().Read(kHeaderPage);
        const Page b = out_.file().Read(kHeaderPage);
        if (!std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin(), b.bytes().end()))
            Fail("the header page changed");
    }
    CompareCatalog();
    PlanTasks();
    Report();
    {
        // Started once and joined here, on every way out: a worker's exception is
        // caught in its task and rethrown below.
        std::jthread second([this] { Work(1); });
        Work(0);
    }
    if (error_) std::rethrow_exception(error_);
    // The tasks' findings in their fixed order, each after the pages it claimed.
    for (const Task& k : tasks_) {
        k.claims.Replay([this](std::uint32_t page, const std::string& role) { Claim(page, role); });
        if (k.failure) Fail(*k.failure);
    }
    CheckGlobalMap();
    // Only now, with every part of it done: nothing was dropped.
    soundness_ = check_->Finish();
    Report();
}

}  // namespace

Status VerifyCompacted(Database& source, const std::filesystem::path& source_path,
                       const std::filesystem::path& compacted, const IdMap& ids,
                       const std::vector<std::uint32_t>& fillers,
                       const CompactProgressFn& progress, const VerifyOptions& options) {
    Status st;
    std::unique_ptr<Database> out = Database::Open(compacted, &st);
    if (!out) return Status::Fail("it cannot be opened: " + st.reason);
    out->file().set_cache_capacity(kVerifyCachePages);
    out->file().set_block_reads(true);
    // A new file that fits the cache is read whole into memory once and shared by
    // every reader of it: a cache would copy every page into frames made resident for
    // it, once per reader. A larger file keeps its caches, whose frames are reused
    // and bounded.
    const bool loaded =
        out->file().page_count() <= kVerifyCachePages && out->file().set_loaded();
    // The file must also be sound on its own, as any later reader will see it: that
    // check is one of the verifier's tasks, run on the second worker through a
    // handle of its own. A failed comparison is still reported before anything the
    // check finds, as when the two ran one after the other.
    Verifier v(source, *out, source_path, compacted, loaded, ids, fillers, progress, options);
    try {
        v.Run();
    } catch (const FormatError& e) {
        return Status::Fail(e.what());
    } catch (const std::bad_alloc&) {
        // Either worker may run short; the file is then neither accepted nor blamed.
        return Status::Fail("it could not be checked: not enough memory");
    }
    const CheckReport& soundness = v.soundness();
    if (!soundness.sound())
        return Status::Fail(soundness.problems.empty() ? soundness.open_error
                                                       : soundness.problems.front().text);
    return Status::Ok();
}

}  // namespace jet
