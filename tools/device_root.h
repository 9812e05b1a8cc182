// A simulated device: a folder laid out as the device's file system, inkplay started in it, and
// what the stand-ins there recorded. Passive: the simulator, the benchmarks and the tests drive it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct root_options {
  bool framebuffer = true;  // dev/fb0
  bool patterned = true;    // fill it with pattern_byte() (else white, nibble 0)
  bool event1 = true;       // dev/input/event1
  bool font = true;         // a real TrueType font at the platform font path
  std::string player;       // the program linked at the player path; empty: none
};

// dev/fb0 with the panel's description in sys/class/graphics/fb0 (4 bits a pixel, 600x800,
// 300-byte rows) and the mode DirectFB 1.2 needs for it in etc/fb.modes, FIFOs
// dev/input/event0..2, the player link, a power tool that logs its calls to power.log, the font,
// tmp/ for the pid file, and dev/log, a datagram socket read by system_log(). The destructor ends
// every process started in the root (found by INKPLAY_ROOT in its environment, so never a process
// that merely reuses a pid) and removes the folder.
// The options with the stand-in player at the player path.
root_options with_stand_in(root_options options = {});

struct device_root {
  std::string dir;
  explicit device_root(const root_options& options = {});
  ~device_root();
  device_root(const device_root&) = delete;
  std::string path(const std::string& relative) const { return dir + "/" + relative; }
  std::vector<uint8_t> framebuffer() const;
  std::vector<std::string> system_log() const;  // every message sent to dev/log so far
  void use_stream_log();                         // dev/log becomes a stream socket, as some daemons have
  // dev/fb0 of this many bytes, patterned (pattern_byte) or white (nibble 0).
  void write_framebuffer(size_t bytes, bool patterned = true) const;
  // The panel as its driver describes it in sysfs: a mode of the width, height and bits given.
  void describe_panel(int width, int height, int bits) const;
  bool quiet(std::chrono::milliseconds timeout) const;  // true once no process runs in the root
  int log_fd = -1;
  bool stream_log = false;
  mutable std::vector<std::pair<int, std::string>> log_connections;  // a stream daemon's
  mutable std::vector<std::string> log_messages;
  static uint8_t pattern_byte(size_t offset) { return static_cast<uint8_t>(offset * 7 + 3); }
};

struct launch_options {
  std::string program;               // default: $INKPLAY_UNDER_TEST, else the inkplay built here
  std::vector<std::string> wrapper;  // run inkplay under this command; default: $INKPLAY_WRAPPER
  std::vector<std::string> env;      // more NAME=value entries
  int output_fd = -1;                // inkplay's standard output and error; -1: root/inkplay.log
};

// Starts a program with only descriptors 0-2 (input from input_fd or /dev/null, output to
// output_fd or /dev/null), the given environment entries added, and a mark that lets the
// guardian end it if this process dies first. Returns its pid, or -1.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
            int output_fd = -1, int input_fd = -1);

// Starts inkplay in the root (DirectFB's dummy system, the update recorder preloaded) and
// returns once the launcher has returned, which daemon() does at once. This process becomes a
// child subreaper, so the detached inkplay is its child again and can be waited for.
bool launch_inkplay(const device_root& root, const std::vector<std::string>& args,
                    const launch_options& options = {});

pid_t parent_of(pid_t pid);  // -1 when gone
bool has_ended(pid_t pid);   // gone, or a zombie

// The root's pid file, if it is a regular file (else empty).
std::string read_pid_file(const device_root& root);

// The player named by the root's pid file (once it differs from `previous`) and its parent,
// the inkplay that started it.
struct player_process {
  pid_t player = -1, daemon = -1;
};
player_process find_player(const device_root& root, const std::string& previous,
                           std::chrono::milliseconds timeout);

// Screen coordinates of an area update, as the driver stand-in logged it.
struct logged_update {
  double time;
  int x1, y1, x2, y2;
};
// One detached inkplay in a root, found through the player it started, with the device's
// keyboards open for writing. With the stand-in player (tools/stand_in_player.cpp) at the player
// path, it also tells the player what to say and reads what the player was told.
struct inkplay_run {
  const device_root& root;
  bool stand_in = true;  // else (MPlayer) found through the pid file alone
  pid_t daemon_pid = -1, player_pid = -1;
  int event_fd[3] = {-1, -1, -1};

  explicit inkplay_run(const device_root& r) : root(r) {}
  ~inkplay_run();
  inkplay_run(const inkplay_run&) = delete;
  // True once the player runs and, for the stand-in, can be told things.
  bool start(const std::vector<std::string>& args = {}, const launch_options& options = {},
             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(5));  // wait status, or -1

  bool key(uint16_t code, int32_t value, int device = 0);
  void tap(uint16_t code, int device = 0) { key(code, 1, device), key(code, 0, device); }
  void alt(uint16_t code, int device = 0) { key(KEY_ALT, 1, device), tap(code, device), key(KEY_ALT, 0, device); }
  bool say(const std::string& text);  // the stand-in prints this in one write

  // The stand-in's log lines that start with this word, the word taken off.
  std::vector<std::string> logged(const std::string& word) const;
  std::vector<std::string> commands() const;  // without the position queries
  size_t queries() const;
  std::vector<logged_update> updates() const;
  std::vector<std::string> power_calls() const;
  std::vector<std::string> driver_log() const;  // the framebuffer's requests, "<pid> <request>"

  static constexpr uint16_t KEY_ALT = 56;  // KEY_LEFTALT
};

// Checks every few milliseconds until the condition holds (true) or the time-out passes (false).
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// SIGKILLs every process whose environment holds this NAME=value entry, until none is left
// (at most two seconds), and reaps those that are children of this process.
void end_processes_with(const std::string& entry);

// One native input_event record in one write; false when it could not be written whole.
bool write_key_record(int fd, uint16_t code, int32_t value, uint16_t type = 1);

std::vector<logged_update> read_updates(const std::string& log_path);

// The nibble of pixel (x, y) in a framebuffer image (screen coordinates; 15 is black).
int fb_nibble(const uint8_t* fb, int x, int y);

std::string read_file(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);
void write_file(const std::string& path, const std::string& text, unsigned mode = 0644);
