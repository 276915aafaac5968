#include "resources/resource_tree.h"

#include <algorithm>
#include <fstream>

#include "platform/message_sink.h"
#include "resources/global_value.h"
#include "resources/resource_list.h"
#include "resources/resource_reader.h"
#include "resources/sgml.h"
#include "runtime/rtti.h"
#include "runtime/text_case.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

// Never destroyed at exit: freeing the tree then would touch the script heap and handle
// table after their own teardown.
std::unique_ptr<TResource>& Root() {
  static auto* root = new std::unique_ptr<TResource>;
  return *root;
}

std::string& BaseDir() {
  static auto* dir = new std::string;
  return *dir;
}

// The parent path and the last name of a dotted name.
std::pair<std::string_view, std::string_view> SplitLast(std::string_view dottedName) {
  size_t dot = dottedName.rfind('.');
  if (dot == std::string_view::npos) return {std::string_view(), dottedName};
  return {dottedName.substr(0, dot), dottedName.substr(dot + 1)};
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  platform::ShowMessage(path + Translate(" cannot be written."));
  return false;
}

// A trailing "_" and digits: the number, or -1 when the name has none.
long long TrailingNumber(std::string_view name, size_t* numberStart = nullptr) {
  size_t end = name.size(), i = end;
  while (i > 0 && name[i - 1] >= '0' && name[i - 1] <= '9') --i;
  if (i == end || i == 0 || name[i - 1] != '_') return -1;
  long long n = 0;
  for (size_t k = i; k < end; ++k) {
    n = n * 10 + (name[k] - '0');
    if (n > 1000000000000000LL) n = 1000000000000000LL; // keeps N + 1 in range
  }
  if (numberStart) *numberStart = i - 1;
  return n;
}

} // namespace

// ---- shared state

TResource* ResourceRoot() { return Root().get(); }

void SetResourceRoot(std::unique_ptr<TResource> root) { Root() = std::move(root); }

std::unique_ptr<TResource> TakeResourceRoot() { return std::move(Root()); }

const std::string& ResourceBaseDir() { return BaseDir(); }

void SetResourceBaseDir(std::string dir) { BaseDir() = std::move(dir); }

TResourceList* GlobalsList() {
  TResource* root = ResourceRoot();
  return root ? dynamic_cast<TResourceList*>(root->findChild("usrglobal")) : nullptr;
}

TGlobalValue* GlobalEntry(std::string_view name, bool create) {
  TResourceList* list = GlobalsList();
  if (!list) return nullptr;
  if (TResource* found = list->findChild(name)) return dynamic_cast<TGlobalValue*>(found);
  if (!create) return nullptr;
  return static_cast<TGlobalValue*>(list->add(std::make_unique<TGlobalValue>(name)));
}

// ---- globals for the runtime

TValue* GlobalSlotInTree(std::string_view name) {
  if (name.empty() || name[0] != '$') return nullptr;
  TResource* root = ResourceRoot();
  if (!root) return nullptr;
  TResource* r = root->resolve(name);
  return r ? r->valuePtr() : nullptr;
}

void SetGlobalInTree(std::string_view name, const TValue& value) {
  if (TValue* slot = GlobalSlotInTree(name)) AssignValue(*slot, value);
}

void DeclareGlobalInTree(std::string_view name, bool add) {
  TResource* root = ResourceRoot();
  TResource* usr = root ? root->findChild("usr") : nullptr;
  if (!usr) return;
  TResource* list = usr->findChild("global");
  if (!list) {
    auto made = std::make_unique<TResourceList>();
    made->name = "global";
    list = usr->add(std::move(made));
    if (!list) return;
  }
  TResource* entry = list->findChild(name);
  if (!add) {
    if (entry) list->remove(entry);
    return;
  }
  if (!entry) list->add(std::make_unique<TGlobalValue>(name));
}

// ---- lookups

TResourceList* findList(std::string_view path) {
  TResource* root = ResourceRoot();
  return root ? dynamic_cast<TResourceList*>(root->resolve(path)) : nullptr;
}

