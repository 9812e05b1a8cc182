// A stand-in for the device's DirectFB 1.2 library (libdirectfb-1.2.so.0), for tests: it hands
// out interface records in 1.2's layout, declared here independently of the program's own
// declaration, whose methods forward to Debian's DirectFB 1.7 (loaded at run time), so that the
// pixels stay real. Every slot the program is not expected to call fails loudly. If
// INKPLAY_DFB12_LOG names a file, each slot gets one line there at its first call: "Surface 21".
#include <directfb.h>
#include <dlfcn.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void note(interface_kind kind, int slot) {
  static bool seen[4][64];
  const char* log = getenv("INKPLAY_DFB12_LOG");
  if (seen[kind][slot] || !log) return;
  seen[kind][slot] = true;
  if (FILE* f = fopen(log, "a")) fprintf(f, "%s %d\n", kind_name[kind], slot), fclose(f);
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

// Each method forwards to the 1.7 object. The description records of 1.2 are shorter than 1.7's
// but hold the fields set by the program at the same offsets.
DFBResult set_cooperative_level(void* self, DFBCooperativeLevel level) {
  note(dfb, 4);
  return real<IDirectFB>(self)->SetCooperativeLevel(real<IDirectFB>(self), level);
}
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
DFBResult set_color(void* self, u8 r, u8 g, u8 b, u8 a) {
  note(surface, 21);
  return real<IDirectFBSurface>(self)->SetColor(real<IDirectFBSurface>(self), r, g, b, a);
}
template <int slot>
DFBResult rectangle_or_line(void* self, int a, int b, int c, int d) {
  note(surface, slot);
  IDirectFBSurface* s = real<IDirectFBSurface>(self);
  return slot == 37 ? s->FillRectangle(s, a, b, c, d) : slot == 38 ? s->DrawRectangle(s, a, b, c, d) : s->DrawLine(s, a, b, c, d);
}
DFBResult set_font(void* self, void* f) {
  note(surface, 45);
  return real<IDirectFBSurface>(self)->SetFont(real<IDirectFBSurface>(self), f ? real<IDirectFBFont>(f) : nullptr);
}
DFBResult draw_glyph(void* self, unsigned int ch, int x, int y, DFBSurfaceTextFlags flags) {
  note(surface, 48);
  return real<IDirectFBSurface>(self)->DrawGlyph(real<IDirectFBSurface>(self), ch, x, y, flags);
}
template <int slot>
DFBResult ascender_or_descender(void* self, int* value) {
  note(font, slot);
  IDirectFBFont* f = real<IDirectFBFont>(self);
  return slot == 4 ? f->GetAscender(f, value) : f->GetDescender(f, value);
}
DFBResult glyph_extents(void* self, unsigned int ch, DFBRectangle* rect, int* advance) {
  note(font, 11);
  return real<IDirectFBFont>(self)->GetGlyphExtents(real<IDirectFBFont>(self), ch, rect, advance);
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
    set(4, &set_cooperative_level), set(8, &create_surface), set(18, &create_image_provider), set(20, &create_font);
  } else if constexpr (kind == surface) {
    set(21, &set_color), set(37, &rectangle_or_line<37>), set(38, &rectangle_or_line<38>);
    set(39, &rectangle_or_line<39>), set(45, &set_font), set(48, &draw_glyph);
  } else if constexpr (kind == font) {
    set(4, &ascender_or_descender<4>), set(5, &ascender_or_descender<5>), set(11, &glyph_extents);
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
  auto set_option = real_function<DFBResult (*)(const char*, const char*)>("DirectFBSetOption");
  return set_option ? set_option(name, value) : DFB_FAILURE;
}

DFBResult DirectFBCreate(IDirectFB** out) {
  auto create = real_function<DFBResult (*)(IDirectFB**)>("DirectFBCreate");
  IDirectFB* d = nullptr;
  DFBResult r = create ? create(&d) : DFB_FAILURE;
  *out = r == DFB_OK ? reinterpret_cast<IDirectFB*>(wrap<dfb>(d)) : nullptr;
  return r;
}
}
