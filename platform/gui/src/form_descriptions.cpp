// The registry of embedded form descriptions (RegisterFormDescription, forms.h): which embedded resources are
// form descriptions, and which of them describes a given form class.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "gui/forms.h"
#include "gui_p.h"
#include "rtl/formreader.h"

namespace {

std::mutex gDescriptionsLock;
std::vector<std::string> gDescriptions;

}  // namespace

void RegisterFormDescription(const char* resourceName) {
  std::lock_guard<std::mutex> guard(gDescriptionsLock);
  gDescriptions.emplace_back(resourceName);
}

namespace tarvo_gui {

bool FindFormDescription(const std::string& className, std::string& resourceName) {
  std::lock_guard<std::mutex> guard(gDescriptionsLock);
  for (const std::string& name : gDescriptions) {
    std::string_view data;
    if (FindResourceData(name, data) && SameText(DescribedClassName(data), className)) {
      resourceName = name;
      return true;
    }
  }
  return false;
}

}  // namespace tarvo_gui
