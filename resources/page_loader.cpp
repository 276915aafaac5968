#include "resources/page_loader.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <memory>

#include "compiler/class_compiler.h"
#include "compiler/class_file.h"
#include "compiler/multi_evaluator.h"
#include "compiler/snippet_evaluation.h"
#include "platform/message_sink.h"
#include "resources/alias_table.h"
#include "resources/generator.h"
#include "resources/global_value.h"
#include "resources/project_manager.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/frame_scheduler.h"
#include "runtime/heap_cell.h"
#include "runtime/process.h"
#include "runtime/progress_note.h"
#include "runtime/rtti.h"
#include "runtime/text_case.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHashStatement = "$_hashCode=getPageHashCode()-(";

template <class F, class... A> void Call(const F& service, A&&... args) {
  if (service) service(std::forward<A>(args)...);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

TResource* Usr() {
  TResource* root = ResourceRoot();
  return root ? root->findChild("usr") : nullptr;
}

TResource* UsrChild(std::string_view name) {
  TResource* usr = Usr();
  return usr ? usr->findChild(name) : nullptr;
}

// Never destroyed at exit, like the tree: the heap is gone by then.
THeapCell& BootCell() {
  static auto* cell = [] {
    auto* c = new THeapCell;
    ClearValue(c->value());
    return c;
  }();
  return *cell;
}

// Construction scripts whose instance something still references: their class must live.
std::vector<TRTTI*>& KeptScriptClasses() {
  static auto* classes = new std::vector<TRTTI*>;
  return *classes;
}

// ---- reading a page confined to its project folder

// Why a `src` cannot be used, or empty when it can.
std::string SrcProblem(const std::string& file, const std::string& folder, bool mustExist) {
  if (!IsInsideFolder(file, folder))
    return file + Translate(" lies outside the project folder; it is not used.");
  if (mustExist && !FileExists(file)) return file + Translate(" does not exist.");
  return {};
}

// Deeper than the reader takes lists; it would skip them anyway, and the walk must not risk
// the host stack on a damaged file.
constexpr int kMaxConfinedDepth = 200;

// Drops every element whose `src` leaves `folder`, and links and classes whose file is
// missing, each with its message. A link stays only when its file (and every file it links
// to) passes too. `reading` holds the files on the way down, so a link cycle ends here; the
// reader reports it. True when anything was dropped.
bool ConfineElement(TSGML& element, const std::string& baseDir, const std::string& folder,
                    std::vector<std::string>& reading, int depth);

// Empty when the linked file and everything it links to stays inside `folder`.
std::string LinkProblem(const std::string& file, const std::string& folder,
                        std::vector<std::string>& reading, int depth) {
  for (const auto& open : reading)
    if (SamePath(open, file)) return {};
  std::unique_ptr<TSGML> linked;
  try {
    linked = readMarkupFile(file);
  } catch (const EMarkupFileError& e) {
    return e.what();
  }
  reading.push_back(file);
  bool dropped = ConfineElement(*linked, ParentFolder(file), folder, reading, depth + 1);
  reading.pop_back();
  if (dropped) return file + Translate(" names files that cannot be used.");
  return {};
}

bool ConfineElement(TSGML& element, const std::string& baseDir, const std::string& folder,
                    std::vector<std::string>& reading, int depth) {
  TSGML::SubItems* items = element.getSubItems();
  if (!items || items->empty()) return false;
  if (depth >= kMaxConfinedDepth) {
    platform::ShowMessage(element.getAttr("name") +
                          Translate(": Resource lists nested too deeply; skipped."));
    items->clear();
    return true;
  }
  bool dropped = false;
  for (auto it = items->begin(); it != items->end();) {
    TSGML& child = **it;
    const std::string& src = child.getAttr("src");
    std::string problem;
    if (!src.empty()) {
      const std::string& tag = child.getTagName();
      std::string file = ResolveExistingPath(JoinPath(src, baseDir));
      bool isLink = tag == "link";
      problem = SrcProblem(file, folder, isLink || tag == "class");
      if (problem.empty() && isLink) problem = LinkProblem(file, folder, reading, depth);
    }
    if (!problem.empty()) {
      platform::ShowMessage(problem);
      it = items->erase(it);
      dropped = true;
      continue;
    }
    dropped |= ConfineElement(child, baseDir, folder, reading, depth + 1);
    ++it;
  }
  return dropped;
}

// The page file as a resource list whose files all lie in `folder`.
std::unique_ptr<TResource> ReadConfinedPage(const std::string& file, const std::string& folder) {
  std::unique_ptr<TSGML> element = readMarkupFile(file);
  std::vector<std::string> reading{file};
  ConfineElement(*element, ParentFolder(file), folder, reading, 1);
  std::unique_ptr<TResource> page = createResource(*element, ParentFolder(file));
  if (page) page->src = file;
  return page;
}

// ---- the root process

// A Boot object whose class has gone (the kernel freed) is forgotten, not released.
void ReleaseBoot() {
  TValue& boot = BootCell().value();
  if (IsLiveInstanceValue(boot))
    SetNull(boot);
  else
    ClearValue(boot);
}

// A new Boot instance whose `method` runs as the root process. False without a Boot class.
bool StartBoot(const char* method) {
  TRTTI* boot = findClass("Boot");
  if (!PageState().classesCompiled || !boot) return false;
  // A page loaded without stopping the last one (its project opened instead) must not
  // leave the old root process running unowned.
  if (TProcess* old = Scheduler().rootProcess) {
    Scheduler().rootProcess = nullptr;
    DestroyProcess(old);
  }
  HeapAddr obj = NewInstance(boot);
  SetObject(BootCell().value(), obj);
  Scheduler().rootProcess = CreateProcess(HeapPtr<TfObject>(obj), method);
  return true;
}

// ---- the construction script

// Visits the generators and global values under `usr`, in pre-order.
class TGenIterator : public TResourceIterator {
public:
  TGenIterator(std::vector<std::string>& statements, bool firstWalk)
      : statements_(statements), firstWalk_(firstWalk) {}

  void visit(TResource& resource) override {
    if (auto* gen = dynamic_cast<TGenerator*>(&resource)) {
      firstWalk_ ? construct(*gen) : configure(*gen);
    } else if (auto* global = dynamic_cast<TGlobalValue*>(&resource)) {
      if (firstWalk_ && !global->initText.empty())
        statements_.push_back(global->name + "=" + global->initText + ";");
    }
  }

private:
  void construct(TGenerator& gen) {
    TRTTI* cls = gen.generatedClass();
    if (!cls) {
      platform::ShowMessage(gen.name + Translate(": Class") + gen.className +
                            Translate(" does not exist. Cannot create."));
      return;
    }
    if (!cls->compiled) {
      ProgressNote(gen.className + Translate(" has not compiled yet. Cannot create Object."));
      return;
    }
    statements_.push_back(gen.name + "=new " + gen.className + "();");
  }

  void configure(TGenerator& gen) {
    // An object the first walk did not make has nothing to configure.
    TRTTI* cls = gen.generatedClass();
    if (!cls || !cls->compiled) return;
    for (const auto& line : gen.knownFieldLines(*cls))
      statements_.push_back(gen.name + "." + line + ";");
    statements_.push_back(gen.name + ".setGenerator( getResource(\"" + gen.dottedPath() +
                          "\").getTObject() );");
    statements_.push_back(gen.name + ".onGenerate();");
    if (gen.parent && gen.parent->dottedPath() == "usr.gen") {
      statements_.push_back("if ($_design_mode==0) { appear(" + gen.name + "); }else $chars.add(" +
                            gen.name + ");");
      statements_.push_back("_n_refresh();");
    }
  }

  std::vector<std::string>& statements_;
  bool firstWalk_;
};

// The construction script's text when it exists and was built from the page as it is now.
bool CurrentScript(const std::string& path, int32_t pageHash, std::string& text) {
  if (!FileExists(path)) return false;
  try {
    text = readTextFile(path);
  } catch (const EMarkupFileError&) {
    return false;
  }
  int32_t recorded = 0;
  return RecordedPageHash(text, recorded) && recorded == pageHash;
}

} // namespace

