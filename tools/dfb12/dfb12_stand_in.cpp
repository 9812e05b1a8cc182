// A stand-in for the device's DirectFB 1.2 library (libdirectfb-1.2.so.0), for tests: it hands
// out interface records in 1.2's layout, declared here independently of the program's own
// declaration, whose methods forward to Debian's DirectFB 1.7 (loaded at run time), so that the
// pixels stay real. Every slot the program is not expected to call fails loudly. If
// INKPLAY_DFB12_LOG names a file, each slot gets one line there at its first call: "Surface 21",
// and each option given one line: "Option disable-module=keyboard".
// What 1.2.1 itself does at DirectFBCreate on the device, and 1.7 on the dummy system does not,
// it does too, with the framebuffer dev/fb0 under INKPLAY_ROOT: it asks the driver for the mode;
// on a 4-bit panel it fails with DFB_INIT unless /etc/fb.modes offers a 600x800 mode it knows,
// which it tests; it paints the whole framebuffer; it catches SIGHUP, SIGINT and SIGTERM
// unless the option dont-catch names them, and ends the process by the signal. The real 1.2.1
// checks this model in the emulated suite.
#include <directfb.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

extern "C" {
const unsigned int directfb_major_version = 1, directfb_minor_version = 2, directfb_micro_version = 1;
}

