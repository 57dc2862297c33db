// Batch compaction: the commands "压缩选择数据库", "压缩全部数据库" and "停止压缩",
// the background supervisor that picks up a request, and the batch itself.
//
// A request travels through the settings key CompactDatabase ("1" = requested); the
// supervisor polls it every 3 seconds and runs one batch. Guarantees beyond the
// request protocol:
//  - once a command has stopped the web server, it is started again on every way the
//    run ends (failures, exceptions, a stop before the supervisor took the request);
//  - two running copies of the program never compact at the same time: a batch runs
//    only while it holds the lock file config/compaction.lock; the copy that cannot
//    get it leaves the request alone and says so once.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "batch/backup_compact_replace.h"
#include "batch/batch_run.h"
#include "desktop/compaction/companion_programs.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "desktop/main_view.h"
#include "desktop/thread_start.h"

namespace mdb::desktop {

using batch::ReplaceStep;

inline constexpr std::size_t kMaxQueuedRecords = batch::kMaxBatchFiles;

// Run state shared by the commands, the supervisor and the scan command.
struct CompactionState {
    std::mutex compactLock;      // guards the fields below, never held across a call
    int compactRunning = 0;      // 1: a run is requested or under way; the batch stops when not 1
    bool batchActive = false;    // the supervisor is inside a batch
    bool batchDone = false;      // ... which has done its files and is telling the totals
    bool toldOtherCopy = false;  // "another copy is compacting" was shown for this request
};

// What a cancellation found.
enum class CancelOutcome {
    NoProgramDirectory,  // nothing was changed
    NothingRunning,      // no request and no batch (a batch may just have ended)
    RequestWithdrawn,    // a request no batch had taken up yet; the web server was started
    BatchStopping,       // a running batch ends after its current file
};

// What "mdbscout_iisreset /query" says of the web servers a batch would stop.
enum class WebServers {
    Running,      // one is running: the batch can stop it
    NoneRunning,  // none (no systemd, or none of the known units is running)
    Unknown,      // cannot tell (the program is missing, or too old to answer)
};

struct CompactionContext {
    DesktopContext desktop;
    RunAndWait runAndWait;             // starts a program and waits for it
    std::filesystem::path backupRoot;  // root of the backup area
    std::function<std::time_t()> now;  // the clock of the run directory's name
    batch::CompactFn compact;  // our engine, CompactDatabaseFile
    std::function<void(ReplaceStep)> checkpoint;  // per-file progress hook (tests)
    // How long each statement of the batch waits for another program's lock on the store
    // before it is retried (tests shorten it).
    int storeBusyTimeoutMs = kStoreBusyTimeoutMs;
    // Whether a web server can be stopped for a batch. Unset: not asked.
    std::function<WebServers()> webServerStoppable;
    // Records why a file was not compacted (the site path and the full reason).
    std::function<void(const std::string& path, const std::string& reason)> logFailure;
};

// The context of the real program.
CompactionContext MakeProgramCompactionContext();

void OnCompactSelected(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                       MainView& view);
void OnCompactAll(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                  MainView& view);
void OnStopCompact(const CompactionContext& ctx, CompactionState& cs, MainView& view);

// Withdraws a request and stops a running batch at its next file (the stop command, the
// scan command and the closing window). When the request had not been taken up by a
// batch yet, the web server that its command stopped is started again and the "started"
// notice is closed.
CancelOutcome CancelCompaction(const CompactionContext& ctx, CompactionState& cs, MainView& view);

// One batch over the queued records (batch::RunBatch, with this window as its
// observer); returns the number of files compacted. A stopped
// batch says in its totals how many files it left out; every batch closes the "started"
// notice before its first box and leaves the progress bar at 0.
unsigned RunCompactionBatch(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                            MainView& view);

// One poll of the supervisor: runs a batch when one is requested. True when it ran one.
bool PollCompactionRequest(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                           MainView& view, const std::string& iniPath);

struct SupervisorParams {
    CompactionContext ctx;
    CompactionState* cs;
    DesktopState* state;
    MainView* view;
    StopSignal* stop;  // ends the loop; the owner then joins the thread
};

// Thread procedure: polls every 3 seconds (the first poll follows at once) until `stop`
// is signalled; a batch under way is ended by CancelCompaction first.
void CompactionSupervisor(ThreadStartBlock<SupervisorParams>* block);

}  // namespace mdb::desktop