TPageState& PageState() {
  static TPageState state;
  return state;
}

TfObject* BootObject() { return ObjectOf(BootCell().value()); }

TPageServices& PageServices() {
  static TPageServices services;
  return services;
}

std::string NewPageText() {
  auto open = [](const char* name) {
    return ElementLine("resourcelist", {{"name", name}}, false) + "\r\n";
  };
  return open("usr") + " " + open("patterns") + " </resourcelist>\r\n" + " " + open("classes") +
         " </resourcelist>\r\n" + " " + open("gen") + " </resourcelist>\r\n" +
         "</resourcelist>\r\n";
}

bool WriteNewPageFile(const std::string& path) {
  if (FileExists(ResolveExistingPath(path))) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << NewPageText();
  out.close();
  if (out) return true;
  platform::ShowMessage(path + Translate(" cannot be written."));
  return false;
}

namespace {

// loadPage; false when the page file does not exist and nothing was done.
bool LoadPageFile(const std::string& path, int32_t& patterns) {
  patterns = 0;
  TPageServices& services = PageServices();
  TPageState& state = PageState();
  Call(services.setPageLoading, true);
  struct LoadingEnds {
    ~LoadingEnds() { Call(PageServices().setPageLoading, false); }
  } loadingEnds;

  std::string file = ResolveExistingPath(JoinPath(path, ResourceBaseDir()));
  if (!FileExists(file)) {
    platform::ShowMessage(path + Translate(" does not exist."));
    state.pageInvalid = true;
    return false;
  }
  Call(services.setEnv, std::string("AutoLoadPage"), file);
  state.currentPageFile = file;
  std::string folder = ParentFolder(file);
  SetResourceBaseDir(folder);
  std::error_code ec;
  fs::current_path(folder, ec);
  Call(services.recordRecentPage, file);

  TPrjManager& project = ProjectManager();
  if (state.projectOpening || project.isOtherProject(file))
    project.openProjectOf(file);
  else
    stopPage();
  project.findCurrentPage();

  {
    TAliasRegistrationOff registrationOff;
    detachResource("usr");
    std::string confinedTo = project.isOpen() ? project.projectFolder() : folder;
    std::unique_ptr<TResource> page = ReadConfinedPage(file, confinedTo);
    if (page && !attachResource("usr", std::move(page))) return true;
  }

  TResource* classes = project.getClassList();
  if (TResource* pageClasses = UsrChild("classes"); pageClasses && classes)
    mergeMissing(*classes, *pageClasses);
  if (TResource* pageSounds = UsrChild("sounds")) {
    TResource* sounds = project.getSoundList();
    if (sounds && mergeMissing(*sounds, *pageSounds)) SetGlobalInTree("$_soundAdded", IntValue(1));
  }
  state.classesCompiled = false;
  state.classesCompiled = classes && classes->initialize();

  Call(services.cutPatternsToKernel);
  if (TResource* list = UsrChild("patterns")) patterns = list->initialize() ? 1 : 0;
  Call(services.reloadPatterns);

  DeclareGlobalInTree("$screenWidth", true);
  DeclareGlobalInTree("$screenHeight", true);
  if (state.classesCompiled) state.pageInvalid = false;
  Call(services.refreshScreen);
  state.projectOpening = false;
  return true;
}

} // namespace

