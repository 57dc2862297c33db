#include "jet/compact/verify_tasks.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "jet/compact/verify_compare.h"

namespace jet {
namespace {

// The second worker's handle on the source: half the repack's cache (kSourceCachePages),
// whose pages the calling thread goes on using. As much again re-reads fewer pages but
// costs more memory than the compaction's budget allows, for no time gained.
constexpr std::size_t kSecondSourceCachePages = 1024;

// A table's rows are compared in this many parts at most (fewer when the repack
// left fewer splits): with two workers, the one that finishes its last part first
// then waits for at most about a sixteenth of the table, and each part's own costs
// (the two maps read, its lookup table) stay small beside its rows.
constexpr std::size_t kRowsParts = 16;

// The two files as one worker reads them: the calling thread reads through the
// databases' handles, the second worker through its own.
struct Files {
    CompareFiles files;
    bool reports = false;  // this worker reports progress (only the calling thread)
};

class Tasks {
  public:
    explicit Tasks(const VerifyRun& run) : run_(run) {}

    // Throws FormatError with the first fault of the comparison; the soundness
    // check's findings are in the report it returns.
    CheckReport Run();

  private:
    // A stretch of a table's rows (RowsStretch): parts meet exactly, so together they
    // pair every source row with every new row, in order, as one pass would.
    struct RowsPart {
        std::uint32_t first_page = 0;
        RowAddr start;
        RowsCompared compared;  // its pairing kept until joined to the table's
        bool done = false;      // its task completed
    };
    struct TableWork {
        ComparedTable table;
        std::vector<RowsPart> parts;  // ascending; the first from the table's start
        // Source slot -> new slot: the parts' pairings joined in order as they complete
        // (a few parts wait to be joined at a time), read by the index tasks and
        // dropped after the last of them: some 16 bytes per source data page plus 8
        // per 64 slots up to its last live row, and 8 per run of consecutive new
        // slots (a fraction of a byte per row of narrow tables).
        RowMap pairing;
        std::size_t joined = 0;  // parts whose pairing is in `pairing`
        std::size_t parts_left = 0;
        bool parts_failed = false;  // a part did not complete
        std::size_t rows_end = 0;   // its RowsEnd task
        std::size_t indexes_left = 0;

