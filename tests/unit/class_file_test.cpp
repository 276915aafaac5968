// Class compilation with compiled-class files: naming, writing and loading with relinking,
// invalidation, the colliding-name guard, and files that are damaged or hostile.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "compiler/code_verifier.h"
#include "compiler_support.h"
#include "resources/global_value.h"
#include "runtime/errors.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using testing::CompileErrorLog;
using testing::NoteLog;
using testing::Printed;
using testing::ReadBytes;
using testing::Touch;
using testing::WriteBytes;

constexpr const char* kShip = R"(extends classes.lang.Object;
// A class that uses every kind of name the file must relink.
native className;

constructor Ship(n) {
  count = n;
  name = "ship";
}

destructor Ship() {
}

function describe() {
  return "ship of " + super.describe();
}

function report() {
  var i, s;
  s = 0;
  for (i = 0; i < count; i++) s += i;
  $shipTotal = s;
  print(name + ":" + $shipTotal);
  print(describe());
  print(this is classes.lang.Object);
  other = new classes.lang.Object();
  print(other.describe());
  className();
}
)";

class ClassFile : public testing::KernelTest {
protected:
  // Runs the snippet and gives what it printed.
  std::vector<std::string> Run(const std::string& snippet) {
    Printed().clear();
    EXPECT_EQ(EvalSnippet(snippet), 0) << snippet;
    return Printed();
  }

  // Leaves the class as the initialisation pass hands it to the compiler.
  static void Reset(TRTTI* cls) {
    ResetClass(cls);
    cls->superClass = nullptr;
    cls->compileFailed = false;
  }

  // The first items of a file for the class, up to and including an empty superclass.
  static void Prefix(TClassFileWriter& w, const TRTTI& cls) {
    w.Int(kClassFileMark);
    w.String(cls.src);
    w.Int(static_cast<int32_t>(*SourceTimeStamp(cls.src)));
    w.String("");
  }

  bool Read(TRTTI* cls, const std::string& bytes) {
    Reset(cls);
    std::istringstream in(bytes);
    return ReadClassFile(*cls, in);
  }
};

TEST(ClassFileName, FollowsTheSourcePathRelativeToTheProgramFolder) {
  SetProgramFolder("/p/q");
  const std::pair<const char*, const char*> cases[] = {
      {"/p/q/Usr/classes/Ship.brova", "c124_UsrclassesShipbrova"},
      {"/p/q/usr/my ship-2.brova", "c124_usrmyship2brova"},
      {"/p/other/a_b.brova", "c124_@othera_bbrova"},
      {"/x/y.brova", "c124_@@xybrova"},
      {"/p/q/a/bc.brova", "c124_abcbrova"},
      {"/p/q/ab/c.brova", "c124_abcbrova"},
  };
  for (const auto& [source, name] : cases) EXPECT_EQ(ClassFileNameFor(source), name) << source;
  SetProgramFolder("");
}