int32_t loadPage(const std::string& path) {
  int32_t patterns = 0;
  LoadPageFile(path, patterns);
  return patterns;
}

void runPage(const std::string& path) {
  TPageServices& services = PageServices();
  Scheduler().runtimeErrorSeen = false;
  Call(services.setScreenDesignFlag, false);
  try {
    int32_t patterns = 0;
    if (LoadPageFile(path, patterns) && StartBoot("execute")) {
      PageState().designMode = false;
      Call(services.refreshScreen);
    }
  } catch (const EMarkupFileError&) {
    Call(services.refreshScreen); // its message has been shown
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
    Call(services.refreshScreen);
  }
}

void designPage() {
  TPageServices& services = PageServices();
  try {
    Call(services.refreshScreen);
    stopPage();
    if (StartBoot("design")) {
      PageState().designMode = true;
      Call(services.startSynthesizerTimer);
      Call(services.setScreenDesignFlag, true);
    }
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
  }
}

void stopPage() {
  Call(PageServices().freeDrawList);
  TFrameScheduler& s = Scheduler();
  if (TProcess* root = s.rootProcess) {
    s.rootProcess = nullptr;
    DestroyProcess(root);
  }
  ReleaseBoot();
  Call(PageServices().collectGarbage);
}

void rerunPage() {
  if (TResource* usr = Usr()) runPage(usr->src);
}

