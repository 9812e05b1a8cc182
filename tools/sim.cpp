// inkplay-sim: runs the real inkplay and MPlayer on a simulated device and shows the panel.
//
//   inkplay-sim [--out DIR] [--window | --no-window] [--flash] [--scale F] [--player PROGRAM]
//               [--device] [MPlayer arguments and files]
//
// With no files it plays a demo: three generated clips, a step to the next one, a pause, then
// Alt+H. Every area update becomes a PNG of the whole panel in DIR/panels, and DIR/log.txt
// lists the updates, the keys sent and the power tool's calls. Where there is a display, a
// window shows the panel as it changes (--no-window: none; --flash: each updated rectangle
// inverted for a moment first, as the panel does; --scale: its size), and keys typed there go to
// the device's first keyboard, Alt as Alt; closing it sends Alt+H. In a terminal, keys typed are
// sent too; Esc-prefixed keys (what a terminal sends for Alt+key) are sent with Alt held. Ctrl-C
// sends Alt+H. --player puts another program than MPlayer at the player path. --device runs the
// device's build instead (build-device/inkplay, armel) on the device's DirectFB 1.2.1 under
// qemu-arm, with its fbdev system over the simulated framebuffer (scripts/device-sim.sh builds
// what it needs).
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim.h"
#include "tools/wav_writer.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct simulator {
  device_root* root = nullptr;
  std::string out;
  inkplay_run* run = nullptr;
  int frames = 0;
  std::vector<logged_update> updates;
  FILE* log = nullptr;
  clock_type::time_point start = clock_type::now();

  double seconds() const { return std::chrono::duration<double>(clock_type::now() - start).count(); }
};

simulator sim;

void note(const std::string& text) {
  fprintf(sim.log, "%7.3f %s\n", sim.seconds(), text.c_str());
  fflush(sim.log);
}

void send_record(uint16_t code, int32_t value) {
  if (!sim.run->key(code, value)) perror("keyboard");
}

void send_window_record(uint16_t code, int32_t value) {
  send_record(code, value);
  note("window key " + std::to_string(code) + " " + std::to_string(value));
}

void send_key(uint16_t code, bool alt, const std::string& name) {
  if (alt) send_record(KEY_LEFTALT, 1);
  send_record(code, 1);
  send_record(code, 0);
  if (alt) send_record(KEY_LEFTALT, 0);
  note(std::string("key ") + (alt ? "Alt+" : "") + name);
}

// Converts every panel snapshot the driver stand-in saved since the last call.
void collect_frames() {
  std::vector<logged_update> all = read_updates(sim.root->path("updates.log"));
  for (;;) {
    char name[64];
    snprintf(name, sizeof name, "/panel-%05d", sim.frames + 1);
    std::string raw = sim.root->path("panels") + name + ".raw";
    if (access(raw.c_str(), R_OK) != 0 || static_cast<size_t>(sim.frames) >= all.size()) return;
    const logged_update& u = all[sim.frames];
    panel_to_png(raw, sim.out + "/panels" + name + ".png");
    window_show(raw, u);
    unlink(raw.c_str());
    sim.updates.push_back(u);
    ++sim.frames;
    note("update " + std::to_string(u.x1) + "," + std::to_string(u.y1) + " - " + std::to_string(u.x2) +
         "," + std::to_string(u.y2) + "  panels" + name + ".png");
  }
}

void keep_frame(const std::string& name) {
  if (sim.frames == 0) return;
  char last[64];
  snprintf(last, sizeof last, "/panels/panel-%05d.png", sim.frames);
  std::ifstream src(sim.out + last, std::ios::binary);
  std::ofstream(sim.out + "/" + name, std::ios::binary) << src.rdbuf();
  note("kept " + name + " (" + std::string(last + 1) + ")");
}

// Index of the first update at or after `from` that matches.
int find_update(size_t from, bool (*match)(const logged_update&)) {
  for (size_t i = from; i < sim.updates.size(); ++i)
    if (match(sim.updates[i])) return static_cast<int>(i);
  return -1;
}
bool is_title(const logged_update& u) { return u.y1 == 773; }
bool is_full(const logged_update& u) { return u.x1 == 0 && u.y1 == 40 && u.x2 == 599 && u.y2 == 799; }

// The demo, one step at a time; each waits for what the panel must show before going on.
struct demo_script {
  int step = 0;
  size_t mark = 0;
  double since = 0;
  bool failed = false;

