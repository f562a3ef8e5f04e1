// Tests of the file times (file-system utility layer): times carried over,
// local DOS stamp texts, and the texts when the times cannot be carried.
#include "core/fsutil/file_times.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

// Runs a test in a chosen time zone and restores the old one afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      old_ = old;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

time_t Utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return ::timegm(&tm);
}

void SetTimes(const std::string& path, time_t access, time_t write, long nanoseconds = 0) {
  const timespec times[2] = {{access, nanoseconds}, {write, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st;
}

class CopyFileTimesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qx_test::WriteFile(source_, "source");
    qx_test::WriteFile(destination_, "destination");
  }
  qx_test::TempDir dir_;
  const std::string source_ = dir_ / "src.dat";
  const std::string destination_ = dir_ / "dst.dat";
  std::string date_ = "unset";
  std::string time_ = "unset";
};

TEST_F(CopyFileTimesTest, CarriesTimesAndGivesTheLocalStampTexts) {
  ScopedTimeZone utc("UTC");
  const time_t written = Utc(1997, 12, 6, 10, 15, 36);
  SetTimes(source_, written + 1000, written, 123456789);
  EXPECT_EQ(CopyFileTimes(source_, destination_, &date_, &time_), 1);
  EXPECT_EQ(date_, "12/06/1997");
  EXPECT_EQ(time_, "10:15:36");
  const struct stat st = StatOf(destination_);
  EXPECT_EQ(st.st_mtim.tv_sec, written);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(st.st_atim.tv_sec, written + 1000);
  EXPECT_EQ(qx_test::ReadFile(destination_), "destination");  // contents untouched
}

TEST_F(CopyFileTimesTest, TextsAreInLocalTimeWithEvenSeconds) {
  ScopedTimeZone zone("EST5");
  SetTimes(source_, 0, Utc(1997, 12, 6, 3, 59, 59));
  EXPECT_EQ(CopyFileTimes(source_, destination_, &date_, &time_), 1);
  EXPECT_EQ(date_, "12/05/1997");  // the day before, five hours west
  EXPECT_EQ(time_, "22:59:58");
  SetTimes(source_, 0, Utc(2000, 2, 29, 12, 0, 1));
  EXPECT_EQ(CopyFileTimes(source_, destination_, nullptr, &time_), 1);
  EXPECT_EQ(time_, "07:00:00");
  EXPECT_EQ(CopyFileTimes(source_, destination_, &date_, nullptr), 1);
  EXPECT_EQ(date_, "02/29/2000");
  // Carrying the times alone needs no conversion at all.
  SetTimes(source_, 0, Utc(1970, 1, 2, 0, 0, 0));
  EXPECT_EQ(CopyFileTimes(source_, destination_, nullptr, nullptr), 1);
  EXPECT_EQ(StatOf(destination_).st_mtim.tv_sec, Utc(1970, 1, 2, 0, 0, 0));
}

TEST_F(CopyFileTimesTest, FailingToCarryStillGivesTheSourceTime) {
  ScopedTimeZone utc("UTC");
  SetTimes(source_, 0, Utc(2001, 7, 4, 23, 1, 3));
  const std::string missing = dir_ / "missing.dat";
  EXPECT_EQ(CopyFileTimes(source_, missing, &date_, &time_), 0);
  EXPECT_EQ(date_, "07/04/2001");
  EXPECT_EQ(time_, "23:01:02");
  EXPECT_FALSE(qx_test::FileExists(missing));  // never created
}

