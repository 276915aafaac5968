// Resource files as the player reads them: the kernel file, a project and a page written by
// hand the way the authoring program writes them on Windows (backslashes, other letter
// cases), links, and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "resource_support.h"
#include "resources/custom_resource.h"
#include "resources/generator.h"
#include "resources/global_value.h"
#include "resources/param.h"
#include "resources/resource_list.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using testing::Crlf;
using testing::MessageLog;

const std::string kFixtures = BROVA_FIXTURES_DIR "/resources";
const std::string kKernelDir = kFixtures + "/kernel";
const std::string kGameDir = kFixtures + "/game";

class ResourceFiles : public testing::TreeTest {
protected:
  void LoadKernel() {
    SetResourceBaseDir(kKernelDir);
    SetResourceRoot(loadResourceFile("resource.brovares"));
    ASSERT_NE(ResourceRoot(), nullptr);
  }

  // Reads `saved` back against `baseDir` and writes it again: the same text.
  void ExpectStableRoundTrip(const std::string& saved, const std::string& baseDir) {
    TAliasRegistrationOff off;
    TBaseDirScope scope(baseDir);
    std::unique_ptr<TResource> again = parseResource(saved);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(SavedText(*again), saved);
  }

  std::string Src(std::string_view path) {
    TResource* r = ResourceRoot()->resolve(path);
    return r ? r->src : "(none)";
  }
};

TEST_F(ResourceFiles, KernelFileLoadsResolvesAndSavesBack) {
  MessageLog log;
  LoadKernel();
  TResource* root = ResourceRoot();
  EXPECT_EQ(root->src, kKernelDir + "/resource.brovares");
  const std::vector<std::pair<const char*, std::string>> sources = {
      {"classes.lang.Object", kKernelDir + "/classes/lang/Object.brova"},
      {"CLASSES.LANG.STRING", kKernelDir + "/classes/lang/String.brova"},
      {"classes.lang.boot", kKernelDir + "/classes/lang/Boot.brova"},
      {"Classes.CustomRes.Page", kKernelDir + "/classes/customres/Page.brova"},
      {"classes.scr", kKernelDir + "/scr/scr.brovares"},
      {"classes.scr.sprite", kKernelDir + "/scr/Sprite.brova"},
      {"Sprite", kKernelDir + "/scr/Sprite.brova"},
      {"patterns.$PAT_FONT", kKernelDir + "/images/font.bmp"},
  };
  for (const auto& [path, src] : sources) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Src(path), src);
  }
  EXPECT_EQ(static_cast<TfParam*>(root->resolve("classes.scr.layer"))->text, "front");
  EXPECT_EQ(static_cast<TGlobalValue*>(root->resolve("$title"))->initText, "\"Brova 100%\"");
  EXPECT_EQ(findList("modules")->size(), 0u);
  EXPECT_TRUE(log.texts.empty());

  std::string saved;
  {
    TBaseDirScope scope(kKernelDir);
    saved = SavedText(*root);
  }
  EXPECT_EQ(saved, Crlf(R"(<resourcelist name="kernel">
 <resourcelist name="classes">
  <resourcelist name="lang">
   <class name="Object" src="classes/lang/Object.brova" category="lang"/>
   <class name="String" src="classes/lang/String.brova" category="lang"/>
   <class name="Boot" src="classes/lang/Boot.brova" category="lang"/>
  </resourcelist>
  <resourcelist name="customres">
   <class name="Page" src="classes/customres/Page.brova" category="customres"/>
  </resourcelist>
  <resourcelist name="scr">
   <class name="Sprite" src="scr/Sprite.brova" category="scr"/>
   <param name="layer" value="front"/>
  </resourcelist>
 </resourcelist>
 <resourcelist name="usrglobal">
  <globalvalue name="$screenWidth" value="640"/>
  <globalvalue name="$title" value="%22Brova 100%25%22"/>
 </resourcelist>
 <resourcelist name="patterns">
<cpattern name="$pat_font" src="images/font.bmp"/>
 </resourcelist>
 <resourcelist name="modules">
 </resourcelist>
</resourcelist>
)"));
  SetResourceRoot(nullptr); // the round trip registers its classes afresh
  ExpectStableRoundTrip(saved, kKernelDir);
}

