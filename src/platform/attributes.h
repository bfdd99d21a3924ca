// Attribute access: every read of another application's interface goes through these
// few operations, which share one rule: any failure (an error status, a time-out, a
// missing value, a value of an unexpected type) becomes an absent result or an empty
// string and never travels further.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace nevo {

// A rectangle in the accessibility interface's screen coordinates (points, origin at the
// top-left of the main display, y growing downwards), exactly as read.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// Longest text that `text` returns, in user-perceived characters.
inline constexpr std::size_t kTextLimit = 300;

// Bounds the next requests through this element object (a window, which carries no
// messaging time-out of its own) by `deadline`: its time-out becomes the time left until
// then, never more than the platform's default, so that a slow window is waited for as
// long as its command allows and a hung one holds the command no longer than that. Called
// before each request, since a time-out counts from the start of a request. False, with
// nothing set, when no time is left: the caller then makes no request and takes it as one
// that ran out of time.
bool boundRequests(Platform& platform, const Element& element, WallTime deadline);

// The attribute's value, or absent when the read fails.
AttrValue attribute(Platform& platform, const Element& element, std::string_view name);

// The batch form of `attribute`: several attributes of one element in one request, one
// value per name in the order of `names`, each absent when its own read failed, and all
// absent when the request failed. The functions below that take values work on these.
std::vector<AttrValue> attributes(Platform& platform, const Element& element,
                                  AttributeNames names);

// The value as an element; absent for anything else.
std::optional<Element> axElement(const AttrValue& value);

// "AXPosition" and "AXSize" as a rectangle, read in one request; absent when either is
// unreadable, is not the right kind of value, or holds a non-finite number. Sizes are not
// checked here.
std::optional<Rect> bounds(Platform& platform, const Element& element);
// The same from the two values already read.
std::optional<Rect> bounds(const AttrValue& position, const AttrValue& size);

// A string attribute cut to its first 300 characters, a number (or boolean) as its
// text, and the empty string for anything else or a failed read.
std::string text(Platform& platform, const Element& element, std::string_view name);
// The same for a value already read.
std::string text(const AttrValue& value);

// The boolean an attribute holds, or absent when the read fails or it holds anything else.
std::optional<bool> booleanAttribute(Platform& platform, const Element& element,
                                     std::string_view name);
// The same for a value already read.
std::optional<bool> booleanValue(const AttrValue& value);

// The rectangle dictionary: "x", "y" as stored, "width", "height" as magnitudes.
nlohmann::json rect(const Rect& rectangle);

// Width and height as magnitudes, and the centre, of the rectangle taken as standardised.
double rectWidth(const Rect& r);
double rectHeight(const Rect& r);
double rectMidX(const Rect& r);
double rectMidY(const Rect& r);

// Exact equality of origin and size, of both rectangles taken as standardised.
bool rectsEqual(const Rect& a, const Rect& b);

}  // namespace nevo
