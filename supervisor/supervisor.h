// Playback supervisor: starts the player, runs the one loop, and turns the player's output and
// the command keys into drawing and slave commands. Active: supervise() drives everything else.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string_view>

// The slave commands, byte for byte; each goes out in one write, without a terminating zero.
constexpr std::string_view CMD_GET_PERCENT_POS = "get_percent_pos\n";
constexpr std::string_view CMD_NEXT = "pt_step 1\n";
constexpr std::string_view CMD_PREVIOUS = "pt_step -1\n";
constexpr std::string_view CMD_FAST = "speed_set 100.0\n";
constexpr std::string_view CMD_NORMAL_SPEED = "speed_set 1.0\n";
constexpr std::string_view CMD_PAUSE = "pause\n";

constexpr std::string_view ANSWER_PERCENT = "ANS_PERCENT_POSITION=";
constexpr std::string_view ANNOUNCE_PLAYING = "Playing ";

constexpr int player_arg_capacity = 2048;  // three fixed entries, 2044 forwarded, the null
constexpr int title_ticks = 5;             // idle seconds a title stays up

struct player_link {
  pid_t pid;
  int command_fd;  // the player's standard input
  int answer_fd;   // the player's standard output
};

struct playback_state {
  int32_t title_countdown;  // idle ticks left before the title is taken away
  int32_t paused;
  int32_t fast_forward;
};
extern playback_state playback;

// The loop's children, and what the signal handlers tell it.
struct child_watch {
  pid_t power_tool;                     // the power tool's call still outstanding, or 0
  int wake[2];                          // written by the handlers, read by the loop
  volatile sig_atomic_t end_requested;  // one of end_signals came: we are asked to end
  bool power_tool_missing;              // reported to the system log
  bool commands_dropped;                // reported to the system log
};
extern child_watch children;

// Start-up and launch.
void let_go_of_launcher();
void ignore_broken_pipes();
bool make_pipe(int fds[2], bool nonblocking);
void open_exec_check(int fds[2]);
[[noreturn]] void exec_failed(int check_fd);
int exec_error(int check_fd);
void clear_signal_mask();
bool is_player_process(pid_t pid, const struct stat& pid_file);
void interrupt_recorded_player();
int build_player_args(int argc, char** argv, const char* args[player_arg_capacity]);
bool start_player(const char* const args[], player_link& link, int& exec_check);
void report_player_start(int exec_check);
void write_pid_file(pid_t pid);

// The loop and its handlers.
void hold_end_signals();
void watch_signals();
bool take_end_signals();
void kill_player(pid_t pid);
[[noreturn]] void supervise(pid_t pid, int command_fd, int answer_fd);
bool player_ended(pid_t pid);
void send_command(int command_fd, std::string_view command);
bool handle_output(int answer_fd);
void handle_key(pid_t pid, int command_fd, uint32_t key);
