// The system log: what a user must know (why there are no overlays) and cannot otherwise see,
// standard output being /dev/null once we have detached. Passive: called where a piece is missing.
#pragma once

// One datagram "<28>inkplay[PID]: message" (facility daemon, severity warning) to /dev/log under
// the device root. Without a log socket nothing is sent, and nothing is reported.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