TRTTI* findClass(std::string_view path) {
  TResource* root = ResourceRoot();
  return root ? dynamic_cast<TRTTI*>(root->resolve(path)) : nullptr;
}

// ---- building and changing the tree

TResource* newResourceNode(const std::string& path, std::string_view dottedName, TNodeKind kind) {
  TResource* root = ResourceRoot();
  if (!root) return nullptr;
  auto [parentPath, last] = SplitLast(dottedName);
  TResource* parent = root->resolve(parentPath);
  if (!parent) return nullptr;
  std::string file =
      path.empty() ? std::string() : ResolveExistingPath(JoinPath(path, ResourceBaseDir()));
  std::unique_ptr<TResource> made;
  switch (kind) {
  case TNodeKind::List: made = std::make_unique<TResourceList>(); break;
  case TNodeKind::GlobalValue: {
    auto g = std::make_unique<TGlobalValue>(last);
    g->initText = "0";
    made = std::move(g);
    break;
  }
  case TNodeKind::Class: {
    if (!file.empty() && !FileExists(file)) WriteFile(file, "extends classes.lang.Object;\r\n");
    TSGML element("class");
    element.setAttr("name", last);
    element.setAttr("src", file);
    made = createResource(element, std::string());
    break;
  }
  case TNodeKind::Link:
    if (file.empty()) return nullptr;
    if (!FileExists(file))
      WriteFile(file, ElementLine("resourcelist", {{"name", std::string(last)}}, false) +
                          "\r\n</resourcelist>\r\n");
    made = loadResourceFile(file);
    break;
  }
  if (!made) return nullptr;
  made->name = std::string(last);
  made->src = file;
  return parent->add(std::move(made));
}

TResource* attachResource(std::string_view dottedName, std::unique_ptr<TResource> resource) {
  TResource* root = ResourceRoot();
  if (!root || !resource) return nullptr;
  auto [parentPath, last] = SplitLast(dottedName);
  TResource* parent = root->resolve(parentPath);
  if (!parent) return nullptr;
  resource->name = std::string(last);
  return parent->add(std::move(resource));
}

void detachResource(std::string_view dottedName) {
  TResource* root = ResourceRoot();
  TResource* r = root ? root->resolve(dottedName) : nullptr;
  if (r && r->parent) r->parent->remove(r);
}

std::string SavedText(TResource& resource) {
  std::vector<std::string> lines;
  resource.save(lines, "");
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool saveResource(std::string_view dottedName) {
  TResource* root = ResourceRoot();
  TResource* r = root ? root->resolve(dottedName) : nullptr;
  if (!r || r->src.empty()) {
    platform::ShowMessage(std::string(dottedName) + Translate(" Cannot be saved."));
    return false;
  }
  // Reading a file resolves its relative paths against the file's folder, so they are
  // written relative to that folder too.
  std::string file = r->src;
  std::string text;
  {
    TBaseDirScope scope(ParentFolder(file));
    text = SavedText(*r);
  }
  return WriteFile(file, text);
}

std::string uniqueChildName(const TResource& list, std::string_view name) {
  if (!list.findChild(name)) return std::string(name);
  size_t cut = name.size();
  TrailingNumber(name, &cut);
  std::string base = FoldCase(name.substr(0, cut));
  long long largest = 0;
  // The iterator is not const; the walk only reads.
  auto it = const_cast<TResource&>(list).iterator();
  while (it && it->hasNext()) {
    const TResource* child = it->next();
    if (FoldCase(child->name).find(base) == std::string::npos) continue;
    largest = std::max(largest, TrailingNumber(child->name));
  }
  return std::string(name.substr(0, cut)) + "_" + std::to_string(largest + 1);
}

bool mergeMissing(TResource& target, TResource& source) {
  // Collected first, so merging a list into itself (or into its own child) stays finite.
  std::vector<TResource*> children;
  for (auto it = source.iterator(); it && it->hasNext();) children.push_back(it->next());
  bool added = false;
  for (TResource* child : children) {
    if (target.findChild(child->name)) continue;
    if (auto copy = child->clone())
      if (target.add(std::move(copy))) added = true;
  }
  return added;
}

} // namespace brova
