// Writes short test tones as WAV files, for the simulator's demo and the end-to-end tests.
#pragma once

#include <string>

// A mono 16-bit 8 kHz tone of the given length and pitch.
bool write_tone_wav(const std::string& path, int seconds, int hertz);
