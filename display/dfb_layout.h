// The one place where DirectFB's binary layout is chosen: the host build takes Debian's DirectFB
// 1.7 headers; the device build (INKPLAY_DFB_1_2) declares, in DirectFB 1.2's layout, the few
// records, slots and constants this program uses. Passive: included by the display layer.
//
// Both releases declare the same C calls, but an interface is a record of function pointers and
// 1.7 put every method at another slot (1.2's head is priv, magic, AddRef, Release; 1.7 added a
// reference count, and more surface methods before SetColor). A binary must call through the
// slots of the release it runs on: dfb_layout_major/minor say which release that is.
#pragma once

#ifndef INKPLAY_DFB_1_2

#include <directfb.h>
#include <directfb_version.h>

constexpr unsigned dfb_layout_major = DIRECTFB_MAJOR_VERSION, dfb_layout_minor = DIRECTFB_MINOR_VERSION;

#else

#include <cstddef>
#include <cstdint>

constexpr unsigned dfb_layout_major = 1, dfb_layout_minor = 2;

using u8 = uint8_t;
enum DFBResult { DFB_OK = 0 };
enum DFBCooperativeLevel { DFSCL_FULLSCREEN = 1 };
enum DFBSurfaceCapabilities { DSCAPS_NONE = 0 };
enum DFBSurfaceDescriptionFlags {
  DSDESC_CAPS = 0x1, DSDESC_WIDTH = 0x2, DSDESC_HEIGHT = 0x4, DSDESC_PIXELFORMAT = 0x8, DSDESC_PREALLOCATED = 0x10
};
enum DFBSurfacePixelFormat { DSPF_ARGB = 0x00418C04 };
enum DFBSurfaceTextFlags { DSTF_TOP = 0x4 };
enum DFBFontDescriptionFlags { DFDESC_HEIGHT = 0x2 };

struct DFBRectangle {
  int x, y, w, h;
};

struct DFBSurfaceDescription {
  DFBSurfaceDescriptionFlags flags;
  DFBSurfaceCapabilities caps;
  int width, height;
  DFBSurfacePixelFormat pixelformat;
  struct {
    void* data;
    int pitch;
  } preallocated[2];
  uint8_t rest[48 - 36];  // the palette and the resource id, never set here
};

struct DFBFontDescription {
  DFBFontDescriptionFlags flags;
  int attributes;
  int height;
  uint8_t rest[32 - 12];  // width, index, fixed advance, fractional sizes: never set here
};

struct IDirectFBSurface;
struct IDirectFBFont;
struct IDirectFBImageProvider;
using unused_slot = void (*)();

// Slot n sits at n pointers from the start: priv is slot 0, magic slot 1.
#define INKPLAY_DFB12_HEAD(type) \
  void* priv;                    \
  int magic;                     \
  DFBResult (*AddRef)(type*);    \
  DFBResult (*Release)(type*)

struct IDirectFB {
  INKPLAY_DFB12_HEAD(IDirectFB);
  DFBResult (*SetCooperativeLevel)(IDirectFB*, DFBCooperativeLevel);                 // 4
  unused_slot slots_5_to_7[3];
  DFBResult (*CreateSurface)(IDirectFB*, const DFBSurfaceDescription*, IDirectFBSurface**);  // 8
  unused_slot slots_9_to_17[9];
  DFBResult (*CreateImageProvider)(IDirectFB*, const char*, IDirectFBImageProvider**);  // 18
  unused_slot slot_19;
  DFBResult (*CreateFont)(IDirectFB*, const char*, const DFBFontDescription*, IDirectFBFont**);  // 20
};

struct IDirectFBSurface {
  INKPLAY_DFB12_HEAD(IDirectFBSurface);
  unused_slot slots_4_to_20[17];
  DFBResult (*SetColor)(IDirectFBSurface*, u8, u8, u8, u8);  // 21
  unused_slot slots_22_to_36[15];
  DFBResult (*FillRectangle)(IDirectFBSurface*, int, int, int, int);  // 37
  DFBResult (*DrawRectangle)(IDirectFBSurface*, int, int, int, int);  // 38
  DFBResult (*DrawLine)(IDirectFBSurface*, int, int, int, int);       // 39
  unused_slot slots_40_to_44[5];
  DFBResult (*SetFont)(IDirectFBSurface*, IDirectFBFont*);  // 45
  unused_slot slots_46_to_47[2];
  DFBResult (*DrawGlyph)(IDirectFBSurface*, unsigned int, int, int, DFBSurfaceTextFlags);  // 48
};

