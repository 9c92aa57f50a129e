// pace.h: how a session paces its items.
#pragma once

namespace zentrel::console {

// Clock sends one item every pause. Enter takes turns with the client: the
// first item one pause after the accept, each later one a pause after the
// client's next line that is not empty; a bare Enter gets the prompt again.
enum class Pace { Clock, Enter };

} // namespace zentrel::console
