// read_block.h: the size of the blocks in which files are read and copied.
#pragma once
#include <cstddef>

namespace zentrel::platform {

inline constexpr std::size_t ReadBlockSize = 64 * 1024;

} // namespace zentrel::platform