struct IDirectFBFont {
  INKPLAY_DFB12_HEAD(IDirectFBFont);
  DFBResult (*GetAscender)(IDirectFBFont*, int*);   // 4
  DFBResult (*GetDescender)(IDirectFBFont*, int*);  // 5
  unused_slot slots_6_to_10[5];
  DFBResult (*GetGlyphExtents)(IDirectFBFont*, unsigned int, DFBRectangle*, int*);  // 11
};

struct IDirectFBImageProvider {
  INKPLAY_DFB12_HEAD(IDirectFBImageProvider);
  unused_slot slots_4_to_5[2];
  DFBResult (*RenderTo)(IDirectFBImageProvider*, IDirectFBSurface*, const DFBRectangle*);  // 6
};
#undef INKPLAY_DFB12_HEAD

extern "C" {
DFBResult DirectFBInit(int* argc, char*** argv);
DFBResult DirectFBSetOption(const char* name, const char* value);
DFBResult DirectFBCreate(IDirectFB** interface);
const char* DirectFBErrorString(DFBResult result);
extern const unsigned int directfb_major_version, directfb_minor_version;
}

// Checked against DirectFB 1.2.1's headers compiled for 32-bit ARM (byte offsets); on a 64-bit
// host the same slots sit 8 bytes apart.
constexpr bool dfb12_arm = sizeof(void*) == 4;
#define INKPLAY_DFB12_SLOT(type, method, arm_offset, slot) \
  static_assert(offsetof(type, method) == (dfb12_arm ? arm_offset : slot * sizeof(void*)))
INKPLAY_DFB12_SLOT(IDirectFB, AddRef, 8, 2);
INKPLAY_DFB12_SLOT(IDirectFB, Release, 12, 3);
INKPLAY_DFB12_SLOT(IDirectFB, SetCooperativeLevel, 16, 4);
INKPLAY_DFB12_SLOT(IDirectFB, CreateSurface, 32, 8);
INKPLAY_DFB12_SLOT(IDirectFB, CreateImageProvider, 72, 18);
INKPLAY_DFB12_SLOT(IDirectFB, CreateFont, 80, 20);
INKPLAY_DFB12_SLOT(IDirectFBSurface, Release, 12, 3);
INKPLAY_DFB12_SLOT(IDirectFBSurface, SetColor, 84, 21);
INKPLAY_DFB12_SLOT(IDirectFBSurface, FillRectangle, 148, 37);
INKPLAY_DFB12_SLOT(IDirectFBSurface, DrawRectangle, 152, 38);
INKPLAY_DFB12_SLOT(IDirectFBSurface, DrawLine, 156, 39);
INKPLAY_DFB12_SLOT(IDirectFBSurface, SetFont, 180, 45);
INKPLAY_DFB12_SLOT(IDirectFBSurface, DrawGlyph, 192, 48);
INKPLAY_DFB12_SLOT(IDirectFBFont, Release, 12, 3);
INKPLAY_DFB12_SLOT(IDirectFBFont, GetAscender, 16, 4);
INKPLAY_DFB12_SLOT(IDirectFBFont, GetDescender, 20, 5);
INKPLAY_DFB12_SLOT(IDirectFBFont, GetGlyphExtents, 44, 11);
INKPLAY_DFB12_SLOT(IDirectFBImageProvider, Release, 12, 3);
INKPLAY_DFB12_SLOT(IDirectFBImageProvider, RenderTo, 24, 6);
#undef INKPLAY_DFB12_SLOT
static_assert(!dfb12_arm || (sizeof(DFBSurfaceDescription) == 48 && sizeof(DFBFontDescription) == 32));
static_assert(offsetof(DFBSurfaceDescription, pixelformat) == 16 && offsetof(DFBFontDescription, height) == 8);
static_assert(offsetof(DFBSurfaceDescription, preallocated) == (dfb12_arm ? 20 : 24));

#endif
