// The signals that ask inkplay to end: a shell's kill, the platform shutting down, a hang-up.
// Passive: the supervisor handles them, and DirectFB is told to leave every one of them to it.
#pragma once

#include <csignal>

constexpr int end_signals[] = {SIGHUP, SIGINT, SIGTERM};
