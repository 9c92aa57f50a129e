// channel_write.h: queued bytes into an SSH channel, never past the window the other side gave.
#pragma once
#include <libssh/libssh.h>

#include <string>

namespace zentrel::ssh {

// Writes from the front of `out` what the channel's window takes and erases
// it; the rest waits for the window adjust, which arrives as input. False
// when libssh failed: the connection is gone.
bool writeWithinWindow(ssh_channel channel, std::string &out);

} // namespace zentrel::ssh
