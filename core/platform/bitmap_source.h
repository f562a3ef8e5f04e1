#pragma once

// Bitmap resources: the loaded Bitmap, the sources a module's named bitmaps
// come from (a directory of BMP files, or memory), the BMP reader and the
// handles of open modules. Platform layer.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qxwebcore_export.h"

namespace qx {

// A loaded bitmap: its description and its rows, top row first, each
// |width_bytes| long (the stored row width, padded to a multiple of 4).
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  int32_t width_bytes = 0;
  int32_t bits_per_pixel = 0;
  std::vector<uint8_t> bits;
};

// Where bitmap resources come from: a module's named bitmaps.
class QXWEBCORE_EXPORT BitmapSource {
 public:
  virtual ~BitmapSource();
  // Loads |name|; false when there is no such bitmap or it cannot be read.
  virtual bool Load(const std::string& name, Bitmap& out) const = 0;
};

// A module that is a directory of NAME.bmp files (uncompressed Windows BMP).
class QXWEBCORE_EXPORT DirectoryBitmapSource : public BitmapSource {
 public:
  explicit DirectoryBitmapSource(std::string directory) : directory_(std::move(directory)) {}
  bool Load(const std::string& name, Bitmap& out) const override;

 private:
  std::string directory_;
};

// A module held in memory, for tests.
class QXWEBCORE_EXPORT MemoryBitmapSource : public BitmapSource {
 public:
  void Add(const std::string& name, Bitmap bitmap) { bitmaps_[name] = std::move(bitmap); }
  bool Load(const std::string& name, Bitmap& out) const override;

 private:
  std::map<std::string, Bitmap> bitmaps_;
};

// Reads an uncompressed BMP file (1, 4, 8, 16, 24 or 32 bits per pixel,
// BI_RGB or BI_BITFIELDS) into |out|, rows top first. False for anything else.
QXWEBCORE_EXPORT bool ReadBmpFile(const std::string& path, Bitmap& out);

// Module handles as the bitmap operations take them. Opened modules get
// handles from 32 upwards; any handle below 32 names no module, as on the
// home platform where such values are error codes.
using ModuleHandle = uintptr_t;
inline constexpr ModuleHandle kFirstModuleHandle = 32;

QXWEBCORE_EXPORT ModuleHandle OpenBitmapModule(std::shared_ptr<const BitmapSource> source);
QXWEBCORE_EXPORT ModuleHandle OpenBitmapDirectory(const std::string& directory);
QXWEBCORE_EXPORT void CloseBitmapModule(ModuleHandle module);
// The module's source, or null for a handle that names no open module.
QXWEBCORE_EXPORT std::shared_ptr<const BitmapSource> FindBitmapModule(ModuleHandle module);

}  // namespace qx