TEST_F(ClassFile, WrittenAfterCompilingAndLoadedWithoutLexing) {
  // The kernel's classes were cached by the initialisation.
  EXPECT_TRUE(fs::exists(Cache() / "c124_kernelclassesObjectbrova"));
  TRTTI* ship = AddClass("Ship", kShip);
  ship->compiled = false;
  CompileClassFromSource(*ship);
  ASSERT_TRUE(ship->compiled);
  fs::path file = Cache() / "c124_usrShipbrova";
  ASSERT_TRUE(fs::exists(file));
  const std::string snippet = "$_1 = new usr.Ship(4); $_1.report();";
  const std::vector<std::string> expected = {"ship:6", "ship of object", "1", "object", "Ship"};
  EXPECT_EQ(Run(snippet), expected);

  // A text that would not even parse shows that nothing is lexed: the class comes whole
  // from its file, relinked against this run's ids.
  Reset(ship);
  NoteLog notes;
  EXPECT_EQ(CompileClass(*ship, "((( not a class", true), 0);
  EXPECT_TRUE(ship->compiled);
  EXPECT_TRUE(notes.Has("Compiling usr/Ship.brova"));
  EXPECT_FALSE(notes.Has("not a valid Class File"));
  EXPECT_EQ(Run(snippet), expected);
  EXPECT_TRUE(CheckLinkedCode(*ship->body));
  TNormalFunction* report = testing::Method(ship, "report");
  EXPECT_EQ(report->localNames, (std::vector<std::string>{"i", "s"}));
  EXPECT_EQ(testing::Method(ship, "Ship")->paramNames, std::vector<std::string>{"n"});
  // The table as compiling built it (own entries starred): the override in place, a native
  // declared again after the inherited one, constructor and destructor of one name both.
  std::vector<std::string> table;
  for (TFunction* fn : ship->methods)
    table.push_back(fn->GetName() + (fn->owner == ship ? "*" : ""));
  EXPECT_EQ(table, (std::vector<std::string>{"print", "className", "Object", "describe*",
                                             "className*", "Ship*", "Ship*", "report*"}));
  EXPECT_EQ(ConstructorOf(ship)->owner, ship);
  EXPECT_EQ(DestructorOf(ship)->owner, ship);

  // Snippets have no source file and leave none behind.
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Cache())) ++files;
  EvalSnippet("print(1);");
  size_t after = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Cache())) ++after;
  EXPECT_EQ(after, files);
}

// Field indexes of the file's code follow the field list of this run, which a changed
// superclass may have reordered.
TEST_F(ClassFile, RelinkedAgainstAReorderedFieldList) {
  TRTTI* base = AddClass("Base", "extends classes.lang.Object;\n"
                                 "function setA(v) { a = v; }\n"
                                 "function setB(v) { b = v; }\n");
  TRTTI* derived = AddClass("Derived", "extends usr.Base;\n"
                                       "function fill() { a = 1; b = 2; c = 3; }\n"
                                       "function show() { print(a + \",\" + b + \",\" + c); }\n");
  ResourceRoot()->initialize();
  ASSERT_TRUE(derived->compiled);
  EXPECT_EQ(Run("$_1 = new usr.Derived(); $_1.fill(); $_1.setA(7); $_1.show();"),
            std::vector<std::string>{"7,2,3"});

  EvalSnippet("$_1 = null;"); // no instance may outlive a reset of its class

  fs::path baseSource = Home() / "usr" / "Base.brova";
  WriteBytes(baseSource, "extends classes.lang.Object;\n"
                         "function setB(v) { b = v; z = 0; }\n"
                         "function extra() { return 0; }\n"
                         "function setA(v) { a = v; }\n");
  Touch(baseSource);
  Reset(derived);
  Reset(base);
  CompileClassFromSource(*base);
  ASSERT_TRUE(base->compiled);
  EXPECT_EQ(CompileClass(*derived, "((( never lexed", true), 0);
  ASSERT_TRUE(derived->compiled);
  std::vector<std::string> fields;
  for (const auto& f : derived->fieldNames) fields.push_back(SymbolName(f.sym));
  EXPECT_EQ(fields, (std::vector<std::string>{"b", "z", "a", "c"}));
  EXPECT_EQ(Run("$_1 = new usr.Derived(); $_1.fill(); $_1.setA(7); $_1.show();"),
            std::vector<std::string>{"7,2,3"});
  TfObject* obj = ObjectOf(*GlobalSlotInTree("$_1"));
  ASSERT_TRUE(obj);
  EXPECT_EQ(ValueToText(*FieldSlotByName(obj, "a")), "7");
  EXPECT_EQ(ValueToText(*FieldSlotByName(obj, "c")), "3");
}

