// Modules: discovery under kernel/modules, libraries that bind natives through the service
// table and are called from script, the failures a library can have, and the services one
// at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boot_support.h"
#include "native_frame.h"
#include "resources/module_resource.h"
#include "resources/modules.h"
#include "resources/resource_list.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using testing::MessageLog;

#ifdef BROVA_TEST_MODULE_DIR
const fs::path kLibs = BROVA_TEST_MODULE_DIR;
#endif

class Modules : public testing::BootTest {
protected:
  // The fixture kernel with the module folders `names` (the test libraries copied in).
  void InstallModules(std::initializer_list<const char*> names) {
    CopyFixtureKernel();
    for (const char* name : names) {
      fs::path to = Home() / "kernel/modules" / name;
      fs::create_directories(to);
      fs::copy(testing::kBootFixtures / "modules" / name, to, fs::copy_options::recursive);
#ifdef BROVA_TEST_MODULE_DIR
      for (const auto& lib : fs::directory_iterator(kLibs))
        fs::copy(lib.path(), to / lib.path().filename());
#endif
    }
  }

  static bool HaveLibraries() {
#ifdef BROVA_TEST_MODULE_DIR
    return true;
#else
    return false;
#endif
  }

  // The value of $r after `expression` ran in a snippet that extends Greeter.
  std::string Run(const std::string& expression) {
    EXPECT_EQ(EvalSnippet("extends Greeter; $r = " + expression + ";"), 0) << expression;
    return ValueToText(*GlobalSlotInTree("$r"));
  }
};

TEST_F(Modules, ALibraryBindsNativesThatScriptsCall) {
  if (!HaveLibraries()) GTEST_SKIP() << "tests/modules is not built";
  InstallModules({"greet", "nofile"});
  MessageLog log;
  ASSERT_TRUE(BootKernel(Home().string()));
  std::vector<std::string> aboutGreeter;
  for (const std::string& text : log.texts)
    if (text.find("Greeter") != std::string::npos) aboutGreeter.push_back(text);
  EXPECT_EQ(aboutGreeter,
            (std::vector<std::string>{"ClassGreeter: native functionundeclared is undefined."}))
      << "a path naming no class is ignored quietly";

  TResourceList* modules = findList("modules");
  ASSERT_EQ(modules->size(), 1u) << "a folder without its resource file is no module";
  EXPECT_EQ(modules->child(0)->name, "greet") << "named after its folder, not its file";
  TRTTI* greeter = findClass("modules.greet.Greeter");
  ASSERT_NE(greeter, nullptr);
  EXPECT_TRUE(greeter->compiled);
  EXPECT_EQ(findClass("Greeter"), greeter);
  EXPECT_EQ(ModuleClassNames(), (std::vector<std::string>{"Greeter"}));

  EXPECT_EQ(Run("twice(21)"), "42");
  EXPECT_EQ(Run("twice(-2.7)"), "-4");
  EXPECT_EQ(Run("echo(\"hello\")"), "hello");
  EXPECT_EQ(Run("textLength(12345)"), "5");
  EXPECT_EQ(Run("kindOf(1.5)"), "2");
}

TEST_F(Modules, TheModuleInitialisedLaterWinsAndFailingLibrariesAreReported) {
  if (!HaveLibraries()) GTEST_SKIP() << "tests/modules is not built";
  InstallModules({"bare", "broken", "greet", "later"});
  MessageLog log;
  ASSERT_TRUE(BootKernel(Home().string()));
  EXPECT_TRUE(log.Has("missing.so: the module library cannot be loaded: "));
  EXPECT_TRUE(log.Has("libbrova_test_bare.so: the module library has no initModule; it is not "
                      "initialised."));
  auto* broken = dynamic_cast<TModuleRes*>(ResourceRoot()->resolve("modules.broken.lib"));
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->library, nullptr);
  EXPECT_EQ(Run("twice(5)"), "15") << "later (after greet) binds twice again";
}

TEST_F(Modules, WithoutModulesTheBootGoesOn) {
  CopyFixtureKernel();
  ASSERT_TRUE(BootKernel(Home().string()));
  EXPECT_EQ(findList("modules")->size(), 0u);
  EXPECT_TRUE(ModuleClassNames().empty());
}

TEST_F(Modules, AModuleClassThatDoesNotCompileStopsTheBoot) {
  InstallModules({"greet"});
  testing::WriteFile(Home() / "kernel/modules/greet/Greeter.brova", "native ;");
  MessageLog log;
  EXPECT_FALSE(BootKernel(Home().string()));
  EXPECT_TRUE(log.Has("Initialization Failed"));
}

// The services called the way a library calls them, on values in the script heap.
TEST_F(Modules, TheServiceTable) {
  CopyFixtureKernel();
  ASSERT_TRUE(BootKernel(Home().string()));
  const BrovaServices& s = ModuleServices();
  auto* cells = HeapPtr<TValue>(heap::Allocate(4 * sizeof(TValue)));
  for (int i = 0; i < 4; ++i) cells[i] = NullValue();
  auto* block = reinterpret_cast<BrovaValue*>(&cells[3]);
  EXPECT_EQ(s.receiver(block), block);
  EXPECT_EQ(s.argument(block, 2), reinterpret_cast<BrovaValue*>(&cells[1]));

  TValue text = ObjectValue(MakeString("a longer text"));
  AssignValue(cells[0], text);
  const struct {
    TValue value;
    uint8_t kind;
    int32_t integer;
    const char* text;
  } cases[] = {
      {FloatValue(-2.7f), BROVA_FLOAT, -2, "-2.70000004768372"},
      {IntValue(42), BROVA_INT, 42, "42"},
      {cells[0], BROVA_OBJECT, 1, "a longer text"},
      {NullValue(), BROVA_NULL, 0, "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto* v = reinterpret_cast<const BrovaValue*>(&c.value);
    EXPECT_EQ(s.kind(v), c.kind);
    EXPECT_EQ(s.toInteger(v), c.integer);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(s.toText(v, buffer, sizeof buffer), static_cast<int32_t>(std::strlen(c.text)));
    EXPECT_STREQ(buffer, c.text);
  }

  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(s.toText(reinterpret_cast<BrovaValue*>(&cells[0]), small, 4), 3);
  EXPECT_STREQ(small, "a l");
  EXPECT_EQ(small[4], 'x') << "nothing beyond the given size";
  EXPECT_EQ(s.toText(reinterpret_cast<BrovaValue*>(&cells[0]), small, 0), 0);

  TfObject* obj = ObjectPtr(cells[0]);
  int32_t refs = obj->refCount;
  auto* dst = reinterpret_cast<BrovaValue*>(&cells[1]);
  EXPECT_EQ(s.copy(dst, reinterpret_cast<BrovaValue*>(&cells[0])), dst);
  EXPECT_EQ(obj->refCount, refs + 1);
  EXPECT_EQ(s.setInteger(dst, 7), 7);
  EXPECT_EQ(obj->refCount, refs) << "overwriting releases";
  EXPECT_EQ(ValueToInt(cells[1]), 7);
  s.copy(dst, nullptr);
  EXPECT_EQ(cells[1].kind, vtNull);

  for (int i = 0; i < 4; ++i) SetNull(cells[i]);
  heap::Free(HeapAddrOf(cells), 4 * sizeof(TValue));
}

} // namespace
} // namespace brova
