// Builds small script classes by hand for tests that run before any compiler is involved.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>

#include "runtime/rtti.h"

namespace brova::testing {

// A compiled class with the given own fields after its superclass's.
inline TRTTI* MakeClass(const std::string& name, std::initializer_list<const char*> fields,
                        TRTTI* super = nullptr) {
  auto* cls = new TRTTI;
  cls->name = name;
  cls->superClass = super;
  InheritFields(cls);
  InheritMethods(cls);
  for (const char* f : fields) FieldIndexAdding(cls, f);
  cls->compiled = true;
  return cls;
}

// The String class with its `_body` field, installed as the class of String objects.
inline TRTTI* StringClassForTests() {
  static TRTTI* cls = [] {
    TRTTI* c = MakeClass("String", {"_body"});
    SetStringClass(c);
    return c;
  }();
  return cls;
}

} // namespace brova::testing