TEST_F(ClassFile, NewTimeStampCompilesFromSourceAgain) {
  TRTTI* ship = AddClass("Ship", kShip);
  ResourceRoot()->initialize();
  ASSERT_TRUE(ship->compiled);
  fs::path source = Home() / "usr" / "Ship.brova";
  Touch(source);
  Reset(ship);
  CompileErrorLog errors;
  EXPECT_EQ(CompileClass(*ship, "((( not a class", true), 1) << "a stale file is not loaded";
  ASSERT_EQ(errors.entries.size(), 1u);
  EXPECT_EQ(errors.entries[0].path, ship->src);
  EXPECT_EQ(errors.entries[0].message, "Syntax Error" + ship->src);

  // Compiling the source again rewrites the file with the new stamp, which then loads.
  Reset(ship);
  CompileClassFromSource(*ship);
  ASSERT_TRUE(ship->compiled);
  Reset(ship);
  EXPECT_EQ(CompileClass(*ship, "((( not a class", true), 0);
  EXPECT_TRUE(ship->compiled);
}

// a/bc.brova and ab/c.brova share one file name; neither may load the other's code.
TEST_F(ClassFile, CollidingNamesNeverLoadEachOthersCode) {
  fs::path a = Home() / "a" / "bc.brova", b = Home() / "ab" / "c.brova";
  WriteBytes(a, "extends classes.lang.Object; function who() { print(\"A\"); }");
  WriteBytes(b, "extends classes.lang.Object; function who() { print(\"B\"); }");
  fs::last_write_time(b, fs::last_write_time(a)); // the time stamp does not tell them apart
  auto* ca = static_cast<TRTTI*>(newResourceNode(a.string(), "usr.CA", TNodeKind::Class));
  auto* cb = static_cast<TRTTI*>(newResourceNode(b.string(), "usr.CB", TNodeKind::Class));
  ASSERT_EQ(ClassFileName(*ca), ClassFileName(*cb));
  ResourceRoot()->initialize();
  EXPECT_EQ(Run("$_1 = new usr.CA(); $_1.who(); $_2 = new usr.CB(); $_2.who();"),
            (std::vector<std::string>{"A", "B"}));

  // The file now holds the class compiled last; the other compiles from its source.
  Reset(ca);
  CompileErrorLog errors;
  EXPECT_EQ(CompileClass(*ca, "((( not a class", true), 1);
  Reset(ca);
  CompileClassFromSource(*ca);
  Reset(cb);
  EXPECT_EQ(CompileClass(*cb, "((( not a class", true), 1);
  Reset(cb);
  CompileClassFromSource(*cb);
  EXPECT_EQ(Run("$_1 = new usr.CA(); $_1.who(); $_2 = new usr.CB(); $_2.who();"),
            (std::vector<std::string>{"A", "B"}));
}

TEST_F(ClassFile, AMissingSuperclassIsReportedWhileReadingAndCompiledFromSource) {
  AddClass("Base", "extends classes.lang.Object;");
  TRTTI* derived = AddClass("Derived", "extends usr.Base; function f() { return 1; }");
  ResourceRoot()->initialize();
  ASSERT_TRUE(derived->compiled);
  std::string bytes = ReadBytes(Cache() / "c124_usrDerivedbrova");
  detachResource("usr.Base");
  try {
    Read(derived, bytes);
    ADD_FAILURE() << "no error";
  } catch (const EScriptError& e) {
    EXPECT_STREQ(e.what(), "SuperClassusr.Baseはありません。");
  }
  Reset(derived);
  NoteLog notes;
  EXPECT_EQ(CompileClass(*derived, "extends classes.lang.Object; function f() { return 2; }", true),
            0);
  EXPECT_TRUE(notes.Has("not a valid Class File"));
  EXPECT_EQ(derived->superClass, object_);
}

