#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

#include "Model/LoadedDocument.hpp"
#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Turns a file, or bytes already in memory, into a LoadedDocument. Never
// throws: every failure ends up in `LoadedDocument::failure`. Holds no state;
// callable from any thread.
namespace DocumentLoader {

// Reads the file at `path` through one descriptor (FileReader): the bytes are
// hashed, checked as UTF-8 and their line breaks counted chunk by chunk as
// they arrive, straight into the buffer that becomes the text. A file over
// 20 MiB is never held whole: it streams through the digest and only its
// first 1 MiB is kept, for the preview. A FIFO, socket or device is not read
// (readError "load.error.not_regular_file"); a folder gives isDirectory. The
// disk version comes from fstat of the descriptor that was read. Then, the
// first time in this process that a load meets the folder of the file (after
// symbolic links), removes the temporary files that killed writes left there
// (removeStaleTemporaryFilesIn), which lists the folder: call it off the main
// thread, as every load.
LoadedDocument load(const std::filesystem::path& path, const SysCalls& sys = realSysCalls());

// How many folders loads have listed for leftover temporary files in this
// process.
std::size_t folderScanCount();

// Decodes bytes that are already in memory; no disk version. (Takes the
// bytes, not a path: pass a std::filesystem::path to read a file.)
LoadedDocument load(std::string data);

// The failure for an error of reading: EPERM and EACCES → permissionDenied,
// ENOENT → notFound, EISDIR → isDirectory; anything else readError with the
// system's text for it.
DocumentLoadFailure classify(std::error_code error);

}  // namespace DocumentLoader

}  // namespace larkspin