  void advance(size_t new_mark) {
    ++step;
    mark = new_mark;
    since = sim.seconds();
  }
  void run() {
    double waited = sim.seconds() - since;
    int found;
    switch (step) {
      case 0:  // the first clip's title
        if ((found = find_update(mark, is_title)) >= 0) keep_frame("1-title-shown.png"), advance(found + 1);
        break;
      case 1:  // taken away on the fifth quiet second
        if ((found = find_update(mark, is_full)) >= 0) keep_frame("2-title-gone.png"), advance(found + 1);
        break;
      case 2:
        if (waited > 1.5) keep_frame("3-bar-advancing.png"), send_key(KEY_J, true, "J"), advance(sim.updates.size());
        break;
      case 3:  // the next clip announces itself
        if ((found = find_update(mark, is_title)) >= 0)
          keep_frame("4-next-clip.png"), send_key(KEY_L, true, "L (pause)"), advance(found + 1);
        break;
      case 4:
        if (waited > 2.5) keep_frame("5-paused.png"), send_key(KEY_L, true, "L (resume)"), advance(sim.updates.size());
        break;
      case 5:
        if (waited > 2.0) send_key(KEY_H, true, "H (stop)"), advance(sim.updates.size());
        break;
      default: return;
    }
    if (step < 6 && sim.seconds() - since > 15) {
      note("demo: step " + std::to_string(step) + " timed out");
      failed = true;
      send_key(KEY_H, true, "H (stop)");
      step = 6;
    }
  }
};

// Terminal keys to Linux key codes.
uint16_t code_of(int c) {
  static const char* rows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static const uint16_t first[] = {KEY_1, KEY_Q, KEY_A, KEY_Z};
  for (int r = 0; r < 4; ++r)
    if (const char* p = strchr(rows[r], c); p && c) return static_cast<uint16_t>(first[r] + (p - rows[r]));
  switch (c) {
    case ' ': return KEY_SPACE;
    case '\r': case '\n': return KEY_ENTER;
    case 0x7F: case 0x08: return KEY_BACKSPACE;
    case '.': return KEY_DOT;
    default: return 0;
  }
}

termios saved_terminal;
bool terminal_raw = false;
void restore_terminal() {
  if (terminal_raw) tcsetattr(0, TCSANOW, &saved_terminal);
}

void forward_terminal_keys() {
  unsigned char buf[64];
  ssize_t n = read(0, buf, sizeof buf);
  for (ssize_t i = 0; i < n; ++i) {
    int c = buf[i];
    if (c == 0x03) {
      send_key(KEY_H, true, "H (Ctrl-C)");
    } else if (c == 0x1B && i + 2 < n && buf[i + 1] == '[') {  // arrows
      static const uint16_t arrows[] = {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT};
      if (buf[i + 2] >= 'A' && buf[i + 2] <= 'D') send_key(arrows[buf[i + 2] - 'A'], false, "arrow");
      i += 2;
    } else if (c == 0x1B && i + 1 < n) {
      if (uint16_t code = code_of(buf[i + 1])) send_key(code, true, std::string(1, static_cast<char>(buf[i + 1])));
      ++i;
    } else if (uint16_t code = code_of(c)) {
      send_key(code, false, c >= ' ' && c < 0x7F ? std::string(1, static_cast<char>(c)) : "control");
    }
  }
}

// The device's build under qemu-arm: its binary, DirectFB 1.2.1 in the armel sysroot, and the
// panel driver's stand-in built for armel. False when something is missing.
bool use_device_build(launch_options& launch) {
  std::string dir = DEVICE_BUILD_DIR;
  for (const char* needed : {"/inkplay", "/sysroot/usr/lib/libdirectfb-1.2.so.0", "/tools/libpanel_driver.so"})
    if (access((dir + needed).c_str(), R_OK) != 0) {
      fprintf(stderr, "inkplay-sim: no %s%s: run scripts/device-sim.sh\n", dir.c_str(), needed);
      return false;
    }
  launch.program = dir + "/inkplay";
  launch.wrapper = {"qemu-arm", "-L", dir + "/sysroot"};
  setenv("DFBARGS", "system=fbdev", 1);
  setenv("INKPLAY_PANEL_DRIVER", (dir + "/tools/libpanel_driver.so").c_str(), 1);
  setenv("INKPLAY_DFB12_DIR", "/usr/lib", 1);  // the sysroot's, as qemu-arm -L shows it
  setenv("INKPLAY_KEY_RECORD", "16", 1);        // the 32-bit device's key records
  note("the device's build, " + launch.program + ", on DirectFB 1.2.1 under qemu-arm");
  return true;
}

