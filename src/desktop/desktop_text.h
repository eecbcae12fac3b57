// Text rules of the desktop services that need no toolkit: the action list
// of a notification, the badge and progress values, and the battery object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct NotifyAction {
  std::string key;
  std::string label;
};

// The actions of a notification: ("default", "Open") first, then one pair
// per {"id":...,"title":...} object of the backend's array, in order.
// Objects without an id are skipped; an empty title falls back to the id.
std::vector<NotifyAction> parse_notify_actions(std::string_view json);

// A badge text: true, with the count, when the whole text is a decimal
// integer that fits 64 bits.
bool parse_badge_count(std::string_view text, int64_t* count);

// A progress text: the number capped at 1.0. -1.0 (no bar) when the text
// is empty or not a number at all (NaN); other text reads as 0.
double parse_progress(std::string_view text);

// {"percent":..,"charging":..,"plugged":..,"minutesRemaining":null} from the
// power supply's "capacity" and "status" file texts. A capacity that is not
// a plain whole number gives a null percent.
std::string battery_fields_json(std::string_view capacity, std::string_view status);

// s as valid UTF-8 (bad bytes replaced), as D-Bus strings must be.
std::string utf8_valid(std::string_view s);
