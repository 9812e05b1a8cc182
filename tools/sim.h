// The host simulator: a device root in a temporary folder, the real inkplay and MPlayer in it,
// the panel rendered to PNG after every area update, and the keyboard forwarded.
#pragma once

#include <cstdint>
#include <string>

#include "tools/device_root.h"

// Lays out what the simulator adds to a device root: a page of text on the panel, drawn with
// the display layer itself, and the folders for panel snapshots and generated media.
void prepare_sim_root(const device_root& root);

// The grey a panel nibble shows: 0 white, 15 black. The window and the PNG frames both use it,
// so that a screenshot of the one equals the other.
inline uint8_t panel_grey(int nibble) { return static_cast<uint8_t>(255 - nibble * 17); }

// Converts a 240000-byte framebuffer snapshot (4-bit, 15 black) into a 600x800 grey PNG.
bool panel_to_png(const std::string& raw_path, const std::string& png_path);

// The window (SDL): the panel as the driver shows it, changed only at area updates, at this
// scale; with flash, each updated rectangle shows inverted for a moment first.
bool window_open(double scale, bool flash);
void window_show(const std::string& raw_path, const logged_update& u);
// Sends the keys typed into the window; false once the window was closed (which sends Alt+H).
bool window_keys(void (*send)(uint16_t code, int32_t value));
