// utility/platform/windows/system.cpp: identity, time and file services for Windows.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <cstring>
#include <utility>
#include <vector>

namespace tavutil::platform {

namespace windows {

namespace {

/// `path` with every `from` separator turned into `to`.
std::string WithSeparator(std::string path, char from, char to) {
  for (char& c : path) {
    if (c == from) {
      c = to;
    }
  }
  return path;
}

} // namespace

std::string NativeSeparators(std::string path) {
  return WithSeparator(std::move(path), '/', '\\');
}

std::string PortableSeparators(std::string path) {
  return WithSeparator(std::move(path), '\\', '/');
}

bool ModulePath(HMODULE module, std::string& path) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameA(module, buffer.data(), size);
    if (length == 0) {
      return false;
    }
    if (length < size) { // a path that filled the buffer may have been cut short
      path = PortableSeparators(std::string(buffer.data(), length));
      return true;
    }
    if (buffer.size() >= 32768) { // the longest path Windows has
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
}

} // namespace windows

namespace {

/// 100-nanosecond intervals from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr std::int64_t kSecondsPerDay = 86400;

/// The proleptic Gregorian date of `days` since 1970-01-01, with the day of the year (0-365).
void CivilFromDays(std::int64_t days, std::tm& fields) noexcept {
  // Eras of 400 years (146097 days) starting on 1 March, so that leap days end a year.
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153; // 0 is March
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static constexpr int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  fields.tm_year = static_cast<int>(year - 1900);
  fields.tm_mon = static_cast<int>(month - 1);
  fields.tm_mday = static_cast<int>(day);
  fields.tm_yday =
      kDaysBeforeMonth[month - 1] + static_cast<int>(day) - 1 + (leap && month > 2 ? 1 : 0);
  // 1970-01-01 was a Thursday.
  const std::int64_t weekday = (days % 7 + 11) % 7;
  fields.tm_wday = static_cast<int>(weekday);
}

/// `time` (seconds since 1970 UTC) broken down without any zone; false beyond int years.
bool BreakDown(std::int64_t time, std::tm& fields) noexcept {
  if (time > INT64_MAX / 2 || time < INT64_MIN / 2) {
    return false;
  }
  std::int64_t days = time / kSecondsPerDay;
  std::int64_t rest = time % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  if (days / 366 > 2000000000LL || days / 366 < -2000000000LL) {
    return false;
  }
  CivilFromDays(days, fields);
  fields.tm_hour = static_cast<int>(rest / 3600);
  fields.tm_min = static_cast<int>(rest / 60 % 60);
  fields.tm_sec = static_cast<int>(rest % 60);
  fields.tm_isdst = 0;
  return true;
}

} // namespace

std::uint32_t ThreadId() noexcept {
  return static_cast<std::uint32_t>(::GetCurrentThreadId());
}

std::uint32_t ProcessId() noexcept {
  return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

LocalTimeValue LocalTime() noexcept {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTimeValue{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                        now.wMinute, now.wSecond, now.wMilliseconds};
}

WallTime CurrentWallTime() noexcept {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                now.dwLowDateTime) -
      kUnixEpochInFileTime;
  return WallTime{ticks / 10000000, static_cast<int>(ticks % 10000000 / 10000)};
}

bool BreakDownLocal(std::int64_t time, std::tm& fields) noexcept {
  // The system converts through SYSTEMTIME, which starts at 1601: the zone's offset for that
  // moment (daylight saving included) comes from it, the calendar from BreakDown.
  const std::int64_t ticks = time * 10000000 + kUnixEpochInFileTime;
  if (time > INT64_MAX / 10000000 - kUnixEpochInFileTime / 10000000 || ticks < 0) {
    return false;
  }
  FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utcParts{};
  SYSTEMTIME localParts{};
  if (!::FileTimeToSystemTime(&utc, &utcParts) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts)) {
    return false;
  }
  FILETIME local{};
  if (!::SystemTimeToFileTime(&localParts, &local)) {
    return false;
  }
  const std::int64_t localTicks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime);
  const std::int64_t offset = (localTicks - ticks) / 10000000;
  if (!BreakDown(time + offset, fields)) {
    return false;
  }
  // Daylight saving is in force when the offset differs from the standard one.
  fields.tm_isdst = offset != -static_cast<std::int64_t>(StandardTimeZone()) ? 1 : 0;
  return true;
}

std::int32_t StandardTimeZone() noexcept {
  TIME_ZONE_INFORMATION zone{};
  if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) {
    return 0;
  }
  // Bias and StandardBias are minutes: UTC = local time + bias.
  return static_cast<std::int32_t>((zone.Bias + zone.StandardBias) * 60);
}

bool BreakDownUtc(std::int64_t time, std::tm& fields) noexcept {
  return BreakDown(time, fields);
}

MakeDirectoryResult MakeDirectory(const char* path) noexcept {
  if (path == nullptr || *path == '\0') {
    return MakeDirectoryResult::failed;
  }
  if (::CreateDirectoryA(path, nullptr)) {
    return MakeDirectoryResult::made;
  }
  const DWORD error = ::GetLastError();
  // A drive root ("C:\") or a UNC share ("\\server\share") cannot be made; it exists when it
  // can be examined.
  if (error == ERROR_ALREADY_EXISTS ||
      (error == ERROR_ACCESS_DENIED && QueryPathKind(path) == PathKind::directory)) {
    return MakeDirectoryResult::exists;
  }
  return QueryPathKind(path) == PathKind::directory ? MakeDirectoryResult::exists
                                                    : MakeDirectoryResult::failed;
}

PathKind QueryPathKind(const char* path) noexcept {
  if (path == nullptr || *path == '\0') {
    return PathKind::missing;
  }
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::missing;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return PathKind::directory;
  }
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::other : PathKind::file;
}

bool ExecutablePath(std::string& path) {
  return windows::ModulePath(nullptr, path);
}

bool FindOnPath(const char* directories, const char* name, const char* extension,
                std::string& found) {
  if (directories == nullptr || name == nullptr || *name == '\0') {
    return false;
  }
  const std::string file = windows::NativeSeparators(name);
  std::string directory;
  const char* element = directories;
  while (*element != '\0') {
    const char* end = std::strchr(element, ';');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - element) : std::strlen(element);
    if (length > 0) {
      directory = windows::NativeSeparators(std::string(element, length));
      char result[MAX_PATH + 1];
      // SearchPathA appends the extension only to a file part without one, as wanted; a
      // directory of that name is passed over for the next element.
      const DWORD size = ::SearchPathA(directory.c_str(), file.c_str(), extension,
                                       static_cast<DWORD>(sizeof result), result, nullptr);
      if (size > 0 && size < sizeof result && QueryPathKind(result) == PathKind::file) {
        found = windows::PortableSeparators(std::string(result, size));
        return true;
      }
    }
    if (end == nullptr) {
      break;
    }
    element = end + 1;
  }
  return false;
}

} // namespace tavutil::platform
