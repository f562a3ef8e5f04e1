// Carrying file times over with futimens, and packing and formatting
// two-second DOS stamps in local time. File-system utility layer.
#include "core/fsutil/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <optional>

#include "core/platform/file_handle.h"

namespace qx {

namespace {

// Years a DOS date can hold.
constexpr int kFirstDosYear = 1980;
constexpr int kLastDosYear = 2107;

struct DosStamp {
  uint16_t date;
  uint16_t time;
};

// The first and last times a DOS stamp holds: 01/01/1980 00:00:00 and
// 12/31/2107 23:59:58.
constexpr DosStamp kFirstDosStamp{(1 << 5) | 1, 0};
constexpr DosStamp kLastDosStamp{((kLastDosYear - kFirstDosYear) << 9) | (12 << 5) | 31,
                                 (23 << 11) | (59 << 5) | 29};

// |when| in local time, packed. A time the form cannot hold becomes the
// nearest one it can: sources stamped with the epoch, as reproducible builds
// do, then give the same texts on every seal.
DosStamp LocalDosStamp(time_t when) {
  std::tm local{};
  if (::localtime_r(&when, &local) == nullptr) {
    // Only a year beyond what the broken-down time holds fails here.
    return when < 0 ? kFirstDosStamp : kLastDosStamp;
  }
  const int year = local.tm_year + 1900;
  if (year < kFirstDosYear) {
    return kFirstDosStamp;
  }
  if (year > kLastDosYear) {
    return kLastDosStamp;
  }
  DosStamp stamp{};
  stamp.date = static_cast<uint16_t>(((year - kFirstDosYear) << 9) | ((local.tm_mon + 1) << 5) |
                                     local.tm_mday);
  // A leap second (tm_sec 60) still fits the five bits as 30.
  stamp.time =
      static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return stamp;
}

std::optional<DosStamp> LastWriteStamp(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    return std::nullopt;
  }
  return LocalDosStamp(st.st_mtim.tv_sec);
}

void FormatNow(std::string* date_text, std::string* time_text) {
  const time_t now = ::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  if (time_text != nullptr) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    time_text->assign(text);
  }
  if (date_text != nullptr) {
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    date_text->assign(text);
  }
}

}  // namespace

void FormatDosStamp(uint16_t dos_date, uint16_t dos_time, std::string* date_text,
                    std::string* time_text) {
  char text[32];
  if (time_text != nullptr) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", dos_time >> 11, (dos_time >> 5) & 0x3F,
                  (dos_time & 0x1F) * 2);
    time_text->assign(text);
  }
  if (date_text != nullptr) {
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", (dos_date >> 5) & 0x0F, dos_date & 0x1F,
                  (dos_date >> 9) + kFirstDosYear);
    date_text->assign(text);
  }
}

std::optional<time_t> DosEntryTime(int32_t day, int32_t month, int32_t year, int32_t hours,
                                   int32_t minutes, int32_t seconds) {
  const auto dos_date = static_cast<uint16_t>(
      (day & 0x1F) | ((month & 0x0F) << 5) |
      ((static_cast<uint32_t>(year) - static_cast<uint32_t>(kFirstDosYear)) & 0x7F) << 9);
  const auto dos_time = static_cast<uint16_t>(((seconds / 2) & 0x1F) | ((minutes & 0x3F) << 5) |
                                              ((hours & 0x1F) << 11));
  std::tm local{};
  local.tm_mday = dos_date & 0x1F;
  local.tm_mon = ((dos_date >> 5) & 0x0F) - 1;
  local.tm_year = (dos_date >> 9) + kFirstDosYear - 1900;
  local.tm_hour = dos_time >> 11;
  local.tm_min = (dos_time >> 5) & 0x3F;
  local.tm_sec = (dos_time & 0x1F) * 2;
  local.tm_isdst = -1;
  if (local.tm_mday < 1 || local.tm_mon < 0 || local.tm_mon > 11 || local.tm_hour > 23 ||
      local.tm_min > 59 || local.tm_sec > 59) {
    return std::nullopt;
  }
  const int wanted_day = local.tm_mday;
  const int wanted_month = local.tm_mon;
  const time_t when = std::mktime(&local);
  // mktime moves a day that the month does not have (31 February) into the
  // next month: that is no real time.
  if (when == static_cast<time_t>(-1) || local.tm_mday != wanted_day ||
      local.tm_mon != wanted_month) {
    return std::nullopt;
  }
  return when;
}

void FormatLastWriteTime(time_t when, std::string* date_text, std::string* time_text) {
  const DosStamp stamp = LocalDosStamp(when);
  FormatDosStamp(stamp.date, stamp.time, date_text, time_text);
}

int CopyFileTimes(int source, int destination, std::string* date_text, std::string* time_text) {
  const bool text_wanted = date_text != nullptr || time_text != nullptr;
  struct stat st {};
  if (source >= 0 && destination >= 0 && ::fstat(source, &st) == 0) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(destination, times) == 0) {
      if (text_wanted) {
        FormatLastWriteTime(st.st_mtim.tv_sec, date_text, time_text);
      }
      return 1;
    }
  }
  if (text_wanted) {
    // The source's own time is the right text even when the destination
    // could not take it; only without it does the current time stand in.
    if (const auto stamp = LastWriteStamp(source)) {
      FormatDosStamp(stamp->date, stamp->time, date_text, time_text);
    } else {
      FormatNow(date_text, time_text);
    }
  }
  return 0;
}

int CopyFileTimes(const std::string& source, const std::string& destination, std::string* date_text,
                  std::string* time_text) {
  // Non-blocking so that a FIFO named by mistake cannot hang the call.
  const FileDescriptor in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  const FileDescriptor out(
      ::open(destination.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return CopyFileTimes(in.get(), out.get(), date_text, time_text);
}

}  // namespace qx
