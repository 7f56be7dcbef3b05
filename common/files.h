#pragma once
// The file operations whose system calls differ per platform. Paths are UTF-8 on every platform.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace kuv {

// std::fopen for a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Writes bytes to a fresh file beside path and then puts it in path's place in one step, so a
// reader sees the old file or the new one and a name planted at path (a link, another user's
// file) is replaced, never written through. The fresh file is removed on every failure.
bool ReplaceFileWith(const std::string& path, std::span<const std::uint8_t> bytes,
                     std::string* error);

}  // namespace kuv
