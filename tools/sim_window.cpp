// The simulator's window: the panel in its 16 greys as the e-ink driver would show it, changed
// only at area updates, and the keys typed into it sent to the device's first keyboard.
#include <SDL2/SDL.h>
#include <linux/input.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "display/display.h"
#include "tools/device_root.h"
#include "tools/sim.h"

namespace {

constexpr Uint32 flash_ms = 150;  // how long an updated rectangle shows inverted

struct window_state {
  SDL_Window* window;
  double scale;
  bool flash;
  std::string panel;  // the framebuffer as last shown, 240000 bytes
};
window_state win;

// SDL's scancodes (key positions) to the Linux codes the device's keyboard sends for the same
// positions; Alt and Shift as themselves.
uint16_t linux_code(SDL_Scancode s) {
  static constexpr const char* rows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static constexpr uint16_t first[] = {KEY_1, KEY_Q, KEY_A, KEY_Z};
  char c = s >= SDL_SCANCODE_A && s <= SDL_SCANCODE_Z ? static_cast<char>('a' + (s - SDL_SCANCODE_A))
           : s >= SDL_SCANCODE_1 && s <= SDL_SCANCODE_0 ? "1234567890"[s - SDL_SCANCODE_1] : 0;
  for (int r = 0; r < 4 && c; ++r)
    if (const char* p = strchr(rows[r], c)) return static_cast<uint16_t>(first[r] + (p - rows[r]));
  switch (s) {
    case SDL_SCANCODE_LALT: case SDL_SCANCODE_RALT: return KEY_LEFTALT;
    case SDL_SCANCODE_LSHIFT: case SDL_SCANCODE_RSHIFT: return KEY_LEFTSHIFT;
    case SDL_SCANCODE_BACKSPACE: return KEY_BACKSPACE;
    case SDL_SCANCODE_RETURN: return KEY_ENTER;
    case SDL_SCANCODE_SPACE: return KEY_SPACE;
    case SDL_SCANCODE_PERIOD: return KEY_DOT;
    case SDL_SCANCODE_UP: return KEY_UP;
    case SDL_SCANCODE_DOWN: return KEY_DOWN;
    case SDL_SCANCODE_LEFT: return KEY_LEFT;
    case SDL_SCANCODE_RIGHT: return KEY_RIGHT;
    default: return 0;
  }
}

// Each window pixel shows the panel pixel it falls in (nearest, no smoothing), nibble 0 white,
// 15 black; pixels inside `inverted` show the opposite grey.
void paint(const SDL_Rect* inverted) {
  SDL_Surface* s = SDL_GetWindowSurface(win.window);
  if (!s || SDL_LockSurface(s) != 0) return;
  Uint32 grey[16];
  for (int n = 0; n < 16; ++n) grey[n] = SDL_MapRGB(s->format, panel_grey(n), panel_grey(n), panel_grey(n));
  const auto* fb = reinterpret_cast<const uint8_t*>(win.panel.data());
  for (int y = 0; y < s->h; ++y) {
    int py = std::min(screen_height - 1, static_cast<int>(y / win.scale));
    auto* row = reinterpret_cast<uint8_t*>(s->pixels) + y * s->pitch;
    for (int x = 0; x < s->w; ++x) {
      int px = std::min(screen_width - 1, static_cast<int>(x / win.scale));
      int n = fb_nibble(fb, px, py);
      if (inverted && px >= inverted->x && px < inverted->x + inverted->w && py >= inverted->y &&
          py < inverted->y + inverted->h)
        n = 15 - n;
      memcpy(row + x * s->format->BytesPerPixel, &grey[n], s->format->BytesPerPixel);
    }
  }
  SDL_UnlockSurface(s);
  SDL_UpdateWindowSurface(win.window);
}

}  // namespace

bool window_open(double scale, bool flash) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return fprintf(stderr, "inkplay-sim: %s\n", SDL_GetError()), false;
  win.scale = scale > 0 ? scale : 1;
  win.flash = flash;
  win.panel.assign(fb_map_bytes, '\0');
  win.window = SDL_CreateWindow("inkplay-sim", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                static_cast<int>(std::lround(screen_width * win.scale)),
                                static_cast<int>(std::lround(screen_height * win.scale)), 0);
  if (!win.window) return fprintf(stderr, "inkplay-sim: %s\n", SDL_GetError()), false;
  paint(nullptr);
  return true;
}

// The panel at an area update: with --flash, the rectangle inverted first, as the panel does.
void window_show(const std::string& raw_path, const logged_update& u) {
  if (!win.window) return;
  std::string raw = read_file(raw_path);
  if (raw.size() != static_cast<size_t>(fb_map_bytes)) return;
  if (win.flash) {
    SDL_Rect rect = {u.x1, u.y1, u.x2 - u.x1 + 1, u.y2 - u.y1 + 1};
    paint(&rect);
    SDL_Delay(flash_ms);
  }
  win.panel = raw;
  paint(nullptr);
}

// Keys typed into the window go to the first keyboard: press 1, autorepeat 2, release 0.
// Closing the window is Alt+H. False once the window has been closed.
bool window_keys(void (*send)(uint16_t code, int32_t value)) {
  if (!win.window) return true;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) {
      send(KEY_LEFTALT, 1), send(KEY_H, 1), send(KEY_H, 0), send(KEY_LEFTALT, 0);
      SDL_DestroyWindow(win.window);
      win.window = nullptr;
      return false;
    }
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) paint(nullptr);
    if (e.type != SDL_KEYDOWN && e.type != SDL_KEYUP) continue;
    if (uint16_t code = linux_code(e.key.keysym.scancode))
      send(code, e.type == SDL_KEYUP ? 0 : e.key.repeat ? 2 : 1);
  }
  return true;
}
