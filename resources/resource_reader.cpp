#include "resources/resource_reader.h"

#include <vector>

#include "platform/message_sink.h"
#include "resources/custom_resource.h"
#include "resources/generator.h"
#include "resources/global_value.h"
#include "resources/module_resource.h"
#include "resources/param.h"
#include "resources/pattern_resource.h"
#include "resources/resource_list.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

// Lists (and links within them) nest by recursion; deeper than this a file is taken as
// damaged rather than risk the host stack.
constexpr int kMaxListDepth = 200;
int g_listDepth = 0;

class TListLevel {
public:
  TListLevel() { ++g_listDepth; }
  ~TListLevel() { --g_listDepth; }
  TListLevel(const TListLevel&) = delete;
  TListLevel& operator=(const TListLevel&) = delete;
};

// The files whose reading is under way, outermost first.
std::vector<std::string>& FilesBeingRead() {
  static std::vector<std::string> files;
  return files;
}

class TReadingFile {
public:
  explicit TReadingFile(std::string file) { FilesBeingRead().push_back(std::move(file)); }
  ~TReadingFile() { FilesBeingRead().pop_back(); }
  TReadingFile(const TReadingFile&) = delete;
  TReadingFile& operator=(const TReadingFile&) = delete;
};

template <class T>
std::unique_ptr<TResource> Make(const TSGML& element, const std::string& baseDir) {
  auto r = std::make_unique<T>();
  r->readFrom(element, baseDir);
  return r;
}

std::unique_ptr<TResource> Create(const TSGML& element, const std::string& baseDir) {
  const std::string& tag = element.getTagName();
  if (tag == "resourcelist" || tag == "classlist") {
    TListLevel level;
    if (g_listDepth > kMaxListDepth) {
      platform::ShowMessage(element.getAttr("name") +
                            Translate(": Resource lists nested too deeply; skipped."));
      return nullptr;
    }
    auto list = std::make_unique<TResourceList>();
    list->readFrom(element, baseDir);
    if (const TSGML::SubItems* items = element.getSubItems())
      for (const auto& item : *items)
        if (auto child = Create(*item, baseDir)) list->add(std::move(child));
    return list;
  }
  if (tag == "class") return Make<TRTTI>(element, baseDir);
  if (tag == "globalvalue") return Make<TGlobalValue>(element, baseDir);
  if (tag == "link") return loadResourceFile(JoinPath(element.getAttr("src"), baseDir));
  if (tag == "param") return Make<TfParam>(element, baseDir);
  if (tag == "generator") return Make<TGenerator>(element, baseDir);
  if (tag == "cpattern") return Make<TCPat>(element, baseDir);
  if (tag == "module") return Make<TModuleRes>(element, baseDir);
  if (findClass("classes.customres." + tag)) return Make<TCustomResource>(element, baseDir);
  platform::ShowMessage(tag + Translate(": Invalid Tag Name"));
  return nullptr;
}

} // namespace

std::unique_ptr<TResource> createResource(const TSGML& element, const std::string& baseDir) {
  return Create(element, baseDir);
}

std::unique_ptr<TResource> loadResourceText(std::string_view text, const std::string& baseDir) {
  std::unique_ptr<TSGML> element = readElement(text);
  if (!element) {
    platform::ShowMessage(Translate("The resource text holds no element."));
    return std::make_unique<TResourceList>();
  }
  return createResource(*element, baseDir);
}

std::unique_ptr<TResource> parseResource(std::string_view text) {
  return loadResourceText(text, ResourceBaseDir());
}

std::unique_ptr<TResource> loadResourceFile(const std::string& path) {
  std::string file = ResolveExistingPath(JoinPath(path, ResourceBaseDir()));
  for (const std::string& open : FilesBeingRead()) {
    if (SamePath(open, file)) {
      platform::ShowMessage(
          file + Translate(" links back to a file that is being read; the link is skipped."));
      return nullptr;
    }
  }
  TReadingFile reading(file);
  std::unique_ptr<TSGML> element = readMarkupFile(file);
  std::unique_ptr<TResource> resource = createResource(*element, ParentFolder(file));
  if (resource) resource->src = file;
  return resource;
}

} // namespace brova
