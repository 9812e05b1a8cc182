#include "tools/wav_writer.h"

#include <cmath>
#include <cstdint>
#include <fstream>

bool write_tone_wav(const std::string& path, int seconds, int hertz) {
  const uint32_t rate = 8000, samples = rate * static_cast<uint32_t>(seconds);
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out << "RIFF";
  u32(36 + samples * 2);
  out << "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(rate), u32(rate * 2), u16(2), u16(16);
  out << "data";
  u32(samples * 2);
  for (uint32_t i = 0; i < samples; ++i)
    u16(static_cast<uint16_t>(static_cast<int16_t>(6000 * std::sin(2 * M_PI * hertz * i / rate))));
  return static_cast<bool>(out);
}
