// Custom resources with their script instances, and the natives behind resources, markup
// elements and the System class, on the boot fixtures' kernel compiled for real.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "boot_support.h"
#include "native_frame.h"
#include "natives/resource_natives.h"
#include "natives/system_natives.h"
#include "resources/custom_resource.h"
#include "resources/message_table.h"
#include "resources/resource_list.h"
#include "resources/sgml.h"
#include "runtime/value_list.h"

namespace brova {
namespace {

using testing::Crlf;
using testing::MessageLog;

class ResourceNatives : public testing::BootTest {
protected:
  void SetUp() override {
    BootTest::SetUp();
    CopyFixtureKernel();
    ASSERT_TRUE(BootKernel(Home().string()));
    Bind("BuiltInResource", natives::kBuiltInResourceNatives, natives::kBuiltInResourceNativeCount);
    Bind("classes.customres.CustomResource", natives::kCustomResourceNatives,
         natives::kCustomResourceNativeCount);
    Bind("classes.lang.CMML", natives::kCMMLNatives, natives::kCMMLNativeCount);
    SetInt(*GlobalSlotInTree("$initCalls"), 0);
    SetInt(*GlobalSlotInTree("$initAnswer"), 2);
    SetInt(*GlobalSlotInTree("$initFails"), 0);
  }

  void TearDown() override {
    natives::SetExitHandler({});
    BootTest::TearDown();
  }

  static void Bind(const char* cls, const natives::TNativeBinding* rows, size_t n) {
    TRTTI* c = findClass(cls);
    ASSERT_NE(c, nullptr) << cls;
    for (size_t i = 0; i < n; ++i) BindNative(c, rows[i].name, rows[i].body);
  }

  // The project list read from markup and attached under the root.
  TResource* Project(std::string_view pages) {
    std::string text = "<resourcelist name=\"project\">\n <resourcelist name=\"pages\">\n" +
                       std::string(pages) + " </resourcelist>\n</resourcelist>\n";
    TBaseDirScope scope(Home().string());
    return attachResource("project", parseResource(Crlf(text)));
  }

  static std::string Global(const char* name) { return ValueToText(*GlobalSlotInTree(name)); }
  static int Eval(const std::string& text) { return EvalSnippet("extends Object; " + text); }
};

TEST_F(ResourceNatives, ACustomResourceMakesItsInstanceAndSavesItsStringFields) {
  TResource* project =
      Project("  <page name=\"$page_a\" src=\"a.cmml\"><resinst type=\"string\" name=\"label\" "
              "value=\"say %22hi%22\"/><resinst type=\"int\" name=\"n\" value=\"3\"/></page>\n");
  auto* page = dynamic_cast<TCustomResource*>(project->resolve("pages.$page_a"));
  ASSERT_NE(page, nullptr);
  TfObject* obj = page->instance();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(ClassOf(obj), findClass("Page"));
  EXPECT_EQ(obj->refCount, 1) << "the wrapper holds it";
  ASSERT_NE(FieldSlotByName(obj, "label"), nullptr);
  EXPECT_EQ(ValueToText(*FieldSlotByName(obj, "label")), "say \"hi\"");
  TValue* back = FieldSlotByName(obj, "_generator");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(NativeOfKind<TResource>(*back), page);

  // The script object of the resource is its instance, and script reaches the resource.
  SetGlobalInTree("$p", page->scriptObject());
  ASSERT_EQ(Eval("$name = $p.getName(); $path = $p.getFullPath();"), 0);
  EXPECT_EQ(Global("$name"), "$page_a");
  EXPECT_EQ(Global("$path"), "project.pages.$page_a");

  ASSERT_EQ(Eval("$p.label = \"Hi\"; $p.title = \"T\"; $p.count = 3;"), 0);
  TBaseDirScope scope(Home().string());
  std::vector<std::string> lines;
  page->save(lines, "   ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "<Page name=\"$page_a\" src=\"a.cmml\">\r\n"
                      " <resinst type=\"string\" name=\"label\" value=\"Hi\"/>"
                      " <resinst type=\"string\" name=\"title\" value=\"T\"/></Page>");
}

TEST_F(ResourceNatives, CustomResourceInitialisationCountsWhatOnInitAnswers) {
  struct Case {
    int answer;
    bool initialised;
    const char* message;
  };
  for (const Case& c : {Case{2, true, ""}, Case{3, false, "Initialization Failed"},
                        Case{0, false, "Recursive Inheritance"}, Case{9, true, ""}}) {
    SCOPED_TRACE(c.answer);
    SetInt(*GlobalSlotInTree("$initAnswer"), c.answer);
    SetInt(*GlobalSlotInTree("$initCalls"), 0);
    TResource* project = Project("  <page name=\"$page_a\" src=\"a.cmml\"/>\n");
    bool ok = false;
    std::string error;
    try {
      ok = project->initialize();
    } catch (const EScriptError& e) {
      error = e.what();
    }
    EXPECT_EQ(ok, c.initialised);
    EXPECT_EQ(error, c.message);
    EXPECT_GE(ValueToInt(*GlobalSlotInTree("$initCalls")), 1);
    EXPECT_EQ(Global("$_tmp_val1"), "0") << "the instance is not kept in the global";
    detachResource("project");
  }

  // An onInit stopped by an error fails its resource, whatever $_tmp_val2 held before.
  SetInt(*GlobalSlotInTree("$initFails"), 1);
  ASSERT_EQ(Eval("$_tmp_val2 = 2;"), 0);
  TResource* project = Project("  <page name=\"$page_a\" src=\"a.cmml\"/>\n");
  auto* page = static_cast<TCustomResource*>(project->resolve("pages.$page_a"));
  TInitContext ctx;
  page->initPass(ctx);
  EXPECT_EQ(ctx.failed, 1);
  EXPECT_EQ(ctx.done, 0);
}

TEST_F(ResourceNatives, CustomResourcesWithoutAnInstance) {
  MessageLog log;
  TResource* project = Project(
      "  <Ranking name=\"$old\" browserURL=\"http://x\"><resinst type=\"string\" name=\"a\" "
      "value=\"b\"/></Ranking>\n");
  EXPECT_TRUE(
      log.Has("This page are created by older version of Brova: Ranking on the Net disabled."));
  auto* old = dynamic_cast<TCustomResource*>(project->resolve("pages.$old"));
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->instance(), nullptr);
  detachResource("project");
  project = Project("  <Ranking name=\"$new\"/>\n");
  EXPECT_NE(static_cast<TCustomResource*>(project->resolve("pages.$new"))->instance(), nullptr);
  detachResource("project");

