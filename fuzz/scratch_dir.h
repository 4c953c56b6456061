// The process's scratch directory for the files a target reads: made on first
// use under /dev/shm (memory, so an input costs no disk I/O; else $TMPDIR,
// else /tmp) and removed with its files when the process exits.
#ifndef RONDEL_FUZZ_SCRATCH_DIR_H_
#define RONDEL_FUZZ_SCRATCH_DIR_H_

#include <cstddef>
#include <string>

namespace rondel {
namespace fuzz {

// The directory, with its trailing '/'.
const std::string& ScratchDirectory();

// Replaces `file_name` in the directory with the given bytes.
void WriteScratchFile(const std::string& file_name, const void* data,
                      size_t size);
// Removes `file_name` from the directory (absent is fine).
void RemoveScratchFile(const std::string& file_name);

}  // namespace fuzz
}  // namespace rondel

#endif  // RONDEL_FUZZ_SCRATCH_DIR_H_
