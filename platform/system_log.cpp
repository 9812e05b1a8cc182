#include "platform/system_log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/device_paths.h"

namespace {

constexpr int facility_daemon = 3, severity_warning = 4;
constexpr int priority = facility_daemon * 8 + severity_warning;
constexpr size_t message_bytes = 512;

}  // namespace

// Some log daemons listen on a stream socket: as the C library's own syslog does, a socket of
// the wrong type is followed by a stream connection, where a NUL ends each message.
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

  // A log daemon that is not reading must not hold us: nothing here waits.
  for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
    int fd = socket(AF_UNIX, type, 0);
    if (fd < 0) return;
    fcntl(fd, F_SETFL, O_NONBLOCK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&log), sizeof log) == 0) {
      ssize_t sent = send(fd, message, strlen(message) + (type == SOCK_STREAM), MSG_DONTWAIT | MSG_NOSIGNAL);
      (void)sent;
      close(fd);
      return;
    }
    bool wrong_type = errno == EPROTOTYPE;
    close(fd);
    if (!wrong_type) return;
  }
}
