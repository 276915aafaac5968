#include "resources/modules.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/dynamic_library.h"
#include "platform/message_sink.h"
#include "resources/module_resource.h"
#include "resources/resource_list.h"
#include "resources/resource_tree.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "runtime/value.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

static_assert(sizeof(BrovaValue) == sizeof(TValue) && alignof(BrovaValue) == alignof(TValue));
static_assert(offsetof(BrovaValue, payload) == offsetof(TValue, i));

TValue* V(BrovaValue* v) { return reinterpret_cast<TValue*>(v); }
const TValue* V(const BrovaValue* v) { return reinterpret_cast<const TValue*>(v); }

void ServiceBindNative(const char* classPath, const char* nativeName, BrovaNativeBody body) {
  if (!classPath || !nativeName || !body) return;
  TRTTI* cls = findClass(classPath);
  // Both signatures pass a pointer to an 8-byte value and two 32-bit integers.
  if (cls) BindNative(cls, nativeName, reinterpret_cast<NativeBody>(body));
}

BrovaValue* ServiceReceiver(BrovaValue* block) { return block; }

BrovaValue* ServiceArgument(BrovaValue* block, int32_t n) { return block ? block - n : nullptr; }

uint8_t ServiceKind(const BrovaValue* v) { return v ? v->kind : uint8_t(vtNull); }

int32_t ServiceToInteger(const BrovaValue* v) { return v ? ValueToInt(*V(v)) : 0; }

int32_t ServiceToText(const BrovaValue* v, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return 0;
  std::string text = v ? ValueToText(*V(v)) : std::string();
  size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

BrovaValue* ServiceCopy(BrovaValue* destination, const BrovaValue* source) {
  if (!destination) return destination;
  AssignValue(*V(destination), source ? *V(source) : NullValue());
  return destination;
}

int32_t ServiceSetInteger(BrovaValue* v, int32_t integer) {
  if (v) SetInt(*V(v), integer);
  return integer;
}

BrovaServices& Table() {
  static BrovaServices table{};
  return table;
}

std::vector<std::string>& ClassNames() {
  static std::vector<std::string> names;
  return names;
}

class TModuleInitializer final : public TResourceIterator {
public:
  void visit(TResource& resource) override {
    if (auto* module = dynamic_cast<TModuleRes*>(&resource)) {
      if (!module->library) return; // its load failure has been reported
      void* entry = platform::FindSymbol(module->library, BROVA_INIT_MODULE_SYMBOL);
      if (!entry) {
        platform::ShowMessage(module->src +
                              Translate(": the module library has no initModule; it is not "
                                        "initialised."));
        return;
      }
      reinterpret_cast<BrovaInitModule>(entry)(&Table());
    } else if (auto* cls = dynamic_cast<TRTTI*>(&resource)) {
      ClassNames().push_back(cls->name);
    }
  }
};

} // namespace

std::vector<std::string> SubfolderNames(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kindError;
    if (it->is_directory(kindError)) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void loadModules(const std::string& programDir) {
  TResourceList* modules = findList("modules");
  if (!modules) return;
  std::string folder = ResolveExistingPath(JoinPath("kernel/modules", programDir));
  for (const std::string& name : SubfolderNames(folder)) {
    std::string file = ResolveExistingPath(JoinPath(name + "/" + name + ".brovares", folder));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) continue;
    newResourceNode(file, "modules." + name, TNodeKind::Link);
  }
  modules->initialize();
}

void initModules() {
  Table() = BrovaServices{ServiceBindNative, ServiceReceiver, ServiceArgument, ServiceKind,
                          ServiceToInteger,  ServiceToText,   ServiceCopy,     ServiceSetInteger};
  ClassNames().clear();
  TResource* modules = findList("modules");
  if (!modules) return;
  TModuleInitializer initializer;
  modules->accept(initializer);
}

const BrovaServices& ModuleServices() { return Table(); }

const std::vector<std::string>& ModuleClassNames() { return ClassNames(); }

} // namespace brova
