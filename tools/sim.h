// The host simulator: a device root in a temporary folder, the real inkplay and MPlayer in it,
// the panel rendered to PNG after every area update, and the keyboard forwarded.
#pragma once

#include <string>

#include "tools/device_root.h"

// Lays out what the simulator adds to a device root: a page of text on the panel, drawn with
// the display layer itself, and the folders for panel snapshots and generated media.
void prepare_sim_root(const device_root& root);

// Converts a 240000-byte framebuffer snapshot (4-bit, 15 black) into a 600x800 grey PNG.
bool panel_to_png(const std::string& raw_path, const std::string& png_path);