TEST_F(ClassFile, ErrorPositionsCountTheLineEndsOfTheTextAsRead) {
  TRTTI* bad = AddClass("Bad", "extends classes.lang.Object;\nx = 1;\ny = nothing(2);\n");
  CompileErrorLog errors;
  EXPECT_THROW(ResourceRoot()->initialize(), EScriptError);
  EXPECT_TRUE(bad->compileFailed);
  ASSERT_EQ(errors.entries.size(), 1u);
  EXPECT_EQ(errors.entries[0].message, "Bad:Methodnothing is undefined.");
  // Read with CR LF line ends: two bytes more than the file offset of the last ';'.
  std::string file = "extends classes.lang.Object;\nx = 1;\ny = nothing(2);\n";
  EXPECT_EQ(errors.entries[0].position, static_cast<int>(file.rfind(';')) + 2);
  EXPECT_FALSE(fs::exists(Cache() / "c124_usrBadbrova"));
}

TEST_F(ClassFile, AMissingSourceFailsTheClass) {
  TRTTI* lost = AddClass("Lost", "extends classes.lang.Object;");
  fs::remove(Home() / "usr" / "Lost.brova");
  testing::MessageLog log;
  EXPECT_THROW(ResourceRoot()->initialize(), EScriptError);
  EXPECT_TRUE(lost->compileFailed);
  ASSERT_FALSE(log.shown.empty());
  EXPECT_NE(log.shown[0].find(" is not found."), std::string::npos) << log.shown[0];
}

TEST_F(ClassFile, AFileThatCannotBeWrittenIsSkipped) {
  WriteBytes(Home() / "blocker", "a file where the cache folder would be");
  SetClassCacheFolder((Home() / "blocker" / "Temp").string());
  TRTTI* ship = AddClass("Ship", kShip);
  NoteLog notes;
  ResourceRoot()->initialize();
  EXPECT_TRUE(ship->compiled);
  EXPECT_TRUE(notes.Has(ClassFileName(*ship) + " cannot be written."));
  EXPECT_EQ(Run("$_1 = new usr.Ship(2); $_1.report();").front(), "ship:1");
}

// Damaged files: cut at every length, or with any one byte changed, a file is declined or
// raises, or it loads code that passed verification; nothing reads outside the file.
TEST_F(ClassFile, TruncatedAndFlippedFilesNeverLoadUnsoundCode) {
  TRTTI* ship = AddClass("Ship", kShip);
  ResourceRoot()->initialize();
  const std::string good = ReadBytes(Cache() / "c124_usrShipbrova");
  ASSERT_GT(good.size(), 200u);
  ASSERT_TRUE(Read(ship, good));

  for (size_t n = 0; n < good.size(); ++n) {
    bool loaded = false;
    try {
      loaded = Read(ship, good.substr(0, n));
    } catch (const EScriptError&) {
    }
    EXPECT_FALSE(loaded) << "cut at " << n;
  }
  int loadedFlips = 0;
  for (size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x5a);
    bool loaded = false;
    try {
      loaded = Read(ship, bad);
    } catch (const EScriptError&) {
    }
    if (!loaded) continue;
    ++loadedFlips;
    EXPECT_TRUE(ship->body && ship->body->Runnable()) << "flip at " << at;
    for (TFunction* fn : ship->methods) {
      if (fn->owner == ship && !fn->IsNative()) {
        EXPECT_TRUE(static_cast<TNormalFunction*>(fn)->code->Runnable()) << "flip at " << at;
      }
    }
    // What loaded runs, within a budget: a changed constant may make a loop endless.
    TfObject* obj = testing::NewObject(ship);
    try {
      TProcess* p = CreateProcess(obj, "report");
      brova::Run(p, 20000);
      DestroyProcess(p);
    } catch (const EScriptError&) {
    }
    DestroyInstance(obj);
  }
  EXPECT_LT(loadedFlips, static_cast<int>(good.size()) / 2);
  Reset(ship);
  CompileClassFromSource(*ship);
  EXPECT_EQ(Run("$_1 = new usr.Ship(3); $_1.report();").front(), "ship:3");
}