namespace {

enum interface_kind { dfb, surface, font, provider };
const char* const kind_name[] = {"IDirectFB", "Surface", "Font", "ImageProvider"};

// Slot 0 (priv in 1.2) holds the 1.7 object it stands for; slot n is n pointers in.
struct record {
  void* slot[64];
};

// Without 1.7 (a target without DirectFB) every call fails, as a library without a usable
// system would: the program then plays without overlays.
template <typename fn>
fn real_function(const char* name) {
  static void* library = dlopen("libdirectfb-1.7.so.7", RTLD_NOW | RTLD_GLOBAL);
  return library ? reinterpret_cast<fn>(dlsym(library, name)) : nullptr;
}

void log_line(const char* format, const char* a, const char* b) {
  const char* log = getenv("INKPLAY_DFB12_LOG");
  if (!log) return;
  if (FILE* f = fopen(log, "a")) fprintf(f, format, a, b), fclose(f);
}

void note(interface_kind kind, int slot) {
  static bool seen[4][64];
  if (seen[kind][slot]) return;
  seen[kind][slot] = true;
  log_line("%s %s\n", kind_name[kind], std::to_string(slot).c_str());
}

// 1.2's results are plain numbers; 1.7's are not.
constexpr int dfb12_init = 2;

std::string under_root(const char* path) {
  const char* root = getenv("INKPLAY_ROOT");
  return std::string(root ? root : "") + path;
}

// The depth of a 600x800 mode of 8 bits or more in /etc/fb.modes (the driver stand-in gives the
// root's), or 0. As 1.2.1 reads the file, a mode counts only with both its geometry and timings.
unsigned fb_modes_depth() {
  FILE* modes = fopen("/etc/fb.modes", "r");
  char line[80];
  unsigned depth = 0, bits = 0;
  bool geometry = false, timings = false;
  while (modes && !depth && fgets(line, sizeof line, modes)) {
    unsigned x, y, virtual_x, virtual_y, t[7];
    if (strncmp(line, "mode ", 5) == 0) geometry = timings = false;
    if (sscanf(line, " geometry %u %u %u %u %u", &x, &y, &virtual_x, &virtual_y, &bits) == 5)
      geometry = x == 600 && y == 800 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    timings |= sscanf(line, " timings %u %u %u %u %u %u %u", t, t + 1, t + 2, t + 3, t + 4, t + 5, t + 6) == 7;
    if (strstr(line, "endmode") && geometry && timings) depth = bits;
  }
  if (modes) fclose(modes);
  return depth;
}

// 1.2.1's fbdev system: it asks the driver for the panel's mode. Having no 4-bit format, on a
// 4-bit panel it starts only with a mode from /etc/fb.modes, which it tests and does not set (a
// program that makes no primary surface never has it set); with INKPLAY_DFB12_SETS_MODE it sets
// it, as a DirectFB changed for a panel might. Then it paints its primary layer, the whole
// framebuffer, once.
bool start_fbdev() {
  int fd = open(under_root("/dev/fb0").c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return true;
  fb_fix_screeninfo fix = {};
  fb_var_screeninfo var = {};
  bool started = true;
  if (ioctl(fd, FBIOGET_FSCREENINFO, &fix) == 0 && ioctl(fd, FBIOGET_VSCREENINFO, &var) == 0 && var.bits_per_pixel == 4) {
    var.bits_per_pixel = fb_modes_depth();
    var.activate = getenv("INKPLAY_DFB12_SETS_MODE") ? FB_ACTIVATE_NOW : FB_ACTIVATE_TEST;
    started = var.bits_per_pixel && ioctl(fd, FBIOPUT_VSCREENINFO, &var) == 0;
  }
  struct stat st;
  if (started && fstat(fd, &st) == 0) {
    std::string background(static_cast<size_t>(st.st_size), '\0');
    if (pwrite(fd, background.data(), background.size(), 0) < 0) perror("dfb12 stand-in: paint");
  }
  close(fd);
  return started;
}

// 1.2.1's own signal handling: after its emergency clean-up, the process ends by the signal.
sigset_t dont_catch;
void end_by_signal(int signal) { raise(signal); }
void add_dont_catch(const char* numbers) {  // "1,2,15"
  for (const char* n = numbers;; ++n) {
    sigaddset(&dont_catch, atoi(n));
    if (!(n = strchr(n, ','))) return;
  }
}
void catch_signals() {
  struct sigaction action = {};
  action.sa_handler = end_by_signal;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  for (int signal : {SIGHUP, SIGINT, SIGTERM})
    if (!sigismember(&dont_catch, signal)) sigaction(signal, &action, nullptr);
}

template <interface_kind kind, int slot>
void unexpected() {
  fprintf(stderr, "dfb12 stand-in: %s slot %d called, which the program never uses\n", kind_name[kind], slot);
  abort();
}
template <interface_kind kind, size_t... slot>
void fill_unexpected(record* r, std::index_sequence<slot...>) {
  ((r->slot[slot] = reinterpret_cast<void*>(&unexpected<kind, slot>)), ...);
}

template <typename T>
T* real(void* self) {
  return static_cast<T*>(static_cast<record*>(self)->slot[0]);
}

template <interface_kind kind, typename T>
record* wrap(T* object);

// A method of a 1.7 object called for slot n of its 1.2 record.
template <interface_kind kind, int slot, auto method>
struct forward;
template <interface_kind kind, int slot, typename T, typename... A, DFBResult (*T::*method)(T*, A...)>
struct forward<kind, slot, method> {
  static DFBResult call(void* self, A... a) {
    note(kind, slot);
    return (real<T>(self)->*method)(real<T>(self), a...);
  }
};

// The description records of 1.2 are shorter than 1.7's but hold the fields the program sets at
// the same offsets; the objects made are handed out in 1.2 records.
DFBResult create_surface(void* self, const void* desc12, record** out) {
  note(dfb, 8);
  DFBSurfaceDescription desc = {};
  memcpy(&desc, desc12, offsetof(DFBSurfaceDescription, palette));
  IDirectFBSurface* s = nullptr;
  DFBResult r = real<IDirectFB>(self)->CreateSurface(real<IDirectFB>(self), &desc, &s);
  *out = r == DFB_OK ? wrap<surface>(s) : nullptr;
  return r;
}
DFBResult create_image_provider(void* self, const char* path, record** out) {
  note(dfb, 18);
  IDirectFBImageProvider* p = nullptr;
  DFBResult r = real<IDirectFB>(self)->CreateImageProvider(real<IDirectFB>(self), path, &p);
  *out = r == DFB_OK ? wrap<provider>(p) : nullptr;
  return r;
}
DFBResult create_font(void* self, const char* path, const void* desc12, record** out) {
  note(dfb, 20);
  DFBFontDescription desc = {};
  memcpy(&desc, desc12, 32);
  IDirectFBFont* f = nullptr;
  DFBResult r = real<IDirectFB>(self)->CreateFont(real<IDirectFB>(self), path, &desc, &f);
  *out = r == DFB_OK ? wrap<font>(f) : nullptr;
  return r;
}
template <interface_kind kind, typename T>
DFBResult release(void* self) {
  note(kind, 3);
  auto r = static_cast<DFBResult>(real<T>(self)->Release(real<T>(self)));
  delete static_cast<record*>(self);
  return r;
}
DFBResult set_font(void* self, void* f) {
  note(surface, 45);
  return real<IDirectFBSurface>(self)->SetFont(real<IDirectFBSurface>(self), f ? real<IDirectFBFont>(f) : nullptr);
}
DFBResult render_to(void* self, void* destination, const DFBRectangle* rect) {
  note(provider, 6);
  return real<IDirectFBImageProvider>(self)->RenderTo(real<IDirectFBImageProvider>(self),
                                                      real<IDirectFBSurface>(destination), rect);
}

template <interface_kind kind, typename T>
record* wrap(T* object) {
  auto* r = new record;
  fill_unexpected<kind>(r, std::make_index_sequence<64>());
  r->slot[0] = object;
  r->slot[1] = nullptr;  // magic
  r->slot[3] = reinterpret_cast<void*>(&release<kind, T>);
  auto set = [r](int slot, auto* method) { r->slot[slot] = reinterpret_cast<void*>(method); };
  if constexpr (kind == dfb) {
    set(4, &forward<dfb, 4, &IDirectFB::SetCooperativeLevel>::call);
    set(8, &create_surface), set(18, &create_image_provider), set(20, &create_font);
  } else if constexpr (kind == surface) {
    set(21, &forward<surface, 21, &IDirectFBSurface::SetColor>::call);
    set(37, &forward<surface, 37, &IDirectFBSurface::FillRectangle>::call);
    set(38, &forward<surface, 38, &IDirectFBSurface::DrawRectangle>::call);
    set(39, &forward<surface, 39, &IDirectFBSurface::DrawLine>::call);
    set(45, &set_font), set(48, &forward<surface, 48, &IDirectFBSurface::DrawGlyph>::call);
  } else if constexpr (kind == font) {
    set(4, &forward<font, 4, &IDirectFBFont::GetAscender>::call);
    set(5, &forward<font, 5, &IDirectFBFont::GetDescender>::call);
    set(11, &forward<font, 11, &IDirectFBFont::GetGlyphExtents>::call);
  } else {
    set(6, &render_to);
  }
  return r;
}

}  // namespace

extern "C" {

DFBResult DirectFBInit(int* argc, char*** argv) {
  auto init = real_function<DFBResult (*)(int*, char***)>("DirectFBInit");
  return init ? init(argc, argv) : DFB_FAILURE;
}

DFBResult DirectFBSetOption(const char* name, const char* value) {
  log_line("Option %s%s\n", name, value ? ("=" + std::string(value)).c_str() : "");
  if (value && strcmp(name, "dont-catch") == 0) add_dont_catch(value);
  auto set_option = real_function<DFBResult (*)(const char*, const char*)>("DirectFBSetOption");
  return set_option ? set_option(name, value) : DFB_FAILURE;
}

DFBResult DirectFBCreate(IDirectFB** out) {
  *out = nullptr;
  auto create = real_function<DFBResult (*)(IDirectFB**)>("DirectFBCreate");
  IDirectFB* d = nullptr;
  DFBResult r = create ? create(&d) : DFB_FAILURE;
  if (r != DFB_OK) return r;
  if (!start_fbdev()) return static_cast<DFBResult>(dfb12_init);
  *out = reinterpret_cast<IDirectFB*>(wrap<dfb>(d));
  catch_signals();
  return r;
}

const char* DirectFBErrorString(DFBResult result) {
  if (result == dfb12_init) return "Initialization error!";
  auto error_string = real_function<const char* (*)(DFBResult)>("DirectFBErrorString");
  return error_string ? error_string(result) : "no DirectFB";
}
}
