#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/diag_log.h"

namespace krt {

// Splits "YYYYMMDDhhmmssmmm" into its seven numbers, each read on its own as atoi reads it:
// a piece cut short or without digits gives 0.
LocalTime parseAlarmTimestamp(std::string_view text);

// The alarm time as "%d-%b-%Y::%H:%M:%S" (English month names), after the calendar has
// normalised it (31 November reads 01-Dec). Nothing when the time is refused: year below 1900,
// month outside 1-12, day outside 1-31, hour above 23, minute or second above 59, any negative
// piece, or a time the calendar cannot convert.
std::optional<std::string> alarmTimeText(const LocalTime& time);

// The broken-down local time of an alarm time, daylight saving left to the calendar.
std::tm calendarParts(const LocalTime& time);

// The seven numbers written again as 17 digits.
std::string timestampDigits(const LocalTime& time);

// The name of the snapshot file without its extension: the timestamp text as received when it
// is plain digits that fit a file name, else the 17-digit form of the parsed time, so that a
// server's text can never lead outside the snapshot folder.
std::string snapshotFileStem(std::string_view receivedTimestamp, const LocalTime& parsed);

}  // namespace krt
