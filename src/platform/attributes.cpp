#include "platform/attributes.h"

#include <cmath>

#include "platform/text.h"

namespace nevo {

bool boundRequests(Platform& platform, const Element& element, WallTime deadline) {
  const double left = deadline - platform.now();
  if (!(left > 0)) return false;
  float seconds = platform.defaultMessagingTimeout();
  if (left < static_cast<double>(seconds)) {
    // Rounded up to the next single-precision value: a request that runs out of time then
    // ends at the deadline (at most a fraction of a microsecond after it), not just before
    // it, so that the caller finds the deadline passed rather than time left for more.
    const float platformDefault = seconds;
    seconds = static_cast<float>(left);
    if (static_cast<double>(seconds) < left) seconds = std::nextafter(seconds, platformDefault);
  }
  // A time-out of 0 means the platform's own default on some platforms: never set.
  if (!(seconds > 0)) return false;
  platform.setMessagingTimeout(element, seconds);
  return true;
}

AttrValue attribute(Platform& platform, const Element& element, std::string_view name) {
  AttributeRead read = platform.copyAttributeValue(element, name);
  if (read.status != AxStatus::success) return Absent{};
  return std::move(read.value);
}

std::vector<AttrValue> attributes(Platform& platform, const Element& element,
                                  AttributeNames names) {
  std::vector<AttributeRead> reads = platform.copyMultipleAttributeValues(element, names);
  std::vector<AttrValue> values(names.size());
  // A backend that answers with fewer reads than names leaves the rest absent.
  for (std::size_t i = 0; i < values.size() && i < reads.size(); ++i) {
    if (reads[i].status == AxStatus::success) values[i] = std::move(reads[i].value);
  }
  return values;
}

std::optional<Element> axElement(const AttrValue& value) {
  if (const Element* element = value.get<Element>()) return *element;
  return std::nullopt;
}

std::optional<Rect> bounds(Platform& platform, const Element& element) {
  static constexpr std::string_view kFrame[] = {"AXPosition", "AXSize"};
  const std::vector<AttrValue> values = attributes(platform, element, kFrame);
  return bounds(values[0], values[1]);
}

std::optional<Rect> bounds(const AttrValue& position, const AttrValue& size) {
  const PointValue* point = position.get<PointValue>();
  const SizeValue* extent = size.get<SizeValue>();
  if (point == nullptr || extent == nullptr) return std::nullopt;
  const Rect r{point->x, point->y, extent->width, extent->height};
  if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.width) ||
      !std::isfinite(r.height)) {
    return std::nullopt;
  }
  return r;
}

std::string text(Platform& platform, const Element& element, std::string_view name) {
  return text(attribute(platform, element, name));
}

std::string text(const AttrValue& value) {
  if (const std::string* s = value.get<std::string>()) return graphemePrefix(*s, kTextLimit);
  if (const NumberValue* n = value.get<NumberValue>()) return n->text;
  if (const bool* b = value.get<bool>()) return *b ? "1" : "0";
  return {};
}

std::optional<bool> booleanAttribute(Platform& platform, const Element& element,
                                     std::string_view name) {
  return booleanValue(attribute(platform, element, name));
}

std::optional<bool> booleanValue(const AttrValue& value) {
  if (const bool* b = value.get<bool>()) return *b;
  return std::nullopt;
}

nlohmann::json rect(const Rect& r) {
  return {{"x", r.x}, {"y", r.y}, {"width", std::fabs(r.width)}, {"height", std::fabs(r.height)}};
}

double rectWidth(const Rect& r) {
  return std::fabs(r.width);
}
double rectHeight(const Rect& r) {
  return std::fabs(r.height);
}
double rectMidX(const Rect& r) {
  return std::fmin(r.x, r.x + r.width) + rectWidth(r) / 2;
}
double rectMidY(const Rect& r) {
  return std::fmin(r.y, r.y + r.height) + rectHeight(r) / 2;
}

namespace {
Rect standardized(const Rect& r) {
  return {std::fmin(r.x, r.x + r.width), std::fmin(r.y, r.y + r.height), rectWidth(r),
          rectHeight(r)};
}
}  // namespace

bool rectsEqual(const Rect& a, const Rect& b) {
  const Rect sa = standardized(a);
  const Rect sb = standardized(b);
  return sa.x == sb.x && sa.y == sb.y && sa.width == sb.width && sa.height == sb.height;
}

}  // namespace nevo
