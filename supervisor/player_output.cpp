// What the player prints: position answers move the bar, "Playing " lines show a title.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "supervisor/supervisor.h"

namespace {

constexpr size_t chunk_bytes = 8192;

}  // namespace

// False once the player has closed its output for good.
bool handle_output(int answer_fd) {
  char chunk[chunk_bytes];
  ssize_t n = read(answer_fd, chunk, sizeof chunk - 1);
  bool still_open = n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN));
  size_t length = n > 0 ? static_cast<size_t>(n) : 0;
  chunk[length] = '\0';
  char* end = chunk + length;

  char* search_from = chunk;
  if (length >= ANSWER_PERCENT.size() &&
      memcmp(chunk, ANSWER_PERCENT.data(), ANSWER_PERCENT.size()) == 0) {
    search_from = chunk + ANSWER_PERCENT.size();
    unsigned long percent = strtoul(search_from, nullptr, 10);
    last_percent = percent > 100 ? 100 : static_cast<uint32_t>(percent);  // the bar's full width
    draw_progress();
  }
  auto* playing = static_cast<char*>(
      memmem(search_from, end - search_from, ANNOUNCE_PLAYING.data(), ANNOUNCE_PLAYING.size()));
  if (!playing) return still_open;
  // The copy that takes the title away again: the screen as it is now, bar included. Taken only
  // when a title comes and none is up; a copy taken for every chunk in between would be
  // replaced before anything could restore it.
  if (playback.title_countdown == 0) save_screen(saved_screen);
  char* title = playing + ANNOUNCE_PLAYING.size();
  // The line ends in the file name's closing full stop and a newline. A line cut off by the
  // end of the chunk shows what arrived of it.
  auto* newline = static_cast<char*>(memchr(title, '\n', end - title));
  if (newline) *(newline > title ? newline - 1 : newline) = '\0';
  show_title(title);
  playback.title_countdown = title_ticks;
  return still_open;
}
