#pragma once
// The first bytes of a candidate file and the Jet signature test.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace mdb::scanner {

inline constexpr size_t kHeaderBytes = 64;
inline constexpr size_t kSignatureBytes = 23;

// Reads up to 64 bytes from the start of `path` (an absolute path of 8 to 32768 UTF-16
// units), refused when another process holds the file locked for writing. 1 when at least
// one byte was read; `size` is the file's size when it was read. `error` receives the system
// error number of an open or read that failed (EWOULDBLOCK: held by a writer; ENAMETOOLONG:
// a path too long), 0 otherwise.
int ReadFileHeader(const std::string& path, std::array<std::uint8_t, kHeaderBytes>& buffer,
                   std::uint64_t& size, std::size_t& bytesRead, int* error = nullptr);

// True when the first 23 bytes are the signature of a Jet 3 or a Jet 4 database.
bool IsJetSignature(std::span<const std::uint8_t> header);

}  // namespace mdb::scanner
