#include "platform/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/device_paths.h"

namespace {

constexpr int facility_daemon = 3, severity_warning = 4;
constexpr int priority = facility_daemon * 8 + severity_warning;
constexpr size_t message_bytes = 512;

}  // namespace

void report(const char* format, ...) {
  sockaddr_un log = {};
  log.sun_family = AF_UNIX;
  const char* path = device_path(device_file::system_log);
  if (strlen(path) >= sizeof log.sun_path) return;  // a cut path would name another socket
  memcpy(log.sun_path, path, strlen(path));

  char message[message_bytes];
  int head = snprintf(message, sizeof message, "<%d>inkplay[%d]: ", priority, static_cast<int>(getpid()));
  va_list args;
  va_start(args, format);
  vsnprintf(message + head, sizeof message - head, format, args);
  va_end(args);

  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  if (fd < 0) return;
  // A log daemon that is not reading must not hold us.
  ssize_t sent = sendto(fd, message, strlen(message), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&log), sizeof log);
  (void)sent;
  close(fd);
}
