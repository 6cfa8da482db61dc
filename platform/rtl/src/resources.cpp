// The table of embedded resources (formreader.h), filled by the sources that tarvo_embed_resources generates.
#include <map>
#include <mutex>

#include "rtl/formreader.h"

namespace {

struct TResources {
  std::mutex Lock;
  std::map<std::string, std::string_view, std::less<>> Items;
};

// Reached from static initialisers of other translation units, so it is built on first use.
TResources& Resources() {
  static TResources resources;
  return resources;
}

}  // namespace

void RegisterResource(const char* name, const unsigned char* data, std::size_t size) {
  TResources& r = Resources();
  std::lock_guard<std::mutex> guard(r.Lock);
  // The first registration of a name stays: static initialisation has no order that could make a later one right.
  r.Items.emplace(name, std::string_view(reinterpret_cast<const char*>(data), size));
}

bool FindResourceData(const std::string& name, std::string_view& data) {
  TResources& r = Resources();
  std::lock_guard<std::mutex> guard(r.Lock);
  auto it = r.Items.find(name);
  if (it == r.Items.end()) {
    data = {};
    return false;
  }
  data = it->second;
  return true;
}

void ReadComponentResource(TComponent* root, const std::string& resourceName) {
  std::string_view data;
  if (!FindResourceData(resourceName, data))
    throw EReadError("Form description \"" + resourceName + "\" is not embedded in this program");
  ReadComponentText(root, std::string(data), resourceName);
}