  // A tag whose class is not compiled keeps what it read and writes it back unchanged.
  TRTTI* page = findClass("Page");
  page->compiled = false;
  project = Project(
      "  <page name=\"$page_a\"><resinst type=\"string\" name=\"x\" value=\"1\"/></page>\n");
  page->compiled = true;
  auto* custom = static_cast<TCustomResource*>(project->resolve("pages.$page_a"));
  EXPECT_EQ(custom->instance(), nullptr);
  TInitContext ctx;
  custom->initPass(ctx);
  EXPECT_EQ(ctx.pending + ctx.done + ctx.failed, 0);
  std::vector<std::string> lines;
  custom->save(lines, "");
  EXPECT_EQ(lines[0],
            "<page name=\"$page_a\">\r\n <resinst type=\"string\" name=\"x\" value=\"1\"/></page>");
}

TEST_F(ResourceNatives, BuiltInResourceGivesSubResourcesAndCustomInstances) {
  TResource* project = Project("  <page name=\"$page_a\" src=\"a.cmml\"/>\n"
                               "  <page name=\"$page_b\" src=\"b.cmml\"/>\n");
  TResource* pages = project->resolve("pages");
  SetGlobalInTree("$list", pages->scriptObject());
  ASSERT_EQ(ClassOf(ObjectOf(*GlobalSlotInTree("$list"))), findClass("BuiltInResource"));
  ASSERT_EQ(Eval("$subs = $list.subResources(); $none = $list.custom();"), 0);
  TfObject* array = ObjectOf(*GlobalSlotInTree("$subs"));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(ClassOf(array), findClass("Array"));
  auto* list = NativeOfKind<TList>(*FieldSlotByName(array, "_x"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->items.size(), 2u);
  EXPECT_EQ(NativeOfKind<TResource>(list->items[1]), pages->findChild("$page_b"));
  EXPECT_EQ(Global("$none"), "null");

  TResource* pageA = pages->findChild("$page_a");
  SetGlobalInTree("$r", NativeValue(pageA->Handle()));
  SetGlobalInTree("$g", NativeValue(pages->Handle()));
  ASSERT_EQ(Eval("$b = new BuiltInResource($r); $inst = $b.custom();"
                 "$c = new BuiltInResource($g); $empty = $c.custom();"
                 "$d = new BuiltInResource($r); $notList = $d.subResources();"),
            0);
  EXPECT_EQ(ObjectOf(*GlobalSlotInTree("$inst")), static_cast<TCustomResource*>(pageA)->instance());
  EXPECT_EQ(Global("$empty"), "null");
  EXPECT_EQ(Global("$notList"), "null");
}

TEST_F(ResourceNatives, CustomResourceNativesWithoutAResourceGiveZero) {
  testing::TNativeFrame frame;
  for (NativeBody body : {natives::CustomResourceGetName, natives::CustomResourceGetURL,
                          natives::CustomResourceGetFullPath}) {
    EXPECT_EQ(ValueToText(frame.Call(body, IntValue(5), {IntValue(7)})), "0");
    EXPECT_EQ(ValueToText(frame.Call(body, IntValue(5), {})), "5") << "too few arguments";
  }
  TResource* project = Project("  <page name=\"$page_a\" src=\"a.cmml\"/>\n");
  TResource* page = project->resolve("pages.$page_a");
  EXPECT_EQ(ValueToText(frame.Call(natives::CustomResourceGetURL, IntValue(5),
                                   {NativeValue(page->Handle())})),
            (Home() / "a.cmml").string());
}

TEST_F(ResourceNatives, CMMLWrapsMarkupElements) {
  auto document =
      std::shared_ptr<TSGML>(readElement(Crlf("<root a=\"1\"><x/><y k=\"v\"/></root>")));
  ASSERT_NE(document, nullptr);
  SetGlobalInTree("$c", natives::WrapElement(document, *document));
  ASSERT_EQ(ClassOf(ObjectOf(*GlobalSlotInTree("$c"))), findClass("CMML"));
  EXPECT_EQ(natives::ElementHandle(document, *document),
            natives::ElementHandle(document, *document))
      << "one holder per element";

  ASSERT_EQ(
      Eval("$tag = $c.tag(); $a = $c.attr(\"A\"); $none = $c.attr(\"zz\");"
           "$c.setAttr(\"b\", 2); $c.rename(\"top\");"
           "$added = $c.add(\"item name=\\\"first\\\" n=\\\"2\\\"\"); $addedTag = $added.tag();"
           "$items = $c.items();"),
      0);
  EXPECT_EQ(Global("$tag"), "root");
  EXPECT_EQ(Global("$a"), "1");
  EXPECT_EQ(Global("$none"), "");
  EXPECT_EQ(document->getTagName(), "top");
  EXPECT_EQ(document->getAttr("b"), "2");
  EXPECT_EQ(Global("$addedTag"), "item");
  const TSGML::SubItems* children = document->getSubItems();
  ASSERT_EQ(children->size(), 3u);
  EXPECT_EQ(children->back()->getAttr("name"), "first");
  EXPECT_EQ(children->back()->getAttr("n"), "2");

  TfObject* items = ObjectOf(*GlobalSlotInTree("$items"));
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(ValueToText(*FieldSlotByName(items, "_count")), "3");
  TfObject* last = ObjectOf(*FieldSlotByName(items, "_last"));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(ClassOf(last), findClass("CMML"));

  auto leaf = std::shared_ptr<TSGML>(readElement("<leaf/>"));
  SetGlobalInTree("$leaf", natives::WrapElement(leaf, *leaf));
  ASSERT_EQ(Eval("$leafItems = $leaf.items();"), 0);
  EXPECT_EQ(ValueToText(*FieldSlotByName(ObjectOf(*GlobalSlotInTree("$leafItems")), "_count")),
            "Variable_count")
      << "an element without children gives an empty array";
}

TEST_F(ResourceNatives, SystemNatives) {
  testing::TNativeFrame frame;
  TValue self = IntValue(9);
  EXPECT_EQ(ValueToText(frame.Call(natives::SystemVersion, self, {})), "1240");
  EXPECT_EQ(ValueToText(frame.Call(natives::SystemLocale, self, {})), "locale");
  testing::WriteFile(Home() / "Kernel/message.ini", "locale=ja\r\n");
  LoadMessageTable((Home() / "Kernel/message.ini").string());
  EXPECT_EQ(ValueToText(frame.Call(natives::SystemLocale, self, {})), "ja");

  frame.Call(natives::SystemSetStackSize, self, {FloatValue(4096.9f)});
  EXPECT_EQ(defaultStackSize, 4096);
  frame.Call(natives::SystemSetStackSize, self, {});
  EXPECT_EQ(defaultStackSize, 4096) << "too few arguments";

  TFrameScheduler& s = Scheduler();
  s.framePeriod = 17;
  s.maxFramesPerPass = 7;
  frame.Call(natives::SystemSetFrameRate, self, {IntValue(5)});
  EXPECT_EQ(s.framePeriod, 17);
  frame.Call(natives::SystemSetFrameRate, self, {IntValue(33), IntValue(2)});
  EXPECT_EQ(s.framePeriod, 33);
  EXPECT_EQ(s.maxFramesPerPass, 2);
  frame.Call(natives::SystemSetFrameRate, self, {IntValue(20), IntValue(0)});
  EXPECT_EQ(s.framePeriod, 20);
  EXPECT_EQ(s.maxFramesPerPass, 2);
  s.framePeriod = 17;
  s.maxFramesPerPass = 7;

  frame.Call(natives::SystemExit, self, {}); // no handler: nothing happens
  int exits = 0;
  natives::SetExitHandler([&] { ++exits; });
  frame.Call(natives::SystemExit, self, {});
  frame.Call(natives::SystemOpenIDE, self, {});
  frame.Call(natives::SystemEditCode, self, {});
  EXPECT_EQ(exits, 2);
}

} // namespace
} // namespace brova
