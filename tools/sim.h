// The host simulator: a device root in a temporary folder, the real inkplay and MPlayer in it,
// the panel rendered to PNG after every area update, and the keyboard forwarded.
#pragma once

#include <string>
#include <vector>

// Builds the root: a framebuffer showing a page of text, FIFO keyboards, MPlayer linked in as
// the player, a logging power tool, the font. Returns the root's path.
std::string make_sim_root(const std::string& mplayer);
void remove_tree(const std::string& path);

// Converts a 240000-byte framebuffer snapshot (4-bit, 15 black) into a 600x800 grey PNG.
bool panel_to_png(const std::string& raw_path, const std::string& png_path);
