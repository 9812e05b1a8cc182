// A scripted stand-in for the player. It runs where the player would, records what it is given
// and says what the test tells it to. All files live in $INKPLAY_ROOT:
//   player.log      "arg <i> <text>", then "start <pid> <ppid> <us>" once it can be told things,
//                   "cmd <us> <line>" per command, "end <us>" just before it exits on its own
//                   (times in microseconds of the monotonic clock, as the driver stand-in's log)
//   player.say      FIFO (made if missing) of messages, each ended by a NUL: printed on standard output in one
//                   write, unless it is "@close" (close standard output, live on), "@exit
//                   <status>", "@flood <bytes>" (that much output, then "flooded <bytes>" in the log)
//                   or "@deaf" (shrink the command pipe to one page, as on an old kernel, and stop
//                   reading it, as a player stuck on a stream or a device does)
//   player.percent  if present, get_percent_pos is answered with the number it holds
// It ends on "@exit" and by the default action of SIGINT or SIGKILL. As MPlayer does, it plays on
// after end of file on its input.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::string root;

long long now_us() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

void log_line(const std::string& line) {
  int fd = open((root + "/player.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::string text = line + "\n";
  if (write(fd, text.data(), text.size()) < 0) exit(3);
  close(fd);
}

[[noreturn]] void end(int status) {
  log_line("end " + std::to_string(now_us()));
  exit(status);
}

void say(const std::string& text) {
  if (write(1, text.data(), text.size()) < 0) {
  }
}

void on_command(const std::string& line) {
  log_line("cmd " + std::to_string(now_us()) + " " + line);
  if (line != "get_percent_pos") return;
  FILE* f = fopen((root + "/player.percent").c_str(), "r");
  if (!f) return;
  int percent = 0;
  if (fscanf(f, "%d", &percent) == 1) say("ANS_PERCENT_POSITION=" + std::to_string(percent) + "\n");
  fclose(f);
}

pollfd fds[2];  // the commands, the messages

void on_message(const std::string& text) {
  if (text == "@deaf") {
    fcntl(0, F_SETPIPE_SZ, 4096);
    fds[0].fd = -1;
  } else if (text == "@close") {
    close(1);
  } else if (text.rfind("@exit", 0) == 0) {
    end(atoi(text.c_str() + 5));
  } else if (text.rfind("@flood", 0) == 0) {
    // Noise, position answers at chunk starts and in the middle, and announcements.
    std::string block;
    for (int i = 0; block.size() < 60000; ++i)
      block += i % 7 ? "A: 12.3 V: 12.4 A-V: 0.001 ct: 0.000 noise line\n"
                     : "ANS_PERCENT_POSITION=" + std::to_string(i % 150) + "\nPlaying flood.wav.\n";
    for (long left = atol(text.c_str() + 6); left > 0; left -= static_cast<long>(block.size())) say(block);
    log_line("flooded " + text.substr(7));
  } else {
    say(text);
  }
}

// Hands on every whole unit (ended by `separator`) that has arrived.
template <typename handler>
void take(std::string& pending, char separator, handler handle) {
  for (size_t at; (at = pending.find(separator)) != std::string::npos;) {
    std::string unit = pending.substr(0, at);
    pending.erase(0, at + 1);
    handle(unit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* r = getenv("INKPLAY_ROOT");
  root = r ? r : ".";
  // Open before saying we started: whoever reads "start" may write to it at once.
  std::string say_path = root + "/player.say";
  mkfifo(say_path.c_str(), 0600);
  fds[0] = {0, POLLIN, 0};
  fds[1] = {open(say_path.c_str(), O_RDWR | O_CLOEXEC), POLLIN, 0};
  for (int i = 0; i < argc; ++i) log_line("arg " + std::to_string(i) + " " + argv[i]);
  log_line("start " + std::to_string(getpid()) + " " + std::to_string(getppid()) + " " +
           std::to_string(now_us()));

  std::string commands, messages;
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;
    char buf[4096];
    if (fds[0].revents) {
      ssize_t n = read(0, buf, sizeof buf);
      if (n <= 0) fds[0].fd = -1;
      if (n > 0) commands.append(buf, static_cast<size_t>(n));
      take(commands, '\n', on_command);
    }
    if (fds[1].revents) {
      ssize_t n = read(fds[1].fd, buf, sizeof buf);
      if (n > 0) messages.append(buf, static_cast<size_t>(n));
      take(messages, '\0', on_message);
    }
  }
}