void openPage(const std::string& path) {
  std::string file = JoinPath(path, ResourceBaseDir());
  if (!WriteNewPageFile(file)) return;
  runPage(file);
}

// ---- construction script

std::vector<std::string> ConstructionStatements(int32_t pageHash) {
  std::vector<std::string> statements{
      std::string(kHashStatement) + std::to_string(pageHash) + ");",
      "if (!$_design_mode) { for (p in $procs) p.kill();} $chars.clear();"};
  if (TResource* usr = Usr()) {
    TGenIterator first(statements, true);
    usr->accept(first);
    TGenIterator second(statements, false);
    usr->accept(second);
  }
  return statements;
}

std::string ConstructionScriptPath() {
  return tempName(PageState().currentPageFile, "i124_") + ".brova";
}

bool RecordedPageHash(std::string_view scriptText, int32_t& hash) {
  size_t lineEnd = scriptText.find('\n');
  if (lineEnd == std::string_view::npos) return false;
  std::string_view second = scriptText.substr(lineEnd + 1);
  if (!second.starts_with(kHashStatement)) return false;
  second.remove_prefix(kHashStatement.size());
  auto [end, error] = std::from_chars(second.data(), second.data() + second.size(), hash);
  return error == std::errc() && end < second.data() + second.size() && *end == ')';
}

int generate() {
  const std::string& page = PageState().currentPageFile;
  if (page.empty()) return -1;
  const std::string path = ConstructionScriptPath();
  const int32_t pageHash = pageHashCode(page);
  auto* cls = new TRTTI;
  cls->name = "eval";
  cls->src = path;
  std::string text;
  if (!CurrentScript(path, pageHash, text)) {
    ProgressNote("Page Reconstruction");
    TMultiEvaluator script;
    for (const auto& statement : ConstructionStatements(pageHash)) script.AddStatement(statement);
    text = script.Text();
    if (!script.SaveTo(path)) platform::ShowMessage(path + Translate(" cannot be written."));
    // Time stamps count whole seconds: a script rebuilt within the second of the old one
    // would otherwise be loaded from the old one's compiled-class file.
    std::error_code ec;
    if (std::string compiled = ClassFileName(*cls); !compiled.empty()) fs::remove(compiled, ec);
  }
  int result = 1;
  if (CompileClass(*cls, text, true) == 0 && cls->compiled) {
    bool kept = false;
    result = RunClassBody(*cls, &kept);
    if (kept) {
      KeptScriptClasses().push_back(cls);
      return result;
    }
  }
  DestroyClassRecord(cls);
  return result;
}

// ---- files and caches

void TPageFileEnum::visit(TResource& resource) {
  if (resource.src.empty()) return;
  for (const auto& file : files_)
    if (SameTextIgnoringCase(file, resource.src)) return;
  files_.push_back(resource.src);
}

int32_t TPageFileEnum::total() const {
  uint32_t sum = 0;
  for (const auto& file : files_) sum += static_cast<uint32_t>(pageHashCode(file));
  return static_cast<int32_t>(sum);
}

int32_t pageHashCode(const std::string& path) {
  std::string ext = fs::path(ToHostPath(path)).extension().string();
  if (ext == ".dll" || ext == ".mid" || !FileExists(path)) return 0;
  auto& hash = PageServices().fileHash;
  return hash ? hash(path) : 0;
}

std::string tempName(const std::string& path, std::string_view prefix) {
  // The cache folder the boot chose (Temp/, or the user's cache when Temp is not writable).
  std::string folder = ClassCacheFolder();
  if (folder.empty()) folder = JoinPath("Temp", ProgramFolder());
  std::error_code ec;
  fs::create_directories(folder, ec);
  return JoinPath(CacheFileName(path, prefix), folder);
}

} // namespace brova
