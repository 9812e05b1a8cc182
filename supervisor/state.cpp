// All state of the supervisor, in one place.
#include "supervisor/supervisor.h"

playback_state playback;
child_watch children = {0, {-1, -1}, 0, false, false};
