#include "windows/applications.h"

#include <algorithm>

#include "platform/text.h"

namespace nevo {

bool ordinaryApplication(Platform& platform, const RunningApplication& application) {
  if (application.activationPolicy != kActivationPolicyRegular) return false;
  if (application.terminated) return false;
  return application.processIdentifier != platform.ownProcessIdentifier();
}

std::string applicationName(const RunningApplication& application) {
  return graphemePrefix(application.localizedName.value_or(""), kApplicationNameLimit);
}

WindowList windowArray(Platform& platform, const Element& applicationElement, long limit) {
  const CountRead count = platform.getAttributeValueCount(applicationElement, "AXWindows");
  if (count.status != AxStatus::success || count.count < 1) return {};
  const long asked = std::min(count.count, limit);
  const AttributeRead values =
      platform.copyAttributeValues(applicationElement, "AXWindows", 0, asked);
  if (values.status != AxStatus::success) return {};
  const ArrayValue* array = values.value.get<ArrayValue>();
  if (array == nullptr) return {};
  // More values than asked for are not taken: a window index stays below the limit.
  const std::size_t taken = std::min(array->size(), static_cast<std::size_t>(asked));
  WindowList list;
  list.windows.reserve(taken);
  for (std::size_t i = 0; i < taken; ++i) {
    const Element* window = (*array)[i].get<Element>();
    list.windows.push_back(window != nullptr ? std::optional<Element>(*window) : std::nullopt);
  }
  list.truncated = count.count > limit;
  return list;
}

Element applicationElement(Platform& platform, ProcessId pid) {
  Element element = platform.createApplicationElement(pid);
  platform.setMessagingTimeout(element, kApplicationTimeout);
  return element;
}

std::optional<ProcessId> frontmostProcessIdentifier(Platform& platform) {
  const std::optional<RunningApplication> front = platform.frontmostApplication();
  if (!front) return std::nullopt;
  return front->processIdentifier;
}

std::vector<RunningApplication> ordinaryApplicationsInOrder(Platform& platform,
                                                            std::optional<ProcessId> frontmost) {
  std::vector<RunningApplication> applications;
  for (RunningApplication& application : platform.runningApplications()) {
    if (ordinaryApplication(platform, application)) applications.push_back(std::move(application));
  }
  std::stable_sort(applications.begin(), applications.end(),
                   [&](const RunningApplication& a, const RunningApplication& b) {
                     const bool aFront = a.processIdentifier == frontmost;
                     const bool bFront = b.processIdentifier == frontmost;
                     if (aFront != bFront) return aFront;
                     return a.processIdentifier < b.processIdentifier;
                   });
  return applications;
}

}  // namespace nevo
