// The resource tree as a whole: its root, the folder relative paths resolve against, the
// global variables (found, or made on first use, in the kernel list `usrglobal`), and the
// operations that attach, detach, save and merge resources by dotted name.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resource.h"

namespace brova {

class TGlobalValue;
class TResourceList;
class TRTTI;

// ---- shared state

TResource* ResourceRoot();
// Frees the previous root.
void SetResourceRoot(std::unique_ptr<TResource> root);
std::unique_ptr<TResource> TakeResourceRoot();

// The folder against which relative `src` paths of parsed text resolve: the program folder
// at boot, the page's folder while a page is open.
const std::string& ResourceBaseDir();
void SetResourceBaseDir(std::string dir);

// Sets the resource folder for a scope and restores the previous one.
class TBaseDirScope {
public:
  explicit TBaseDirScope(std::string dir) : saved_(ResourceBaseDir()) {
    SetResourceBaseDir(std::move(dir));
  }
  ~TBaseDirScope() { SetResourceBaseDir(std::move(saved_)); }
  TBaseDirScope(const TBaseDirScope&) = delete;
  TBaseDirScope& operator=(const TBaseDirScope&) = delete;

private:
  std::string saved_;
};

// The root's list `usrglobal`; null when there is none.
TResourceList* GlobalsList();
// The global value `name` of GlobalsList(); made there (unset) when `create` is set and it
// is missing.
TGlobalValue* GlobalEntry(std::string_view name, bool create);

// ---- globals for the runtime

// The heap slot of the global "$name" resolved from the root (the entry is made on first
// use); null for a name without "$", an empty name, or a path that resolves to nothing.
TValue* GlobalSlotInTree(std::string_view name);
// AssignValue into GlobalSlotInTree(name) when there is a slot.
void SetGlobalInTree(std::string_view name, const TValue& value);
// Keeps the page's declared globals in usr.global: the list is made when missing (nothing
// happens without `usr`); `add` makes an entry with an empty value unless one exists,
// otherwise the entry of that name is removed.
void DeclareGlobalInTree(std::string_view name, bool add);

// ---- lookups

TResourceList* findList(std::string_view path);
TRTTI* findClass(std::string_view path);

// ---- building and changing the tree

enum class TNodeKind { List, GlobalValue, Class, Link };

// Makes a resource of `kind` whose src is `path` (resolved against the resource folder) and
// attaches it under the parent path of `dottedName` with its last name. A class whose source
// is missing gets one ("extends classes.lang.Object;"); a link to a missing file gets an
// empty list file. Returns the attached resource; null (and nothing kept) when the parent
// path resolves to nothing or the linked file gives no resource.
TResource* newResourceNode(const std::string& path, std::string_view dottedName, TNodeKind kind);

// Renames the resource to the last name of `dottedName` and adds it under the parent path.
// Returns it, or null when there is no parent (the resource is then freed).
TResource* attachResource(std::string_view dottedName, std::unique_ptr<TResource> resource);
// Removes the resource at `dottedName` from its parent and frees it.
void detachResource(std::string_view dottedName);

// Writes the resource to its `src` with CR LF after every line, relative paths made against
// the file's own folder. A resource without `src` shows "... Cannot be saved.".
bool saveResource(std::string_view dottedName);
// The resource's lines joined with CR LF after each, as saveResource writes them.
std::string SavedText(TResource& resource);

// `name` when no child of `list` has it; otherwise the base (without a trailing "_digits")
// followed by "_" and one more than the largest such number among the children whose name
// contains the base.
std::string uniqueChildName(const TResource& list, std::string_view name);
// Adds to `target` a clone of every child of `source` whose name `target` lacks; whether
// anything was added.
bool mergeMissing(TResource& target, TResource& source);

} // namespace brova