struct HostileCode {
  const char* what;
  std::vector<uint32_t> words;
  std::vector<TCInfoElem> symbols;
  const char* error = nullptr; // the message, when it is not "Class File<name> is broken"
};

TEST_F(ClassFile, VerifierDeclinesUnsoundCode) {
  TRTTI* cls = AddClass("Hostile", "extends classes.lang.Object;");
  const uint32_t ref = vtRef, obj = vtObject, unset = vtUnset;
  const HostileCode cases[] = {
      {"sound: a global read",
       {Op_Push, ref, 0, Op_Deref, Op_Pop, Op_Push, vtFloat, 0, Op_Halt},
       {{Op_Push, "$g", {0}}, {Op_Push, "", {20}}}},
      {"empty block", {}, {}},
      {"invalid opcode", {99, Op_Halt}, {}},
      {"instruction past the end", {Op_Push, vtInt}, {}},
      {"no Op_Halt at the end", {Op_PushThis, Op_Pop}, {}},
      {"jump out of the block", {Op_Jump, 400, Op_Halt}, {}},
      {"jump backwards out of the block", {Op_Jump, static_cast<uint32_t>(-8), Op_Halt}, {}},
      {"jump into an instruction",
       {Op_Push, vtInt, 1, Op_Jump, static_cast<uint32_t>(-8), Op_Halt},
       {{Op_Push, "", {0}}}},
      {"fused words changed", {Op_LocalValPtr_Deref, 0, Op_Pop, Op_Pop, Op_Halt}, {}},
      {"string without its NUL", {Op_PushString, 4, 0x64636261, Op_Pop, Op_Halt}, {}},
      {"slot reference never relinked", {Op_Push, ref, 64, Op_Pop, Op_Halt}, {}},
      {"slot reference recorded as a constant",
       {Op_Push, ref, 64, Op_Pop, Op_Halt},
       {{Op_Push, "", {0}}}},
      {"object constant", {Op_Push, obj, 64, Op_Pop, Op_Halt}, {{Op_Push, "", {0}}}},
      {"unset constant naming any symbol",
       {Op_Push, unset, 99999, Op_Pop, Op_Halt},
       {{Op_Push, "", {0}}}},
      {"class id not relinked",
       {Op_Push, vtFloat, 0, Op_Constructor, 0, 1, Op_Pop, Op_Halt},
       {{Op_Push, "", {0}}}},
      {"native call not relinked", {Op_PushThis, Op_NativeCall, 0, 1, Op_Pop, Op_Halt}, {}},
      {"symbol on the wrong instruction", {Op_PushThis, Op_Pop, Op_Halt}, {{Op_DCall, "f", {0}}}},
      {"symbol offset outside the block", {Op_Halt}, {{Op_DMemberValPtr, "f", {1000}}}},
      {"symbol offset between words", {Op_Halt}, {{Op_SMemberValPtr, "f", {2}}}},
      {"symbol of no relinkable kind", {Op_Halt}, {{Op_Point, "1", {0}}}},
      {"stack read below the frame", {Op_Pop, Op_Halt}, {}},
      {"stack growing round a loop",
       {Op_PushThis, Op_Jump, static_cast<uint32_t>(-4), Op_Halt},
       {}},
      {"point naming no class", {Op_Point, 0x7fffffff, 1, 2, Op_Halt}, {}},
      {"value name that resolves to nothing",
       {Op_Push, ref, 0, Op_Pop, Op_Halt},
       {{Op_Push, "no.such.value", {0}}},
       "Valueno.such.value is not found."},
      {"class name that resolves to nothing",
       {Op_PushThis, Op_Is, 0, Op_Pop, Op_Halt},
       {{Op_Is, "no.such.Class", {4}}},
       "Classno.such.Class is not found."},
      {"method name the class lacks",
       {Op_PushThis, Op_SCall, 0, 0, Op_Pop, Op_Halt},
       {{Op_SCall, "nothing", {4}}},
       "Methodnothing is not found."},
      {"native name the class lacks",
       {Op_PushThis, Op_NativeCall, 0, 0, Op_Pop, Op_Halt},
       {{Op_NativeCall, "describe", {4}}},
       "native Methoddescribe is not found."},
  };
  for (const HostileCode& c : cases) {
    SCOPED_TRACE(c.what);
    TClassFileWriter w;
    Prefix(w, *cls);
    w.Int(0); // fields
    w.Int(0); // functions
    w.Int(static_cast<int32_t>(c.symbols.size()));
    for (const TCInfoElem& e : c.symbols) {
      w.Int(static_cast<int32_t>(e.kind));
      w.String(e.text);
      w.Int(static_cast<int32_t>(e.offsets.size()));
      for (int32_t off : e.offsets) w.Int(off);
    }
    w.Int(0); // position marks
    w.Int(static_cast<int32_t>(4 * c.words.size()));
    w.Bytes(c.words.data(), 4 * c.words.size());
    if (std::string_view(c.what).rfind("sound", 0) == 0) {
      ASSERT_TRUE(Read(cls, w.Data()));
      EXPECT_EQ(cls->body->Words()[2], HeapAddrOf(GlobalSlotInTree("$g")));
      continue;
    }
    try {
      Read(cls, w.Data());
      ADD_FAILURE() << "loaded";
    } catch (const EScriptError& e) {
      EXPECT_STREQ(e.what(), c.error ? c.error : "Class FileHostile is broken");
    }
  }
}

