// channel_write.cpp: queued bytes into an SSH channel, never past the window the other side gave.
#include "ssh/channel_write.h"

#include <algorithm>
#include <cstdint>

namespace zentrel::ssh {

bool writeWithinWindow(ssh_channel channel, std::string &out)
{
    while (!out.empty()) {
        const std::size_t window = ssh_channel_window_size(channel);
        if (window == 0)
            return true;
        const std::size_t length = std::min(out.size(), window);
        const int written = ssh_channel_write(channel, out.data(), static_cast<uint32_t>(length));
        if (written == SSH_ERROR)
            return false;
        if (written <= 0)
            return true;
        out.erase(0, static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace zentrel::ssh