TEST_F(ResourceFiles, ProjectAndPageLoadUnderTheKernel) {
  MessageLog log;
  LoadKernel();
  SetResourceBaseDir(kGameDir);
  ASSERT_NE(newResourceNode("default.brovaprj", "project", TNodeKind::Link), nullptr);
  {
    TAliasRegistrationOff off;
    ASSERT_NE(newResourceNode("INDEX.cmml", "usr", TNodeKind::Link), nullptr);
  }
  EXPECT_TRUE(log.texts.empty());
  TResource* root = ResourceRoot();

  auto* page = dynamic_cast<TCustomResource*>(root->resolve("PROJECT.PAGES.$page_index"));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->src, kGameDir + "/index.cmml");
  ASSERT_EQ(page->fields.size(), 1u);
  EXPECT_EQ(page->fields[0], (std::pair<std::string, std::string>{"title", "First <page>"}));
  EXPECT_EQ(static_cast<TfParam*>(root->resolve("project.params.title"))->text, "My \"Game\"");
  EXPECT_EQ(Src("usr"), kGameDir + "/index.cmml");
  EXPECT_EQ(Src("usr.patterns.$pat_hero"), kGameDir + "/images/hero.png");
  EXPECT_EQ(Src("usr.classes.HERO"), kGameDir + "/Hero.brova");
  EXPECT_EQ(root->resolve("Hero"), nullptr) << "page classes have no short name";
  EXPECT_NE(root->resolve("Sprite"), nullptr);
  auto* player = dynamic_cast<TGenerator*>(root->resolve("usr.gen.$player"));
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->dottedPath(), "usr.gen.$player");
  EXPECT_EQ(player->instFields, (std::vector<std::string>{"x=10", "name=\"Bob\""}));

  TBaseDirScope scope(kGameDir);
  std::string project = SavedText(*root->resolve("project"));
  EXPECT_EQ(project, Crlf(R"(<resourcelist name="project">
 <resourcelist name="pages">
<page name="$page_index" src="index.cmml">
 <resinst type="string" name="title" value="First %3cpage%3e"/></page>
 </resourcelist>
 <resourcelist name="params">
  <param name="mainPage" value="$page_index"/>
  <param name="title" value="My %22Game%22"/>
 </resourcelist>
 <resourcelist name="classes">
 </resourcelist>
</resourcelist>
)"));
  std::string usr = SavedText(*root->resolve("usr"));
  EXPECT_EQ(usr, Crlf(R"(<resourcelist name="usr">
 <resourcelist name="patterns">
<cpattern name="$pat_hero" src="images/hero.png"/>
 </resourcelist>
 <resourcelist name="classes">
  <class name="Hero" src="Hero.brova" category="game"/>
  <class name="Enemy" src="Enemy.brova" category="game"/>
 </resourcelist>
 <resourcelist name="gen">
<generator className="Hero" name="$player" inst_x="10" inst_name="%22Bob%22" const_speed="3"/>
 </resourcelist>
 <resourcelist name="global">
  <globalvalue name="$score" value="0"/>
 </resourcelist>
</resourcelist>
)"));
  ExpectStableRoundTrip(project, kGameDir);
  ExpectStableRoundTrip(usr, kGameDir);
}

// Entry names of a list, nested lists in brackets.
std::string Shape(const TResource* r) {
  auto* list = dynamic_cast<const TResourceList*>(r);
  if (!list) return r ? r->name : "(none)";
  std::string out = r->name + "[";
  for (size_t i = 0; i < list->size(); ++i) out += (i ? " " : "") + Shape(list->child(i));
  return out + "]";
}

TEST_F(ResourceFiles, LinkCyclesAreReportedAndSkipped) {
  fs::path dir = Scratch();
  testing::WriteFile(dir / "self.brovares",
                     Crlf("<resourcelist name=\"self\">\n <link src=\"Self.brovares\"/>\n"
                          " <param name=\"after\"/>\n</resourcelist>\n"));
  // Two links to one file are no cycle.
  testing::WriteFile(dir / "top.brovares",
                     Crlf("<resourcelist name=\"top\">\n <link src=\"d.brovares\"/>\n"
                          " <link src=\"sub\\d.brovares\"/>\n <link src=\"d.brovares\"/>\n"
                          "</resourcelist>\n"));
  testing::WriteFile(dir / "d.brovares", Crlf("<resourcelist name=\"d\"></resourcelist>\n"));
  testing::WriteFile(dir / "sub" / "d.brovares",
                     Crlf("<resourcelist name=\"subd\">\n <link src=\"..\\D.brovares\"/>\n"
                          "</resourcelist>\n"));
  struct Case {
    std::string file;
    const char* shape;
    std::string reported; // empty: no message
  };
  const std::vector<Case> cases = {
      {kFixtures + "/cycle/a.brovares", "a[inA b[inB]]", kFixtures + "/cycle/a.brovares"},
      {kFixtures + "/cycle/B.brovares", "b[inB a[inA]]", kFixtures + "/cycle/b.brovares"},
      {(dir / "self.brovares").string(), "self[after]", (dir / "self.brovares").string()},
      {(dir / "top.brovares").string(), "top[d[] subd[d[]] d[]]", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    MessageLog log;
    std::unique_ptr<TResource> r = loadResourceFile(c.file);
    EXPECT_EQ(Shape(r.get()), c.shape);
    if (c.reported.empty()) {
      EXPECT_TRUE(log.texts.empty());
    } else {
      ASSERT_EQ(log.texts.size(), 1u);
      EXPECT_EQ(log.texts[0],
                c.reported + " links back to a file that is being read; the link is skipped.");
    }
  }
}

TEST_F(ResourceFiles, DamagedFilesGiveWhatWasReadSoFar) {
  fs::path dir = Scratch();
  SetResourceBaseDir(dir.string());
  {
    MessageLog log;
    testing::WriteFile(dir / "empty.cmml", "no markup here\r\n");
    std::unique_ptr<TResource> r = loadResourceFile("empty.cmml");
    EXPECT_EQ(Shape(r.get()), "[]");
    EXPECT_EQ(r->src, (dir / "empty.cmml").string());
    EXPECT_TRUE(log.Has("empty.cmml holds no element"));
    EXPECT_EQ(Shape(loadResourceText("", "/").get()), "[]");
    EXPECT_TRUE(log.Has("The resource text holds no element."));
  }

  // Every cut of a page file reads without fault; a few cuts are checked in detail.
  const std::string page = testing::ReadFile(kGameDir + "/index.cmml");
  size_t afterGenerator = page.find("const_speed=\"3\"/>") + 17;
  size_t inClasses = page.find("<class name=\"Enemy\"");
  size_t inValue = page.find("%22Bob") + 3;
  for (size_t n = 0; n <= page.size(); ++n) {
    MessageLog quiet;
    std::unique_ptr<TResource> r = loadResourceText(page.substr(0, n), "/");
    if (n == afterGenerator) {
      EXPECT_EQ(Shape(r.get()), "usr[patterns[$pat_hero] classes[Hero Enemy] gen[$player]]");
    }
    if (n == inClasses) {
      EXPECT_EQ(Shape(r.get()), "usr[patterns[$pat_hero] classes[Hero]]");
    }
    if (n == inValue) {
      auto* g = dynamic_cast<TGenerator*>(r->resolve("gen.$player"));
      ASSERT_NE(g, nullptr);
      EXPECT_EQ(g->instFields.back(), "x=10") << "the field cut in its value is not taken whole";
    }
  }

  // Bytes of every value, weighted towards the markup's own characters.
  std::string garbage;
  uint32_t seed = 12345;
  const std::string markup = "<>/\"%=resourcelist classlink globalvalue ";
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245u + 12345u;
    uint32_t pick = seed >> 16;
    garbage += (pick & 1) ? markup[pick % markup.size()] : static_cast<char>(pick >> 3);
  }
  testing::WriteFile(dir / "garbage.brovares", "<resourcelist name=\"g\">" + garbage);
  MessageLog quiet;
  std::unique_ptr<TResource> g = loadResourceFile("garbage.brovares");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->name, "g");

  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "<resourcelist name=\"n\">";
  std::unique_ptr<TResource> nested = loadResourceText(deep, "/");
  EXPECT_TRUE(quiet.Has("n: Resource lists nested too deeply; skipped."));
  int depth = 0;
  for (const TResource* r = nested.get(); r; ++depth) {
    auto* list = dynamic_cast<const TResourceList*>(r);
    r = list && list->size() ? list->child(0) : nullptr;
  }
  EXPECT_EQ(depth, 200);
}

} // namespace
} // namespace brova