TEST_F(CopyFileTimesTest, TimesOutsideTheDosFormGiveItsNearestTime) {
  ScopedTimeZone utc("UTC");
  struct Case {
    time_t written;
    const char* date;
    const char* time;
  };
  const Case cases[] = {
      {0, "01/01/1980", "00:00:00"},  // the epoch of reproducible builds
      {Utc(1979, 12, 31, 23, 59, 59), "01/01/1980", "00:00:00"},
      {-(time_t{1} << 40), "01/01/1980", "00:00:00"},
      {Utc(1980, 1, 1, 0, 0, 1), "01/01/1980", "00:00:00"},
      {Utc(2107, 12, 31, 23, 59, 59), "12/31/2107", "23:59:58"},
      {Utc(2108, 1, 1, 0, 0, 0), "12/31/2107", "23:59:58"},
      {time_t{1} << 40, "12/31/2107", "23:59:58"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    SetTimes(source_, 0, c.written);
    const time_t kept = StatOf(source_).st_mtim.tv_sec;  // as the file system keeps it
    date_ = time_ = "unset";
    EXPECT_EQ(CopyFileTimes(source_, destination_, &date_, &time_), 1);
    EXPECT_EQ(date_, c.date);
    EXPECT_EQ(time_, c.time);
    EXPECT_EQ(StatOf(destination_).st_mtim.tv_sec, kept);  // the file keeps its own time
    // The texts come out the same when the times cannot be carried over.
    date_ = time_ = "unset";
    EXPECT_EQ(CopyFileTimes(source_, dir_ / "missing", &date_, &time_), 0);
    EXPECT_EQ(date_ + " " + time_, std::string(c.date) + " " + c.time);
  }
}

TEST_F(CopyFileTimesTest, WithoutASourceTheTextsShowNow) {
  date_ = time_ = "unset";
  EXPECT_EQ(CopyFileTimes(dir_ / "none", destination_, &date_, nullptr), 0);
  EXPECT_EQ(date_.size(), kDateTextSize - 1);
  EXPECT_EQ(time_, "unset");  // not asked for
}

TEST(DosEntryTime, TakesOnlyRealTimesAfterPackingThemAsTheDosFormDoes) {
  ScopedTimeZone zone("UTC");
  struct Case {
    int day, month, year, hours, minutes, seconds;
    time_t expected;  // -1: no real time
  };
  const Case cases[] = {
      {6, 12, 1997, 10, 20, 59, Utc(1997, 12, 6, 10, 20, 58)},  // two-second steps
      {29, 2, 2024, 23, 59, 59, Utc(2024, 2, 29, 23, 59, 58)},
      {1, 1, 1980, 0, 0, 0, Utc(1980, 1, 1, 0, 0, 0)},
      {31, 12, 2107, 23, 59, 58, Utc(2107, 12, 31, 23, 59, 58)},
      {1, 1, 2108, 0, 0, 0, Utc(1980, 1, 1, 0, 0, 0)},   // the year's seven bits
      {1, 17, 2001, 0, 0, 0, Utc(2001, 1, 1, 0, 0, 0)},  // the month's four bits
      {33, 1, 2001, 32, 64, 64, Utc(2001, 1, 1, 0, 0, 0)},
      {30, 2, 2026, 10, 0, 0, -1},
      {29, 2, 2026, 10, 0, 0, -1},
      {31, 4, 2026, 10, 0, 0, -1},
      {0, 10, 2001, 0, 0, 0, -1},
      {1, 0, 2001, 0, 0, 0, -1},
      {1, 13, 2001, 0, 0, 0, -1},
      {1, 1, 2001, 24, 0, 0, -1},
      {1, 1, 2001, 0, 60, 0, -1},
      {1, 1, 2001, 0, 0, 60, -1},
      {32, 1, 2001, 0, 0, 0, -1},  // day 0 once packed
  };
  for (const Case& c : cases) {
    const std::optional<time_t> when =
        DosEntryTime(c.day, c.month, c.year, c.hours, c.minutes, c.seconds);
    const std::string shown = std::to_string(c.month) + "/" + std::to_string(c.day) + "/" +
                              std::to_string(c.year) + " " + std::to_string(c.hours) + ":" +
                              std::to_string(c.minutes) + ":" + std::to_string(c.seconds);
    if (c.expected == -1) {
      EXPECT_FALSE(when) << shown;
    } else {
      ASSERT_TRUE(when) << shown;
      EXPECT_EQ(*when, c.expected) << shown;
    }
  }
}

TEST(FormatDosStamp, DecodesEveryField) {
  std::string date, time;
  const uint16_t dos_date = ((1997 - 1980) << 9) | (12 << 5) | 6;
  const uint16_t dos_time = (10 << 11) | (15 << 5) | 18;
  FormatDosStamp(dos_date, dos_time, &date, &time);
  EXPECT_EQ(date, "12/06/1997");
  EXPECT_EQ(time, "10:15:36");
  FormatDosStamp(0xFFFF, 0xFFFF, &date, &time);
  EXPECT_EQ(date, "15/31/2107");
  EXPECT_EQ(time, "31:63:62");
  FormatDosStamp(0, 0, nullptr, &time);
  EXPECT_EQ(time, "00:00:00");
  FormatDosStamp(0, 0, &date, nullptr);
  EXPECT_EQ(date, "00/00/1980");
}

}  // namespace
}  // namespace qx
