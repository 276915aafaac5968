// The class alias table: a class's short name (its `name`) to the class, names compared
// ignoring case. Kernel and module classes enter it when they are read; a page's own classes
// are read with registration off, so they are not reachable by short name.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>

#include "runtime/text_case.h"

namespace brova {

class TRTTI;
class TResource;

class TAlias {
public:
  // Enters `cls` under `name`, replacing the class of a name already present.
  void Add(std::string_view name, TRTTI* cls);
  TRTTI* Get(std::string_view name) const;
  void Delete(std::string_view name);
  bool Contains(std::string_view name) const { return byName_.count(name) != 0; }
  // Drops every entry of a resource that is going away.
  void Forget(const TResource* resource);
  size_t Count() const { return byName_.size(); }

private:
  std::unordered_map<std::string, TRTTI*, CaseInsensitiveHash, CaseInsensitiveEqual> byName_;
  // The name each class is entered under, so a class renamed after registration still
  // leaves the table when it is freed.
  std::unordered_map<const TResource*, std::string> nameOf_;
};

TAlias& Aliases();

// Registration is on except while a page's own resource list is read.
bool AliasRegistrationOn();
void SetAliasRegistration(bool on);

// Turns registration off for a scope and restores the previous state.
class TAliasRegistrationOff {
public:
  TAliasRegistrationOff() : was_(AliasRegistrationOn()) { SetAliasRegistration(false); }
  ~TAliasRegistrationOff() { SetAliasRegistration(was_); }
  TAliasRegistrationOff(const TAliasRegistrationOff&) = delete;
  TAliasRegistrationOff& operator=(const TAliasRegistrationOff&) = delete;

private:
  bool was_;
};

} // namespace brova