std::string find_mplayer() {
  const char* path = getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (access((dir + "/mplayer").c_str(), X_OK) == 0) return dir + "/mplayer";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  std::string out_dir, player;
  const char* display = getenv("DISPLAY");
  bool window = display && *display, flash = false, device = false;
  double scale = 1;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--out") && i + 1 < argc) out_dir = argv[++i];
    else if (!strcmp(argv[i], "--player") && i + 1 < argc) player = argv[++i];
    else if (!strcmp(argv[i], "--scale") && i + 1 < argc) scale = atof(argv[++i]);
    else if (!strcmp(argv[i], "--window")) window = true;
    else if (!strcmp(argv[i], "--no-window")) window = false;
    else if (!strcmp(argv[i], "--flash")) flash = true;
    else if (!strcmp(argv[i], "--device")) device = true;
    else args.push_back(argv[i]);
  }
  bool demo = args.empty();
  std::string mplayer = player.empty() ? find_mplayer() : player;
  if (mplayer.empty()) {
    fprintf(stderr, "inkplay-sim: mplayer not found (apt-get install mplayer)\n");
    return 2;
  }
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return 2;
  sim.out = out_dir.empty() ? std::string(cwd) + (demo ? "/demo-out" : "/inkplay-sim-out") : out_dir;
  if (sim.out[0] != '/') sim.out = std::string(cwd) + "/" + sim.out;
  std::string clean = "rm -rf '" + sim.out + "/panels'";
  if (system(clean.c_str()) != 0) return 2;
  mkdir(sim.out.c_str(), 0755);
  mkdir((sim.out + "/panels").c_str(), 0755);
  sim.log = fopen((sim.out + "/log.txt").c_str(), "w");
  root_options options;
  options.patterned = false;
  options.player = mplayer;  // a link, so that the player named in the pid file is recognised
  device_root root(options);
  sim.root = &root;
  prepare_sim_root(root);
  note("device root " + root.dir);

  bool has_audio_option = false;
  for (const std::string& a : args) has_audio_option |= a == "-ao";
  if (demo) {
    write_tone_wav(root.path("media/Morning.wav"), 10, 440);
    write_tone_wav(root.path("media/Second song.wav"), 10, 660);
    write_tone_wav(root.path("media/Evening.wav"), 5, 550);
    if (chdir(root.path("media").c_str()) != 0) return 2;
    args = {"Morning.wav", "Second song.wav", "Evening.wav"};
  }
  if ((demo || access("/dev/snd", F_OK) != 0) && !has_audio_option)
    args.insert(args.begin(), {"-ao", "null"});  // no sound device here: play silently

  if (window && !window_open(scale, flash)) {
    fprintf(stderr, "inkplay-sim: no window; the panel pictures are in %s/panels\n", sim.out.c_str());
    window = false;
  }
  launch_options launch;
  launch.env = {"INKPLAY_PANEL_DIR=" + root.path("panels")};
  if (device && !use_device_build(launch)) return 2;
  inkplay_run run(root);
  run.stand_in = false;
  sim.run = &run;
  run.start(args, launch, std::chrono::seconds(device ? 30 : 5));
  note("inkplay running as pid " + std::to_string(run.daemon_pid));

  bool interactive = !demo && isatty(0);
  if (interactive && tcgetattr(0, &saved_terminal) == 0) {
    termios raw = saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    terminal_raw = tcsetattr(0, TCSANOW, &raw) == 0;
    atexit(restore_terminal);
    fprintf(stderr, "inkplay-sim: panel pictures in %s/panels. Alt+J next, Alt+Backspace previous, "
                    "Alt+L pause, Alt+K fast, Alt+H or Ctrl-C stop.\n", sim.out.c_str());
  }

  demo_script script;
  int status = -1;
  for (bool running = run.daemon_pid > 0; running;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    collect_frames();
    if (demo) script.run();
    if (interactive) forward_terminal_keys();
    if (window) window = window_keys(send_window_record);
    for (pid_t ended; (ended = waitpid(-1, &status, WNOHANG)) > 0;)
      if (ended == run.daemon_pid) running = false;
    if (!running) break;
    if (kill(run.daemon_pid, 0) != 0) running = false;
  }
  restore_terminal();
  collect_frames();
  bool clean_exit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  note(std::string("inkplay ended, ") + (clean_exit ? "status 0" : "status " + std::to_string(status)));
  note("power tool ran " + std::to_string(read_lines(root.path("power.log")).size()) + " times");
  fclose(sim.log);
  printf("inkplay-sim: %d panel updates, pictures and log in %s\n", sim.frames, sim.out.c_str());
  return clean_exit && !script.failed ? 0 : 1;
}
