// Compaction of one database file by Windows' own Jet engine: JRO's JetEngine, reached
// through COM (late-bound, by its ProgID) with the Jet 4.0 OLE DB provider. Built only
// for Windows; compaction_engine.h chooses between it and our engine.
#pragma once

#include <string>

namespace mdb::batch {

// The ProgID asked for first; when it is not registered the class id of Microsoft's
// JetEngine is tried, as a server may register the class without its ProgID.
inline constexpr wchar_t kJroProgId[] = L"JRO.JetEngine";

// Same contract as CompactMdbFile: `source` is compacted into the new file
// `destination` (every long-path prefix is removed first, the provider takes plain
// paths); `reason` is emptied on entry and receives "未压缩，原因：..." on failure,
// with the engine's own description, or a plain statement that the provider is not
// registered. 1 compacted, 0 not compacted. Initialises COM for the calling thread
// itself (single-threaded apartment) and leaves it as it found it.
int CompactMdbFileThroughJro(std::u16string source, std::u16string destination, std::string& reason);

}  // namespace mdb::batch
