#include "resources/alias_table.h"

#include "runtime/rtti.h"

namespace brova {
namespace {
bool g_registrationOn = true;
} // namespace

void TAlias::Add(std::string_view name, TRTTI* cls) {
  auto it = byName_.find(name);
  if (it != byName_.end()) {
    nameOf_.erase(it->second);
    it->second = cls;
  } else {
    it = byName_.emplace(std::string(name), cls).first;
  }
  auto old = nameOf_.find(cls);
  if (old != nameOf_.end() && !SameTextIgnoringCase(old->second, name)) byName_.erase(old->second);
  nameOf_[cls] = it->first;
}

TRTTI* TAlias::Get(std::string_view name) const {
  auto it = byName_.find(name);
  return it != byName_.end() ? it->second : nullptr;
}

void TAlias::Delete(std::string_view name) {
  auto it = byName_.find(name);
  if (it == byName_.end()) return;
  nameOf_.erase(it->second);
  byName_.erase(it);
}

void TAlias::Forget(const TResource* resource) {
  auto it = nameOf_.find(resource);
  if (it == nameOf_.end()) return;
  byName_.erase(it->second);
  nameOf_.erase(it);
}

TAlias& Aliases() {
  static auto* table = new TAlias; // outlives the classes freed at exit
  return *table;
}

bool AliasRegistrationOn() { return g_registrationOn; }
void SetAliasRegistration(bool on) { g_registrationOn = on; }

} // namespace brova
