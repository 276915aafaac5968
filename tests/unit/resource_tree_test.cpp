#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "class_builder.h"
#include "resource_support.h"
#include "resources/custom_resource.h"
#include "resources/generator.h"
#include "resources/global_value.h"
#include "resources/resource_list.h"
#include "runtime/errors.h"

namespace brova {
namespace {

using testing::Crlf;
using testing::MessageLog;

constexpr const char* kSmallKernel = R"(<resourcelist name="kernel">
 <classlist name="classes">
  <classlist name="lang">
   <class name="Object" src="lang/Object.brova" category="lang"/>
  </classlist>
  <classlist name="scr">
   <class name="Sprite" src="scr/Sprite.brova" category="scr"/>
  </classlist>
  <classlist name="customres">
   <class name="Page" src="customres/Page.brova"/>
  </classlist>
 </classlist>
 <resourcelist name="usrglobal">
  <globalvalue name="$screenWidth" value="640"/>
 </resourcelist>
</resourcelist>
)";

class ResourceTree : public testing::TreeTest {};

TEST_F(ResourceTree, ResolvesDottedPathsIgnoringCase) {
  TResource* root = Root(kSmallKernel);
  TResource* object = root->resolve("classes.lang.Object");
  ASSERT_NE(object, nullptr);
  EXPECT_STREQ(object->NativeClassName(), "TRTTI");
  for (const char* path : {"CLASSES.LANG.OBJECT", "Classes.Lang.object", "Object", "OBJECT"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(root->resolve(path), object);
  }
  EXPECT_EQ(root->resolve(""), root);
  EXPECT_EQ(root->resolve("classes.lang")->resolve("object"), object);
  EXPECT_EQ(object->dottedPath(), "classes.lang.Object");
  for (const char* path : {"classes.lang.Nothing", "nothing.lang", "classes.Object", "Object.x"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(root->resolve(path), nullptr);
  }
  EXPECT_EQ(findClass("classes.scr.sprite"), root->resolve("Sprite"));
  EXPECT_EQ(findList("classes.scr"), root->resolve("classes.scr"));
  EXPECT_EQ(findList("classes.scr.Sprite"), nullptr);
  EXPECT_EQ(findClass("classes.scr"), nullptr);
}

TEST_F(ResourceTree, GlobalsAreMadeOnFirstLookupAndOnlyFromTheRoot) {
  TResource* root = Root(kSmallKernel);
  TResourceList* globals = GlobalsList();
  ASSERT_NE(globals, nullptr);
  size_t before = globals->size();

  TResource* score = root->resolve("$score");
  ASSERT_NE(score, nullptr);
  EXPECT_EQ(score->parent, globals);
  EXPECT_EQ(root->resolve("$SCORE"), score);
  EXPECT_EQ(globals->size(), before + 1) << "made once";
  EXPECT_EQ(ValueToText(*score->valuePtr()), "Variable$score");

  for (const char* path : {"usr.$other", "classes.$other", "$a.b"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(root->resolve(path), nullptr);
  }
  EXPECT_EQ(globals->size(), before + 1) << "a path below the root makes no global";

  TValue* slot = GlobalSlotInTree("$score");
  EXPECT_EQ(slot, score->valuePtr());
  EXPECT_TRUE(heap::Contains(HeapAddrOf(slot), sizeof(TValue))) << "code refers to it by vtRef";
  SetGlobalInTree("$score", IntValue(12));
  EXPECT_EQ(ValueToInt(*slot), 12);
  EXPECT_EQ(GlobalSlotInTree("score"), nullptr);
  EXPECT_EQ(GlobalSlotInTree(""), nullptr);
  EXPECT_EQ(GlobalSlotInTree("$screenwidth"), root->resolve("usrglobal.$screenWidth")->valuePtr());

  SetResourceRoot(nullptr);
  EXPECT_EQ(GlobalSlotInTree("$score"), nullptr);
  Root("<resourcelist name=\"kernel\"></resourcelist>");
  EXPECT_EQ(GlobalSlotInTree("$score"), nullptr) << "no usrglobal list, nowhere to make it";
}

TEST_F(ResourceTree, ShortClassNamesOnlyWhileRegistrationIsOn) {
  TResource* root = Root(R"(<resourcelist name="kernel">
 <resourcelist name="classes">
  <class name="Sprite" src="a/Sprite.brova"/>
  <class name="SPRITE" src="b/Sprite.brova"/>
 </resourcelist>
 <resourcelist name="usr"></resourcelist>
</resourcelist>
)");
  TRTTI* first = findClass("classes.Sprite");
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->aliasRegistered);
  EXPECT_EQ(root->resolve("sprite"), first) << "the first class of a name keeps it";
  EXPECT_FALSE(static_cast<TRTTI*>(findList("classes")->child(1))->aliasRegistered);

  {
    TAliasRegistrationOff off;
    attachResource("usr.classes", loadResourceText(Crlf(R"(<resourcelist name="x">
 <class name="Enemy" src="Enemy.brova"/>
</resourcelist>
)"), "/page"));
  }
  EXPECT_TRUE(AliasRegistrationOn());
  EXPECT_NE(root->resolve("usr.classes.enemy"), nullptr);
  EXPECT_EQ(root->resolve("Enemy"), nullptr);

  detachResource("classes");
  EXPECT_EQ(root->resolve("Sprite"), nullptr) << "a freed class leaves the alias table";
  EXPECT_FALSE(Aliases().Contains("Sprite"));
}

TEST_F(ResourceTree, UniqueChildNames) {
  TResource* root = Root(R"(<resourcelist name="pages">
 <param name="page"/>
 <param name="page_2"/>
 <param name="mypage_7"/>
 <param name="other_x"/>
</resourcelist>
)");
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"page", "page_8"},     {"page_2", "page_8"},    {"PAGE", "PAGE_8"},
      {"mypage_7", "mypage_8"}, {"fresh", "fresh"},    {"page_9", "page_9"},
      {"other_x", "other_x_1"},
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(uniqueChildName(*root, name), expected);
  }
}

// Classes compile when their superclass has; `super` names it, `fails` marks a compile
// error. A global in each list counts the passes through its initial-value snippet.
TEST_F(ResourceTree, InitializationPassesAndTheirErrors) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, const char*>> classes; // name, superclass
    std::set<std::string> fails;
    const char* error; // null: succeeds
    int passes;
  };
  const std::vector<Case> cases = {
      {"superclass first", {{"Base", ""}, {"Sub", "Base"}}, {}, nullptr, 1},
      {"subclass first", {{"Sub", "Base"}, {"Base", ""}}, {}, nullptr, 2},
      {"chain backwards", {{"C", "B"}, {"B", "A"}, {"A", ""}}, {}, nullptr, 3},
      {"waiting for each other", {{"A", "B"}, {"B", "A"}}, {}, "Recursive Inheritance", 2},
      {"one waits for nothing", {{"Ok", ""}, {"Lost", "Missing"}}, {}, "Recursive Inheritance", 2},
      {"compile error", {{"Ok", ""}, {"Bad", ""}}, {"Bad"}, "Initialization Failed", 1},
      {"nothing to do", {}, {}, nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::map<std::string, std::string> superOf(c.classes.begin(), c.classes.end());
    std::string markup = "<resourcelist name=\"k\">\n <globalvalue name=\"$pass\" value=\"1\"/>\n";
    for (const auto& [name, super] : c.classes)
      markup += std::string(" <class name=\"") + name + "\" src=\"" + name + ".brova\"/>\n";
    markup += "</resourcelist>\n";
    TResource* root = Root(markup);
    int passes = 0;
    SetSnippetEvaluator([&](std::string_view text, bool) {
      EXPECT_EQ(text, "$pass=1;");
      ++passes;
      return 0;
    });
    SetClassCompiler([&](TRTTI& cls) {
      if (c.fails.count(cls.name)) {
        cls.compileFailed = true;
        return;
      }
      const std::string& super = superOf[cls.name];
      TRTTI* s = super.empty() ? nullptr : findClass(super);
      if (super.empty() || (s && s->compiled)) cls.compiled = true;
    });
    if (c.error) {
      try {
        root->initialize();
        ADD_FAILURE() << "no error";
      } catch (const EScriptError& e) {
        EXPECT_STREQ(e.what(), c.error);
      }
    } else {
      EXPECT_TRUE(root->initialize());
    }
    EXPECT_EQ(passes, c.passes);
    SetClassCompiler(nullptr);
  }
}

TEST_F(ResourceTree, TagDispatch) {
  MessageLog log;
  EXPECT_EQ(loadResourceText("<page name=\"$page_a\"/>", "/"), nullptr)
      << "a custom tag needs its class classes.customres.page in the tree";
  EXPECT_TRUE(log.Has("page: Invalid Tag Name"));

  Root(kSmallKernel);
  std::unique_ptr<TResource> read = loadResourceText(Crlf(R"(<resourcelist name="all">
 <resourcelist name="list"></resourcelist>
 <classlist name="classlist"/>
 <class name="cls" category="c">
 <globalvalue name="$g" value="1">
 <param name="p" value="v"/>
 <generator className="Hero" name="$hero"/>
 <cpattern name="$pat" src="x.bmp"/>
 <module name="mod" src="m.so"/>
 <page name="$page_a" src="a.cmml"/>
 <bogus name="skipped"/>
 <Class name="wrongcase"/>
 <param name="last"/>
</resourcelist>
)"), "/game");
  auto* all = static_cast<TResourceList*>(read.get());
  std::vector<std::string> kinds;
  for (size_t i = 0; i < all->size(); ++i)
    kinds.push_back(all->child(i)->name + ":" + all->child(i)->NativeClassName());
  EXPECT_EQ(kinds, (std::vector<std::string>{
                       "list:TResourceList", "classlist:TResourceList", "cls:TRTTI",
                       "$g:TGlobalValue", "p:TfParam", "$hero:TGenerator", "$pat:TCPat",
                       "mod:TModuleRes", "$page_a:TCustomResource", "last:TfParam"}));
  EXPECT_TRUE(log.Has("bogus: Invalid Tag Name"));
  EXPECT_TRUE(log.Has("Class: Invalid Tag Name")) << "tags are compared with case";
  EXPECT_EQ(static_cast<TRTTI*>(all->findChild("cls"))->category, "c");
  EXPECT_EQ(static_cast<TGlobalValue*>(all->findChild("$g"))->initText, "1");
  EXPECT_EQ(static_cast<TCustomResource*>(all->findChild("$page_a"))->tag, "page");
  EXPECT_EQ(all->findChild("$pat")->src, "/game/x.bmp");
}

// A stand-in for snippet evaluation that understands `$name=literal;` with an integer, a
// float or a double-quoted string.
int AssignLiteral(std::string_view text, bool) {
  static const std::regex form(R"(^(\$\w+)=(.*);$)");
  std::cmatch m;
  if (!std::regex_match(text.begin(), text.end(), m, form)) return 1;
  TValue* slot = GlobalSlotInTree(m[1].str());
  std::string lit = m[2].str();
  if (lit.size() >= 2 && lit.front() == '"' && lit.back() == '"')
    SetStringResult(*slot, lit.substr(1, lit.size() - 2));
  else if (lit.find('.') != std::string::npos)
    SetFloat(*slot, std::stof(lit));
  else
    SetInt(*slot, std::stoi(lit));
  return 0;
}

TEST_F(ResourceTree, GlobalsSurviveSavingAndReloading) {
  testing::StringClassForTests();
  TRTTI* other = testing::MakeClass("Other", {});
  struct Case {
    const char* what;
    std::string init; // literal assigned before saving; empty: left unset
    std::string saved;
    std::string reloaded; // ValueToText after reloading and initialising
  };
  const std::vector<Case> cases = {
      {"text with < and %", "\"a<b 100% >c\"", "%22a%3cb 100%25 %3ec%22", "a<b 100% >c"},
      {"integer", "-42", "-42", "-42"},
      {"float", "2.5", "2.5", "2.5"},
      {"float too large for a literal", "100000000000000000000.0", "", "Variable$g"},
      {"never assigned keeps its text", "", "7", "7"},
      {"other object", "object", "", "Variable$g"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Root("<resourcelist name=\"k\">\n <resourcelist name=\"usrglobal\">\n"
         "  <globalvalue name=\"$g\" value=\"7\"/>\n </resourcelist>\n</resourcelist>\n");
    TValue* slot = GlobalSlotInTree("$g");
    if (c.init == "object") {
      SetObject(*slot, NewInstance(other));
    } else if (!c.init.empty()) {
      ASSERT_EQ(AssignLiteral("$g=" + c.init + ";", true), 0);
    }
    std::string text = SavedText(*ResourceRoot());
    EXPECT_NE(text.find("<globalvalue name=\"$g\" value=\"" + c.saved + "\"/>"), std::string::npos)
        << text;
    if (c.init == "object") SetNull(*slot);

    SetResourceRoot(loadResourceText(text, "/"));
    SetSnippetEvaluator(AssignLiteral);
    ResourceRoot()->initialize();
    SetSnippetEvaluator(nullptr);
    EXPECT_EQ(ValueToText(*GlobalSlotInTree("$g")), c.reloaded);
  }
  DestroyAllInstances(other);
  delete other;
}

TEST_F(ResourceTree, DeclaredGlobalsOfThePage) {
  TResource* root = Root("<resourcelist name=\"k\"></resourcelist>");
  DeclareGlobalInTree("$screenWidth", true);
  EXPECT_EQ(root->resolve("usr"), nullptr) << "nothing without usr";

  attachResource("usr", std::make_unique<TResourceList>());
  DeclareGlobalInTree("$screenWidth", true);
  DeclareGlobalInTree("$SCREENWIDTH", true);
  DeclareGlobalInTree("$screenHeight", true);
  TResourceList* declared = findList("usr.global");
  ASSERT_NE(declared, nullptr);
  EXPECT_EQ(declared->size(), 2u);
  EXPECT_EQ(static_cast<TGlobalValue*>(declared->child(0))->initText, "");
  DeclareGlobalInTree("$screenwidth", false);
  ASSERT_EQ(declared->size(), 1u);
  EXPECT_EQ(declared->child(0)->name, "$screenHeight");
  DeclareGlobalInTree("$absent", false);
  EXPECT_EQ(declared->size(), 1u);
}

TEST_F(ResourceTree, NewNodesAttachAndDetach) {
  namespace fs = std::filesystem;
  fs::path dir = Scratch();
  SetResourceBaseDir(dir.string());
  Root("<resourcelist name=\"k\">\n <resourcelist name=\"usr\"></resourcelist>\n</resourcelist>\n");

  TResource* classes = newResourceNode("", "usr.classes", TNodeKind::List);
  ASSERT_NE(classes, nullptr);
  EXPECT_EQ(ResourceRoot()->resolve("usr.classes"), classes);

  TResource* hero = newResourceNode("Hero.brova", "usr.classes.Hero", TNodeKind::Class);
  ASSERT_NE(hero, nullptr);
  EXPECT_STREQ(hero->NativeClassName(), "TRTTI");
  EXPECT_EQ(hero->src, (dir / "Hero.brova").string());
  EXPECT_EQ(testing::ReadFile(dir / "Hero.brova"), "extends classes.lang.Object;\r\n");
  testing::WriteFile(dir / "Kept.brova", "extends Sprite;\r\n");
  newResourceNode("Kept.brova", "usr.classes.Kept", TNodeKind::Class);
  EXPECT_EQ(testing::ReadFile(dir / "Kept.brova"), "extends Sprite;\r\n")
      << "an existing source stays";

  TResource* g = newResourceNode("", "usr.$lives", TNodeKind::GlobalValue);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(static_cast<TGlobalValue*>(g)->initText, "0");

  TResource* linked = newResourceNode("sounds.brovares", "usr.sounds", TNodeKind::Link);
  ASSERT_NE(linked, nullptr);
  EXPECT_EQ(linked->name, "sounds");
  EXPECT_EQ(linked->src, (dir / "sounds.brovares").string());
  EXPECT_EQ(testing::ReadFile(dir / "sounds.brovares"),
            "<resourcelist name=\"sounds\">\r\n</resourcelist>\r\n");

  EXPECT_EQ(newResourceNode("Lost.brova", "nowhere.Lost", TNodeKind::Class), nullptr);
  EXPECT_FALSE(fs::exists(dir / "Lost.brova")) << "nothing made for a missing parent";
  EXPECT_EQ(attachResource("nowhere.x", std::make_unique<TResourceList>()), nullptr);

  TResource* renamed = attachResource("usr.Renamed", std::make_unique<TResourceList>());
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(ResourceRoot()->resolve("usr.renamed"), renamed);
  renamed->rename("Other");
  EXPECT_EQ(ResourceRoot()->resolve("usr.renamed"), nullptr);
  EXPECT_EQ(ResourceRoot()->resolve("usr.other"), renamed);

  detachResource("usr.classes");
  EXPECT_EQ(ResourceRoot()->resolve("usr.classes"), nullptr);
  EXPECT_EQ(ResourceRoot()->resolve("usr.$lives"), g);
}

TEST_F(ResourceTree, SavingAResourceToItsFile) {
  namespace fs = std::filesystem;
  fs::path dir = Scratch();
  testing::WriteFile(dir / "page" / "index.cmml", Crlf(R"(<resourcelist name="usr">
 <resourcelist name="classes">
  <class name="Hero" src="classes\Hero.brova" category="game"/>
 </resourcelist>
</resourcelist>
)"));
  testing::WriteFile(dir / "page" / "classes" / "Hero.brova", "");
  Root("<resourcelist name=\"k\"></resourcelist>");
  SetResourceBaseDir((dir / "page").string());
  ASSERT_NE(newResourceNode("index.cmml", "usr", TNodeKind::Link), nullptr);
  DeclareGlobalInTree("$lives", true);

  MessageLog log;
  SetResourceBaseDir(dir.string()); // another folder than the file's own
  EXPECT_TRUE(saveResource("usr"));
  EXPECT_EQ(testing::ReadFile(dir / "page" / "index.cmml"), Crlf(R"(<resourcelist name="usr">
 <resourcelist name="classes">
  <class name="Hero" src="classes/Hero.brova" category="game"/>
 </resourcelist>
 <resourcelist name="global">
  <globalvalue name="$lives" value=""/>
 </resourcelist>
</resourcelist>
)"));
  EXPECT_EQ(ResourceBaseDir(), dir.string());
  EXPECT_TRUE(log.texts.empty());

  EXPECT_FALSE(saveResource("usr.global"));
  EXPECT_TRUE(log.Has("usr.global Cannot be saved."));
}

TEST_F(ResourceTree, MergeMissingClonesWhatTheTargetLacks) {
  TResource* root = Root(R"(<resourcelist name="k">
 <resourcelist name="project"><resourcelist name="classes">
  <class name="Shared" src="/game/Shared.brova" category="a"/>
 </resourcelist></resourcelist>
 <resourcelist name="usr"><resourcelist name="classes">
  <class name="SHARED" src="/game/Other.brova"/>
  <class name="Own" src="/game/page/Own.brova" category="b"/>
 </resourcelist></resourcelist>
</resourcelist>
)");
  SetResourceBaseDir("/game/page");
  TResource* target = root->resolve("project.classes");
  TResource* source = root->resolve("usr.classes");
  EXPECT_TRUE(mergeMissing(*target, *source));
  EXPECT_FALSE(mergeMissing(*target, *source)) << "nothing is cloned twice";
  auto* own = dynamic_cast<TRTTI*>(target->resolve("own"));
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own, source->resolve("own"));
  EXPECT_EQ(own->src, "/game/page/Own.brova");
  EXPECT_EQ(own->category, "b");
  EXPECT_EQ(target->resolve("shared")->src, "/game/Shared.brova");
  EXPECT_EQ(static_cast<TResourceList*>(target)->size(), 2u);
}

TEST_F(ResourceTree, ListNamesWalksThePaths) {
  TResource* root = Root(kSmallKernel);
  std::vector<std::string> lines;
  root->listNames(lines, "");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "<root>", "classes", "classes.lang", "classes.lang.Object", "classes.scr",
                       "classes.scr.Sprite", "classes.customres", "classes.customres.Page",
                       "usrglobal", "usrglobal.$screenWidth"}));
}

TEST_F(ResourceTree, IteratorRemovesTheCurrentChild) {
  auto* root = static_cast<TResourceList*>(Root(R"(<resourcelist name="l">
 <param name="a"/><param name="b"/><param name="c"/>
</resourcelist>
)"));
  std::string seen;
  for (auto it = root->iterator(); it->hasNext();) {
    TResource* r = it->next();
    seen += r->name;
    if (r->name == "b") it->removeCurrent();
  }
  EXPECT_EQ(seen, "abc");
  EXPECT_EQ(root->size(), 2u);
  EXPECT_EQ(root->findChild("b"), nullptr);
  EXPECT_EQ(root->findChild("C"), root->child(1));
}

TEST_F(ResourceTree, ScriptObjectIsMadeOnceAndToldOnDestroy) {
  TRTTI* wrapperClass = testing::MakeClass("BuiltInResource", {"_r"});
  Root(kSmallKernel);
  std::vector<std::string> snippets;
  SetSnippetEvaluator([&](std::string_view text, bool) {
    snippets.emplace_back(text);
    if (text == "$_2=new BuiltInResource($_1);") {
      EXPECT_EQ(NativeOfKind<TResource>(*GlobalSlotInTree("$_1")), findList("classes.lang"));
      SetObject(*GlobalSlotInTree("$_2"), NewInstance(wrapperClass));
    }
    return 0;
  });
  TResource* lang = findList("classes.lang");
  TValue made = lang->scriptObject();
  ASSERT_EQ(made.kind, vtObject);
  EXPECT_EQ(lang->scriptObject().u, made.u);
  EXPECT_EQ(snippets.size(), 1u);
  TfObject* obj = ObjectPtr(made);
  EXPECT_EQ(obj->refCount, 2) << "held by $_2 and the wrapper";

  detachResource("classes.lang");
  EXPECT_EQ(snippets.back(), "$_1.onDestroy();");
  EXPECT_EQ(obj->refCount, 2) << "the wrapper's count moved to $_1";
  SetResourceRoot(nullptr);
  DestroyAllInstances(wrapperClass);
  delete wrapperClass;
}

TEST_F(ResourceTree, SeamKindsKeepTheirAttributes) {
  Root(kSmallKernel);
  attachResource("usr", loadResourceText(Crlf(R"(<resourcelist name="usr">
 <generator className="Hero" name="$p" Inst_skip="1" inst_x="10" const_speed="3" inst_name="%22Bob%22" Const_no="2" src="gen.dat"/>
 <page name="$page_a" src="a.cmml"><resinst type="string" name="title" value="A %3c B"/><resinst type="int" name="n" value="1"/></page>
 <module name="sound" src="lib/Sound.so"/>
</resourcelist>
)"), "/game"));
  SetResourceBaseDir("/game");
  auto* gen = static_cast<TGenerator*>(ResourceRoot()->resolve("usr.$p"));
  EXPECT_EQ(gen->className, "Hero");
  EXPECT_EQ(gen->instFields, (std::vector<std::string>{"x=10", "name=\"Bob\""}));
  EXPECT_EQ(gen->constArgs, (std::vector<std::string>{"speed=3"}));
  auto* page = static_cast<TCustomResource*>(ResourceRoot()->resolve("usr.$page_a"));
  ASSERT_EQ(page->fields.size(), 1u) << "only string fields are stored";
  EXPECT_EQ(page->fields[0].second, "A < B");

  std::vector<std::string> lines;
  for (const char* path : {"usr.$p", "usr.$page_a", "usr.sound"})
    ResourceRoot()->resolve(path)->save(lines, "  ");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "<generator className=\"Hero\" name=\"$p\" src=\"gen.dat\" inst_x=\"10\" "
                       "inst_name=\"%22Bob%22\" const_speed=\"3\"/>",
                       "<page name=\"$page_a\" src=\"a.cmml\">\r\n <resinst type=\"string\" "
                       "name=\"title\" value=\"A %3c B\"/></page>",
                       "  <module name=\"sound\" src=\"lib/Sound.so\"/>"}));
}

std::vector<TValue> g_marked;
std::vector<TfObject*> g_swept;

TEST_F(ResourceTree, CollectorReachesTheTreeRoots) {
  TResource* root = Root(kSmallKernel);
  TRTTI* cls = findClass("classes.lang.Object");
  cls->compiled = true;
  // Blocks in pool order: one in use, one dead (count 0), one free.
  std::vector<HeapAddr> blocks;
  for (int i = 0; i < 3; ++i) {
    blocks.push_back(NewInstance(cls));
    ++HeapPtr<TfObject>(blocks.back())->refCount;
  }
  HeapAddr live = blocks[0], dead = blocks[1];
  HeapPtr<TfObject>(dead)->refCount = 0;
  HeapPtr<TfObject>(blocks[2])->refCount = -1;
  SetGlobalInTree("$held", ObjectValue(live));

  TCollectorHooks& gc = CollectorHooks();
  gc.markValue = [](const TValue& v) { if (v.kind == vtObject) g_marked.push_back(v); };
  gc.sweepObject = [](TfObject* obj) { g_swept.push_back(obj); };
  for (bool check : {false, true}) {
    SCOPED_TRACE(check ? "checking pass" : "real pass");
    g_marked.clear();
    g_swept.clear();
    gc.checkMode = check;
    root->gcMark();
    root->gcSweep();
    std::vector<HeapAddr> marked;
    for (const TValue& v : g_marked) marked.push_back(v.u);
    std::vector<HeapAddr> expected{live};
    if (check) expected = {live, dead, live};
    EXPECT_EQ(marked, expected)
        << "a global marks its value; in the checking pass a class marks its blocks in use";
    EXPECT_EQ(g_swept, (std::vector<TfObject*>{HeapPtr<TfObject>(live), HeapPtr<TfObject>(dead)}));
  }
  gc = TCollectorHooks();
  SetNull(*GlobalSlotInTree("$held"));
  DestroyAllInstances(cls);
}

} // namespace
} // namespace brova
