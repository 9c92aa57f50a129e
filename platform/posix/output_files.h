// output_files.h: opening the files our programs write their output to, never through a planted link.
#pragma once
#include <string>
#include <string_view>

namespace zentrel::platform {

// Each returns a descriptor opened for writing (close-on-exec), or -1 with
// `error` set to "PATH: why" for stderr. None follows a symbolic link at
// PATH to a regular file: someone who can write the folder could otherwise
// point the name at any file this user may write and have it emptied.

// PATH created, or emptied when it is a regular file already; a character
// device (/dev/null) is written as it is. A symbolic link there, dangling or
// not, is refused, and so is anything else (a FIFO would block the writer).
int createOutputFile(const std::string &path, std::string &error);

// A fresh, empty file beside `target` (same folder, a name mkstemp picks,
// created by this very call), made readable as createOutputFile's files
// are; its name in `staging`. For a file that is then renamed over `target`.
int createBeside(const std::string &target, std::string &staging, std::string &error);

// A stream of lines: PATH as createOutputFile opens it, or a FIFO or a
// character device (a terminal, /dev/null). A symbolic link is taken only
// when it leads to one of those, as /dev/stdout and a shell's /dev/fd/N do;
// nothing is created or emptied through it. A FIFO with no reader yet is
// waited for, as open(2) does.
int openOutputStream(const std::string &path, std::string &error);

// Writes all of the bytes, retrying short writes and interruptions; false
// (errno set) when the descriptor refuses them.
bool writeAll(int fd, std::string_view bytes);

} // namespace zentrel::platform
