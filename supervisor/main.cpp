// inkplay: plays media through a player child, with a progress bar and titles on e-ink.
#include <unistd.h>

#include "display/display.h"
#include "supervisor/supervisor.h"

int main(int argc, char** argv) {
  hold_end_signals();
  int detached = daemon(1, 0);
  (void)detached;  // failing to detach leaves us in the foreground, still able to play
  let_go_of_launcher();
  ignore_broken_pipes();
  watch_signals();
  DirectFBInit(&argc, &argv);  // takes DirectFB's own options out of argv
  display_open();
  interrupt_recorded_player();

  const char* args[player_arg_capacity];
  build_player_args(argc, argv, args);
  // Asked to end while starting: no player. The screen is as it was, and exit lets DirectFB
  // clean up.
  if (take_end_signals()) return 0;
  player_link link;
  int exec_check;
  if (!start_player(args, link, exec_check)) return 1;  // no player, nothing to supervise or record
  write_pid_file(link.pid);
  report_player_start(exec_check);
  supervise(link.pid, link.command_fd, link.answer_fd);
}
