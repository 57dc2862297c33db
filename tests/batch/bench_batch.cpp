// Benchmark of a whole compaction batch over a site of many databases, against what
// the procedure cannot avoid: copying every file three times (backup, working copy,
// putting the compacted file back), each copy made durable (fsync of the file and of
// its directory, as the batch must to never lose a database), and the engine's own
// compaction of each file.
//
//   bench_batch CORPUS_DIR [FILES]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../desktop/fake_view.h"
#include "../desktop/program_dir.h"
#include "common/settings.h"
#include "batch/compact_mdb_file.h"
#include "batch/compaction_engine.h"
#include "desktop/compaction/compaction_commands.h"
#include "jet/compact/compactor.h"

namespace fs = std::filesystem;
using namespace mdb;
using namespace mdb::desktop;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::vector<fs::path> SampleFiles(const fs::path& corpus) {
    std::vector<fs::path> files;
    for (const char* dir : {"jet3", "jet4"}) {
        for (const auto& e : fs::directory_iterator(corpus / dir))
            if (e.path().extension() == ".mdb") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void MakeSite(const std::vector<fs::path>& samples, int count, const fs::path& site,
              std::vector<fs::path>& placed) {
    fs::remove_all(site);
    placed.clear();
    for (int i = 0; i < count; ++i) {
        const fs::path dir = site / ("site" + std::to_string(i % 20)) / "db";
        fs::create_directories(dir);
        const fs::path& from = samples[i % samples.size()];
        const fs::path to = dir / (std::to_string(i) + "_" + from.filename().string());
        fs::copy_file(from, to);
        placed.push_back(to);
    }
}

void Sync(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_batch CORPUS_DIR [FILES]\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    const int count = argc > 2 ? std::stoi(argv[2]) : 200;
    const auto samples = SampleFiles(corpus);
    if (samples.empty()) return 2;

    testing::ProgramDir prog;
    const fs::path site = prog.Path() / "www";
    std::vector<fs::path> placed;
    MakeSite(samples, count, site, placed);
    std::uintmax_t totalBytes = 0;
    {
        auto db = prog.OpenDb();
        for (int i = 0; i < count; ++i) {
            totalBytes += fs::file_size(placed[i]);
            db->InsertRecord(testing::MakeRecord("k" + std::to_string(i), placed[i].string(),
                                                 fs::file_size(placed[i])));
        }
        db->QueueAll();
    }

    CompactionContext ctx;
    ctx.desktop = prog.Context();
    ctx.runAndWait = [](const std::vector<std::string>&) { return 1; };
    ctx.backupRoot = prog.Path() / "backup";
    ctx.now = [] { return std::time(nullptr); };
    ctx.compact = batch::CompactorFor(batch::CompactionEngine::Jet);
    CompactionState cs;
    cs.compactRunning = 1;
    DesktopState state;
    testing::FakeView view;
    WriteSettingKey(SettingsPathIn(prog.Dir()), kKeyCompactDatabase, "1");

    auto start = Clock::now();
    const unsigned compacted = RunCompactionBatch(ctx, cs, state, view);
    const double batch = Seconds(start);

    // The same files again, for the parts the batch cannot avoid.
    MakeSite(samples, count, site, placed);
    const fs::path copies = prog.Path() / "copies";
    fs::create_directories(copies);
    start = Clock::now();
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k)
            fs::copy_file(placed[i], copies / (std::to_string(i) + "_" + std::to_string(k)),
                          fs::copy_options::overwrite_existing);
    }
    const double copy3 = Seconds(start);
    start = Clock::now();
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) {
            const fs::path to = copies / (std::to_string(i) + "_" + std::to_string(k));
            fs::copy_file(placed[i], to, fs::copy_options::overwrite_existing);
            Sync(to);
            Sync(copies);
        }
    }
    const double copy3Synced = Seconds(start);

    const fs::path engineOut = prog.Path() / "engine";
    fs::create_directories(engineOut);
    start = Clock::now();
    for (int i = 0; i < count; ++i) jet::Compact(placed[i], engineOut / std::to_string(i));
    const double engine = Seconds(start);

    const double overhead = batch - copy3Synced - engine;
    std::printf("files: %d (%.1f MB), compacted: %u\n", count, totalBytes / 1e6, compacted);
    std::printf("whole batch:            %8.3f s\n", batch);
    std::printf("copy every file 3 times: %7.3f s (%.3f s with fsync of file and directory)\n",
                copy3, copy3Synced);
    std::printf("engine alone:            %7.3f s\n", engine);
    std::printf("batch overhead:          %7.3f s (%.1f%% of the batch; goal under 10%%)\n",
                overhead, 100.0 * overhead / batch);
    return compacted == static_cast<unsigned>(count) ? 0 : 1;
}
