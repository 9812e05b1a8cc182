// All state of the supervisor, in one place.
#include "supervisor/supervisor.h"

playback_state playback;
