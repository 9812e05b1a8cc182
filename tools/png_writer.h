// Writes 8-bit greyscale (1 channel) or RGB (3 channels) PNG files, for the host tools and tests.
#pragma once

#include <cstdint>
#include <string>

bool write_png(const std::string& path, int width, int height, int channels, const uint8_t* pixels);
