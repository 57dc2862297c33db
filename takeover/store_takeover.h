// Taking over the Windows original's file-info store. The original keeps
// config\FileInfo.dat as an Access database; an administrator who puts our programs
// into its directory finds that file where ours belongs. The first open recognises
// it, copies its rows into a store of ours and keeps the old file beside it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "common/filestore.h"
#include "common/reporter.h"

namespace mdb::takeover {

// The name the original's file is kept under, beside our store (then
// "FileInfo.access-2.mdb", ... when that name is taken): it says what the file is,
// and Access opens it by its suffix.
inline constexpr char kKeptStem[] = "FileInfo.access";
inline constexpr char kKeptSuffix[] = ".mdb";

struct TakeoverResult {
    enum class Kind {
        NotAccess,   // no Access file at the path (ours, none, or not readable at all)
        TakenOver,   // our store now holds its rows; the original was kept as `keptAs`
        Unreadable,  // an Access file whose rows cannot be read: left as it is
        Failed,      // read, but the new store could not be put in place: left as it is
    };
    Kind kind = Kind::NotAccess;
    std::size_t rows = 0;
    std::string keptAs;  // path of the kept original (TakenOver)
    std::string reason;  // why not (Unreadable, Failed)
};

// When the file at `storePath` (UTF-8) is an Access database, writes its `fileinfo` rows
// (ids, states, sizes, reasons and dates kept) into a new store of ours and puts that in
// its place in one rename, after a copy of the original was kept beside it. Another
// program taking over the same file at the same time waits for this one and then finds
// our store. The original is never removed or changed.
TakeoverResult TakeOverAccessStore(const std::string& storePath);

// The user's text for `result` about the store at `storePath`; empty for NotAccess.
std::string DescribeTakeover(const TakeoverResult& result, const std::string& storePath);

// FileInfoDb::Open after an Access store at `path` has been taken over; what the takeover
// did is shown through `reporter`. Null when the store cannot be opened (also when an
// Access store there could not be taken over).
std::unique_ptr<FileInfoDb> OpenStore(const std::string& path, MessageReporter& reporter,
                                      int* errorCode = nullptr);

}  // namespace mdb::takeover
