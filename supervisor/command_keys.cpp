// Command keys: Alt with Backspace, J, K, L or H drives the player.
#include "display/display.h"
#include "input/input.h"
#include "supervisor/supervisor.h"

namespace {

// A playlist step shows another file at once; the old title must not stay over it.
void step_playlist(int command_fd, std::string_view command) {
  if (playback.title_countdown != 0) restore_screen();
  send_command(command_fd, command);
}

}  // namespace

void handle_key(pid_t pid, int command_fd, uint32_t key) {
  draw_progress();
  if (!(key & FLAG_ALT)) return;
  switch (key & 0xFF) {
    case '\b': step_playlist(command_fd, CMD_PREVIOUS); break;
    case 'j': step_playlist(command_fd, CMD_NEXT); break;
    case 'h': kill_player(pid); break;
    case 'k':
      send_command(command_fd, playback.fast_forward ? CMD_NORMAL_SPEED : CMD_FAST);
      playback.fast_forward = !playback.fast_forward;
      break;
    case 'l':
      send_command(command_fd, CMD_PAUSE);
      playback.paused = !playback.paused;
      break;
    default: break;
  }
}
