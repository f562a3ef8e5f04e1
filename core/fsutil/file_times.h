#pragma once

// File time stamps: carrying a file's times over to another, and the DOS date
// and time texts the package header keeps. File-system utility layer.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "qxwebcore_export.h"

namespace qx {

// Sizes of the date text "MM/DD/YYYY" and the time text "HH:MM:SS" with
// their terminating zero, as the package header's fields hold them.
inline constexpr size_t kDateTextSize = 11;
inline constexpr size_t kTimeTextSize = 9;

// Carries the last-access and last-write times of |source| over to the
// existing file |destination| (there is no creation time to carry). When
// |date_text| or |time_text| is given, it receives the source's last-write
// time in local time, rounded down to the two-second DOS form ("%02d/%02d/%04d"
// month, day, year and "%02d:%02d:%02d"); a time before 1980 or after 2107
// gives the form's first or last time (01/01/1980 00:00:00, 12/31/2107
// 23:59:58), the destination still taking the source's own times. Returns 1
// when the times were carried over and the wanted texts came from them, else
// 0; even then the texts come out, from the source's last-write time if it
// can be read, else from the current local time (not rounded).
QXWEBCORE_EXPORT int CopyFileTimes(const std::string& source, const std::string& destination,
                                   std::string* date_text, std::string* time_text);
// The same between open files: |source| may be open for reading only, and
// nothing may be written to |destination| afterwards.
QXWEBCORE_EXPORT int CopyFileTimes(int source, int destination, std::string* date_text,
                                   std::string* time_text);

// The date and time texts of the last-write time |when| as CopyFileTimes
// gives them: local time in the two-second DOS form, kept within its years.
QXWEBCORE_EXPORT void FormatLastWriteTime(time_t when, std::string* date_text,
                                          std::string* time_text);

// The time a package entry's Date and Time stand for, read as local time in
// the two-second DOS form: each number is packed into its field's bits
// first, and what does not fit is lost as it would be in the packed form
// (year 2108 is 1980 again, month 17 is month 1), the seconds rounded down
// to an even number. None when the packed date and time are no real time:
// day 0, month 0 or 13 to 15, 30 February, hour 24, minute 60, second 60.
QXWEBCORE_EXPORT std::optional<time_t> DosEntryTime(int32_t day, int32_t month, int32_t year,
                                                    int32_t hours, int32_t minutes,
                                                    int32_t seconds);

// Formats a packed DOS date (year - 1980 in bits 9-15, month in 5-8, day in
// 0-4) and time (hours in bits 11-15, minutes in 5-10, seconds / 2 in 0-4)
// into the texts that are given.
QXWEBCORE_EXPORT void FormatDosStamp(uint16_t dos_date, uint16_t dos_time, std::string* date_text,
                                     std::string* time_text);

}  // namespace qx
