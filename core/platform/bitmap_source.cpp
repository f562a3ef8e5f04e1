// The BMP file reader, the directory and memory bitmap sources, and the
// process-wide table of open bitmap modules. Platform layer.
#include "core/platform/bitmap_source.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <mutex>

#include "core/platform/file_handle.h"

namespace qx {

BitmapSource::~BitmapSource() = default;

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderMinSize = 40;
constexpr uint32_t kCompressionRgb = 0;
constexpr uint32_t kCompressionBitfields = 3;
// Bitmaps larger than this are refused rather than allocated.
constexpr int64_t kMaxBitmapBytes = 64 * 1024 * 1024;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct ModuleTable {
  std::mutex mutex;
  std::map<ModuleHandle, std::shared_ptr<const BitmapSource>> modules;
  ModuleHandle next = kFirstModuleHandle;
};

ModuleTable& Modules() {
  static ModuleTable table;
  return table;
}

}  // namespace

bool ReadBmpFile(const std::string& path, Bitmap& out) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return false;
  }
  uint8_t header[kFileHeaderSize + kInfoHeaderMinSize];
  if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) {
    return false;
  }
  if (header[0] != 'B' || header[1] != 'M') {
    return false;
  }
  const uint8_t* info = header + kFileHeaderSize;
  const uint32_t data_offset = Le32(header + 10);
  const uint32_t info_size = Le32(info);
  const int32_t width = static_cast<int32_t>(Le32(info + 4));
  const int32_t raw_height = static_cast<int32_t>(Le32(info + 8));
  const uint16_t planes = Le16(info + 12);
  const uint16_t bpp = Le16(info + 14);
  const uint32_t compression = Le32(info + 16);
  if (info_size < kInfoHeaderMinSize || planes != 1 || width <= 0 || raw_height == 0 ||
      raw_height == std::numeric_limits<int32_t>::min()) {
    return false;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    return false;
  }
  if (compression != kCompressionRgb &&
      !(compression == kCompressionBitfields && (bpp == 16 || bpp == 32))) {
    return false;
  }
  const bool bottom_up = raw_height > 0;
  const int64_t height = bottom_up ? raw_height : -static_cast<int64_t>(raw_height);
  const int64_t stride = ((static_cast<int64_t>(width) * bpp + 31) / 32) * 4;
  if (stride * height > kMaxBitmapBytes) {
    return false;
  }
  std::vector<uint8_t> stored(static_cast<size_t>(stride * height));
  if (std::fseek(file.get(), static_cast<long>(data_offset), SEEK_SET) != 0 ||
      std::fread(stored.data(), 1, stored.size(), file.get()) != stored.size()) {
    return false;
  }
  out.width = width;
  out.height = static_cast<int32_t>(height);
  out.width_bytes = static_cast<int32_t>(stride);
  out.bits_per_pixel = bpp;
  if (bottom_up) {
    out.bits.resize(stored.size());
    for (int64_t row = 0; row < height; ++row) {
      std::copy_n(stored.begin() + (height - 1 - row) * stride, stride,
                  out.bits.begin() + row * stride);
    }
  } else {
    out.bits = std::move(stored);
  }
  return true;
}

bool DirectoryBitmapSource::Load(const std::string& name, Bitmap& out) const {
  // Resource names never carry a path.
  if (name.empty() || name.find('/') != std::string::npos) {
    return false;
  }
  std::string dir = directory_;
  if (!dir.empty() && dir.back() != '/') {
    dir += '/';
  }
  return ReadBmpFile(dir + name + ".bmp", out);
}

bool MemoryBitmapSource::Load(const std::string& name, Bitmap& out) const {
  auto it = bitmaps_.find(name);
  if (it == bitmaps_.end()) {
    return false;
  }
  out = it->second;
  return true;
}

ModuleHandle OpenBitmapModule(std::shared_ptr<const BitmapSource> source) {
  if (!source) {
    return 0;
  }
  ModuleTable& table = Modules();
  std::lock_guard lock(table.mutex);
  ModuleHandle handle = table.next++;
  table.modules.emplace(handle, std::move(source));
  return handle;
}

ModuleHandle OpenBitmapDirectory(const std::string& directory) {
  return OpenBitmapModule(std::make_shared<DirectoryBitmapSource>(directory));
}

void CloseBitmapModule(ModuleHandle module) {
  ModuleTable& table = Modules();
  std::lock_guard lock(table.mutex);
  table.modules.erase(module);
}

std::shared_ptr<const BitmapSource> FindBitmapModule(ModuleHandle module) {
  if (module < kFirstModuleHandle) {
    return nullptr;
  }
  ModuleTable& table = Modules();
  std::lock_guard lock(table.mutex);
  auto it = table.modules.find(module);
  return it == table.modules.end() ? nullptr : it->second;
}

}  // namespace qx
