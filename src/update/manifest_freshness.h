// What keeps an old manifest from being served again: the serial that grows with every release
// (the highest accepted is kept in a state file beside the hand-off file, and a lower one is
// refused) and the time after which a manifest is no longer accepted (so a server cannot freeze
// the product at an old release for ever).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::update {

// The state file below the run directory: the highest serial accepted, as decimal digits (of the
// default channel; a named channel NAME keeps its own in Bin\Config\UP.NAME.serial).
inline constexpr char kAcceptedSerialFileName[] = "\\Bin\\Config\\UP.serial";

// Seconds since 1970-01-01T00:00:00Z of an ISO 8601 date and time with its offset:
// "2027-01-06T12:00:00Z", "2027-01-06T12:00:00.250Z", "2027-01-06T20:00:00+08:00". Nothing for any
// other text (a date alone, no offset, a 30th of February, a leap second).
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

// The time as ParseUtcTime counts it, "2027-01-06T12:00:00Z".
std::string FormatUtcTime(std::int64_t seconds);

// A serial as the manifest writes it: decimal digits of a number from 0 to 2^63-1; nothing else.
std::optional<std::int64_t> ParseSerial(std::string_view literal);

// Now, in seconds since 1970 (the system clock, unless a test replaced it). Thread-safe.
std::int64_t UtcSecondsNow();
void ReplaceUtcSecondsNow(std::int64_t (*clock)());

// The highest serial accepted so far in `runDirectory`; 0 when none was stored (or the file does
// not hold one).
std::int64_t ReadAcceptedSerial(const std::string& runDirectory);

// Stores `serial` as the highest accepted: written beside the file and renamed over it, so the
// file holds the old or the new serial whatever happens. False when it could not be stored.
bool StoreAcceptedSerial(const std::string& runDirectory, std::int64_t serial);

// Removes every channel's stored serial (UP.serial, UP.NAME.serial), so that any serial is accepted
// again: after the manifest keys changed, a serial signed with a leaked key must not keep refusing
// the genuine releases. False when one could not be removed. Costs one read of Bin\Config.
bool ForgetAcceptedSerials(const std::string& runDirectory);

}  // namespace velmora::update