TEST_F(ClassFile, CountsAndStringsAreCheckedAgainstTheFile) {
  TRTTI* cls = AddClass("Hostile", "extends classes.lang.Object;");
  using Build = void (*)(TClassFileWriter&);
  const std::pair<const char*, Build> cases[] = {
      {"huge field count", [](TClassFileWriter& w) { w.Int(0x7fffffff); }},
      {"negative field count", [](TClassFileWriter& w) { w.Int(-1); }},
      {"huge string length",
       [](TClassFileWriter& w) {
         w.Int(1);
         w.Int(0x7fffffff);
       }},
      {"empty string without its NUL",
       [](TClassFileWriter& w) {
         w.Int(1);
         w.Int(0);
       }},
      {"string without NUL",
       [](TClassFileWriter& w) {
         w.Int(1);
         w.Int(3);
         w.Bytes("abc", 3);
       }},
      {"huge function count",
       [](TClassFileWriter& w) {
         w.Int(0);
         w.Int(0x10000000);
       }},
      {"unknown function kind",
       [](TClassFileWriter& w) {
         w.Int(0);
         w.Int(1);
         w.String("TOtherFunction");
         w.String("f");
       }},
      {"huge symbol count",
       [](TClassFileWriter& w) {
         w.Int(0);
         w.Int(0);
         w.Int(0x7ffffff0);
       }},
      {"huge code size",
       [](TClassFileWriter& w) {
         w.Int(0);
         w.Int(0);
         w.Int(0);
         w.Int(0);
         w.Int(0x7ffffff0);
       }},
      {"trailing bytes",
       [](TClassFileWriter& w) {
         w.Int(0);
         w.Int(0);
         w.Int(0);
         w.Int(0);
         w.Int(4);
         w.Int(Op_Halt);
         w.Int(0);
       }},
  };
  for (const auto& [what, build] : cases) {
    SCOPED_TRACE(what);
    TClassFileWriter w;
    Prefix(w, *cls);
    build(w);
    EXPECT_THROW(Read(cls, w.Data()), EScriptError);
  }
  // Another format mark or another source declines without an error.
  TClassFileWriter other;
  other.Int(12300);
  EXPECT_FALSE(Read(cls, other.Data()));
  TClassFileWriter moved;
  moved.Int(kClassFileMark);
  moved.String(cls->src + ".old");
  EXPECT_FALSE(Read(cls, moved.Data()));
}

} // namespace
} // namespace brova