        void DropPairing() {
            pairing = RowMap();
            for (RowsPart& p : parts) p.compared.pairing = RowMap();
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

    void Report() const {
        if (run_.progress)
            run_.progress({CompactProgress::Stage::Verifying, rows_done_.load(), rows_total_,
                           run_.src.file().pages_read() + run_.out.file().pages_read()});
    }
    void PlanTasks(std::vector<ComparedTable> tables);
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
    void CompareRowsPart(Task& task, std::size_t t, Files& f);
    void EndRows(Task& task, std::size_t t, Files& f);
    void StartSecondWorker(std::size_t check_at, std::unique_ptr<PageFile>& own_src,
                           std::unique_ptr<PageFile>& own_out, std::optional<Files>& files);

    const VerifyRun& run_;
    std::vector<TableWork> tables_;
    // In the fixed order; the check's index trees are added once its table pass has
    // listed them (a deque keeps the tasks in place meanwhile).
    std::deque<Task> tasks_;
    std::unique_ptr<CheckInParts> check_;
    std::mutex mu_;  // guards the tasks' states and the tables' counts
    std::condition_variable changed_;
    bool second_reads_ = true;  // the second worker could open its handles
    std::atomic<std::size_t> first_failed_{std::numeric_limits<std::size_t>::max()};
    std::atomic<bool> abort_{false};  // an error that is no fault of the file
    std::exception_ptr error_;
    std::atomic<std::uint64_t> rows_done_{0};
    std::uint64_t rows_total_ = 0;
};

// The tables' definitions are read before the workers start (PairTables): a
// Database's cache of them is not for two threads; the workers only read the
// definitions it holds.
void Tasks::PlanTasks(std::vector<ComparedTable> tables) {
    tables_.resize(tables.size());
    for (std::size_t i = 0; i < tables.size(); ++i) {
        TableWork& w = tables_[i];
        w.table = std::move(tables[i]);
        rows_total_ += w.table.sd->row_count;
        w.parts.emplace_back();  // from the start
        if (auto hint = run_.options.splits.find(w.table.sd->page);
            hint != run_.options.splits.end()) {
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
        for (std::size_t k = 0; k < w.table.sd->real_indexes.size(); ++k) {
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

void Tasks::NoteFailure(std::size_t t, std::string why) {
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
bool Tasks::TakeNext(unsigned worker, std::size_t& t) {
    const std::size_t n = tasks_.size();
    for (std::size_t j = 0; j < n; ++j) {
        std::size_t i = worker == 0 ? n - 1 - j : j;
        Task& k = tasks_[i];
        if (k.state != Task::State::Ready) continue;
        if (Cancelled(i)) {
            Finished(i, false);
            continue;
        }
        if (k.kind == Task::Kind::Index && worker == 0 && run_.options.indexes_on_second_worker &&
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
void Tasks::Finished(std::size_t t, bool completed) {
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
            w.pairing.Append(std::move(w.parts[w.joined].compared.pairing));
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
void Tasks::StartSecondWorker(std::size_t check_at, std::unique_ptr<PageFile>& own_src,
                              std::unique_ptr<PageFile>& own_out, std::optional<Files>& files) {
    // Every page of the new file is in use, so blocks read around a page bring pages
    // the check needs too; its cache holds a group of long values as the
    // comparison's does, among which rows in order jump.
    check_ = std::make_unique<CheckInParts>(
        run_.out_path, CheckReading{.cache_pages = kVerifyCachePages,
                                    .block_reads = true,
                                    .loaded = run_.loaded,
                                    .loaded_like = run_.loaded ? &run_.out.file() : nullptr,
                                    // Rows and entries are compared with the source's,
                                    // so a key unlike its row's values was so in the
                                    // source: the batch's check before compacting (and
                                    // `mdbcompact check`) reports that, compaction
                                    // copies keys as they are, so comparing them here
                                    // again would be work without a finding.
                                    .index_keys = false});
    check_->Tables();
    std::string err;
    own_src = PageFile::Open(run_.src_path, &err, run_.src.file().overlay());
    PageFile* out = check_->file();
    if (!out) {
        own_out = PageFile::Open(run_.out_path, &err);
        if (own_out) {
            own_out->set_cache_capacity(kVerifyCachePages);
            own_out->set_block_reads(true);
            if (run_.loaded) own_out->set_loaded(&run_.out.file());
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
            compared[{tables_[k.table].table.od->page, k.index}] = &k;
    std::vector<Task*> along(check_->index_count(), nullptr);
    std::map<std::size_t, std::vector<std::size_t>> along_by_table;
    for (std::size_t k = 0; k < along.size(); ++k) {
        const CheckInParts::Tree tree = check_->tree(k);
        auto it = compared.find({tree.table, tree.index});
        if (it == compared.end() ||
            tree.root != tables_[it->second->table].table.od->real_indexes[tree.index].root)
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
        files.emplace(Files{CompareFiles{*own_src, *out}, false});
    } else {
        second_reads_ = false;  // the calling thread then does everything
    }
    changed_.notify_all();
}

void Tasks::Work(unsigned worker) {
    std::unique_ptr<PageFile> own_src, own_out;
    std::optional<Files> files;
    if (worker == 0) {
        files.emplace(Files{CompareFiles{run_.src.file(), run_.out.file()}, true});
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
bool Tasks::RunTask(Task& task, std::size_t t, Files& files) {
    try {
        switch (task.kind) {
            case Task::Kind::Rows:
                CompareRowsPart(task, t, files);
                break;
            case Task::Kind::RowsEnd:
                EndRows(task, t, files);
                break;
            case Task::Kind::Index: {
                const TableWork& w = tables_[task.table];
                // check_ is read only for a task that checks along: such a task was
                // readied (under the lock) after the second worker made check_; the
                // others may run while it is still being made.
                CompareIndex(w.table, task.index, w.pairing, run_.ids, task.check ? check_.get() : nullptr,
                             task.check,
                             files.files, task.claims,
                             [&](std::uint64_t, bool) {
                                 if (Cancelled(t)) throw TaskCancelled();
                             },
                             run_.options.drop_entries_of_missing_rows.count(
                                 {w.table.sd->page, static_cast<std::uint32_t>(task.index)}) > 0);
                break;
            }
            case Task::Kind::CheckIndex:
                check_->Index(task.index, files.files.out);
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

void Tasks::CompareRowsPart(Task& task, std::size_t t, Files& f) {
    TableWork& w = tables_[task.table];
    RowsPart& part = w.parts[task.part];
    RowsStretch stretch;
    stretch.first_page = part.first_page;
    stretch.start = part.start;
    if (task.part + 1 < w.parts.size()) {
        stretch.end_page = w.parts[task.part + 1].first_page;
        stretch.end = w.parts[task.part + 1].start;
    }
    CompareRows(w.table, stretch, task.part == 0, run_.ids, f.files, task.claims, part.compared,
                [&](std::uint64_t rows, bool last) {
                    rows_done_ += rows;
                    if (last) return;
                    if (f.reports) Report();
                    if (Cancelled(t)) throw TaskCancelled();
                });
}

// The row count and the maps, once every part of the table's rows has completed.
void Tasks::EndRows(Task& task, std::size_t t, Files& f) {
    TableWork& w = tables_[task.table];
    std::uint64_t count = 0;
    bool foreign = false;
    PageSet lv_seen(f.files.out.page_count());
    for (RowsPart& p : w.parts) {
        count += p.compared.count;
        foreign = foreign || p.compared.foreign;
        lv_seen.Merge(p.compared.lv_seen);
        p.compared.lv_seen = PageSet();
    }
    CompareRowCount(w.table, count);
    // The maps are reported after the indexes (they were checked after them when
    // one thread did all), but need only what the rows read.
    const std::size_t maps = t + 1 + w.table.sd->real_indexes.size();
    if (Cancelled(maps)) return;
    try {
        CheckMaps(w.table, f.files.out, foreign, lv_seen, task.maps->claims);
    } catch (const FormatError& e) {
        NoteFailure(maps, e.what());
    }
}

CheckReport Tasks::Run() {
    CompareCatalog(run_.src, run_.out, run_.ids);
    PlanTasks(PairTables(run_.src, run_.out));
    Report();
    {
        // Started once and joined here, on every way out: a worker's exception is
        // caught in its task and rethrown below.
        std::jthread second([this] { Work(1); });
        Work(0);
    }
    if (error_) std::rethrow_exception(error_);
    // The tasks' findings in their fixed order, each after the pages it claimed.
    PageRoles roles(run_.out.file());
    for (const Task& k : tasks_) {
        k.claims.Replay(
            [&](std::uint32_t page, const std::string& role) { roles.Claim(page, role); });
        if (k.failure) ThrowFormat(*k.failure);
    }
    roles.CheckGlobalMap(run_.fillers);
    // Only now, with every part of it done: nothing was dropped.
    CheckReport soundness = check_->Finish();
    Report();
    return soundness;
}

}  // namespace

CheckReport RunVerification(const VerifyRun& run) {
    return Tasks(run).Run();
}

}  // namespace jet
