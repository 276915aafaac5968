#include "natives/file_natives.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "natives/accessible_file.h"
#include "natives/base64.h"
#include "natives/buffered_stream.h"
#include "natives/file_sandbox.h"
#include "natives/script_services.h"
#include "resources/snippet_evaluator.h"
#include "runtime/globals.h"
#include "runtime/value_list.h"
#include "runtime/errors.h"
#include "runtime/heap_cell.h"
#include "runtime/progress_note.h"
#include "class_builder.h"
#include "native_frame.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using namespace natives;
using testing::Held;
using testing::StringClassForTests;
using testing::TNativeFrame;

TValue Str(const std::string& text) {
  StringClassForTests();
  return Held(MakeString(text));
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// A page folder in a fresh temporary folder, with `outside` beside it for escapes to aim at.
class Files : public ::testing::Test {
protected:
  void SetUp() override {
    StringClassForTests();
    std::string tmpl = (fs::temp_directory_path() / "brova-files-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(tmpl.data()));
    root = tmpl;
    files = root / "page" / "files";
    outside = root / "outside";
    fs::create_directories(outside);
    fs::create_directories(root / "page");
    SetFilesFolder(files.string());
  }
  void TearDown() override {
    SetFilesFolder("");
    fs::remove_all(root);
  }

  TValue Writer(const std::string& name) {
    return frame.Call(FileWriterOpen, NullValue(), {NullValue(), Str(name)});
  }
  TValue Reader(const std::string& name) {
    return frame.Call(FileReaderOpen, NullValue(), {NullValue(), Str(name)});
  }
  int32_t Call(NativeBody body, std::initializer_list<TValue> args) {
    return frame.Call(body, NullValue(), args).i;
  }

  fs::path root, files, outside;
  TNativeFrame frame;
};

TEST_F(Files, NamesStayBelowTheFilesFolder) {
  struct Case {
    const char* name;
    const char* rel;
  } cases[] = {
      {"save/game1.dat", "/save/game1.dat"},
      {"../../x.txt", "/x.txt"},
      {"C:\\temp\\x", "/Ctempx"},
      {"/etc/passwd", "/etc/passwd"},
      {"a/../b//c", "/a/b/c"},
      {"a...b", "/a.b"},
      {"./.../x", "/x"},
      {"....", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SandboxPath(c.name), files.string() + c.rel) << c.name;

  // An empty name is the file "untitled"; folders on the way are made.
  TValue w = Writer("");
  ASSERT_EQ(w.kind, vtNative);
  Call(FileWriterWriteLn, {w, Str("u")});
  Call(OutputStreamClose, {w});
  EXPECT_EQ(ReadAll(files / "untitled"), "u");
  w = Writer("/abs/deep/x.txt");
  ASSERT_EQ(w.kind, vtNative);
  Call(OutputStreamClose, {w});
  EXPECT_TRUE(fs::is_regular_file(files / "abs" / "deep" / "x.txt"));
  EXPECT_EQ(Reader("").kind, vtNative);

  SetFilesFolder("");
  EXPECT_EQ(Writer("x.txt").i, 0) << "no page, no files";
}

TEST_F(Files, SymbolicLinksDoNotLeadOut) {
  fs::create_directories(files / "sub");
  WriteAll(outside / "secret.txt", "secret");
  WriteAll(files / "mine.txt", "mine");
  fs::create_directory_symlink(outside, files / "out");
  fs::create_symlink(outside / "secret.txt", files / "link.txt");
  fs::create_symlink(outside / "new.txt", files / "dangling.txt");
  fs::create_directory_symlink(files / "sub", files / "alias");

  for (const char* name : {"out/secret.txt", "link.txt", "out/new.txt", "dangling.txt",
                           "out/deeper/new.txt"}) {
    EXPECT_EQ(Writer(name).i, 0) << name;
    EXPECT_EQ(Reader(name).i, 0) << name;
    EXPECT_EQ(Call(ObjectFileExists, {Str(name)}), 0) << name;
    EXPECT_EQ(Call(ObjectDeleteFile, {Str(name)}), 0) << name;
    EXPECT_EQ(Call(ObjectMoveFile, {Str("mine.txt"), Str(name)}), 0) << name;
    EXPECT_EQ(Call(ObjectMoveFile, {Str(name), Str("moved.txt")}), 0) << name;
  }
  EXPECT_EQ(ReadAll(outside / "secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(outside / "new.txt"));
  EXPECT_FALSE(fs::exists(outside / "deeper"));
  EXPECT_TRUE(fs::exists(files / "mine.txt"));

  // A link that stays inside is followed.
  TValue w = Writer("alias/y.txt");
  ASSERT_EQ(w.kind, vtNative);
  Call(OutputStreamClose, {w});
  EXPECT_TRUE(fs::exists(files / "sub" / "y.txt"));
}

TEST_F(Files, ExistsMoveAndDelete) {
  fs::create_directories(files / "dir");
  WriteAll(files / "a.txt", "a");
  WriteAll(files / "b.txt", "b");
  EXPECT_EQ(Call(ObjectFileExists, {Str("a.txt")}), 1);
  EXPECT_EQ(Call(ObjectFileExists, {Str("dir")}), 0) << "a folder is no file";
  EXPECT_EQ(Call(ObjectFileExists, {Str("")}), 0);
  EXPECT_EQ(Call(ObjectMoveFile, {Str("a.txt"), Str("b.txt")}), 0) << "b.txt is kept";
  EXPECT_EQ(ReadAll(files / "b.txt"), "b");
  EXPECT_EQ(Call(ObjectMoveFile, {Str("a.txt"), Str("c.txt")}), 1);
  EXPECT_EQ(Call(ObjectFileExists, {Str("a.txt")}), 0);
  EXPECT_EQ(Call(ObjectDeleteFile, {Str("c.txt")}), 1);
  EXPECT_EQ(Call(ObjectDeleteFile, {Str("c.txt")}), 0);
  EXPECT_EQ(Call(ObjectDeleteFile, {Str("dir")}), 0);
  EXPECT_EQ(Call(ObjectDeleteFile, {Str("")}), 0);
  EXPECT_TRUE(fs::exists(files));
  EXPECT_EQ(frame.Call(ObjectMoveFile, IntValue(7), {Str("b.txt")}).i, 7) << "needs two";
}

TEST_F(Files, LinesEndAtLineFeedsWithCarriageReturnsDropped) {
  const std::string longLine(5000, 'x');
  struct Case {
    std::string content;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"\r\n\n", {"", ""}},
      {"", {}},
      {"a\rb\r\n", {"ab"}},
      {longLine + "\n" + "y", {longLine, "y"}},
  };
  fs::create_directories(files);
  for (const Case& c : cases) {
    WriteAll(files / "lines.txt", c.content);
    TValue r = Reader("lines.txt");
    ASSERT_EQ(r.kind, vtNative);
    std::vector<std::string> lines;
    for (;;) {
      TValue line = frame.Call(InputStreamReadLn, NullValue(), {r});
      if (line.kind == vtNull) break;
      lines.push_back(ValueToText(line));
    }
    EXPECT_EQ(lines, c.lines) << c.content.substr(0, 10);
    EXPECT_EQ(Call(InputStreamEof, {r}), 1);
    EXPECT_EQ(frame.Call(InputStreamRead, NullValue(), {r}).kind, vtNull);
    Call(InputStreamClose, {r});
  }
  EXPECT_EQ(Reader("missing.txt").i, 0);
}

TEST_F(Files, BytesReachTheFileWhenTheBufferFillsOrTheWriterCloses) {
  TValue w = Writer("out.bin");
  ASSERT_EQ(w.kind, vtNative);
  for (int i = 0; i < 300; ++i) Call(FileWriterWrite, {w, IntValue(256 + i)});
  EXPECT_EQ(fs::file_size(files / "out.bin"), 0u);
  Call(OutputStreamClose, {w});
  std::string bytes = ReadAll(files / "out.bin");
  ASSERT_EQ(bytes.size(), 300u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[299]), 43);

  // A closed writer's handle is stale: writing and closing again change nothing.
  EXPECT_EQ(frame.Call(FileWriterWrite, IntValue(7), {w, IntValue(1)}).i, 7);
  EXPECT_EQ(frame.Call(OutputStreamClose, IntValue(7), {w}).i, 7);
  EXPECT_EQ(fs::file_size(files / "out.bin"), 300u);

  w = Writer("big.txt");
  Call(FileWriterWriteLn, {w, Str(std::string(5000, 'z'))});
  EXPECT_EQ(fs::file_size(files / "big.txt"), TBufferedStream::kBufferSize);
  Call(FileWriterWriteLn, {w, IntValue(12)});
  Call(OutputStreamClose, {w});
  EXPECT_EQ(ReadAll(files / "big.txt"), std::string(5000, 'z') + "12");

  // Freed without a close, a writer still hands over what it buffered.
  std::unique_ptr<TFileWriter> direct = TFileWriter::Create((files / "freed.txt").string());
  direct->Write("abc", 3);
  EXPECT_EQ(fs::file_size(files / "freed.txt"), 0u);
  direct.reset();
  EXPECT_EQ(ReadAll(files / "freed.txt"), "abc");
}

TEST_F(Files, StreamsOfAnotherClassAreNotTaken) {
  TValue bin = frame.Call(BinWriterInit, NullValue(), {});
  TValue w = Writer("w.txt");
  EXPECT_EQ(frame.Call(InputStreamRead, IntValue(7), {bin}).i, 7);
  EXPECT_EQ(frame.Call(InputStreamReadLn, IntValue(7), {w}).i, 7);
  EXPECT_EQ(frame.Call(FileWriterWrite, IntValue(7), {bin, IntValue(1)}).i, 7);
  EXPECT_EQ(frame.Call(InputStreamClose, IntValue(7), {w}).i, 7);
  Call(FileWriterWriteLn, {w, Str("still open")});
  Call(OutputStreamClose, {w});
  EXPECT_EQ(ReadAll(files / "w.txt"), "still open");
}

TEST(Base64, EncodesAndDecodesWithoutLeavingItsInput) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {std::string("\x01\0\0\0", 4), "AQAAAA=="}, {"\xff\xfe", "//4="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeBase64(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
              c.text);
    std::vector<uint8_t> back = DecodeBase64(c.text);
    EXPECT_EQ(std::string(back.begin(), back.end()), c.bytes) << c.text;
  }
  struct Broken {
    std::string text, bytes;
  } broken[] = {
      {"Zm9v!YmFy", "foobar"}, {"Zm9vY", "foo"}, {"Zg", "f"},   {"Zm8", "fo"},
      {"====", ""},            {"Z", ""},        {"Zg==Zg==", "ff"},
      {"\x80\xff\nZm9v", "foo"},
  };
  for (const Broken& b : broken) {
    std::vector<uint8_t> out = DecodeBase64(b.text);
    EXPECT_EQ(std::string(out.begin(), out.end()), b.bytes) << b.text;
  }
}

TEST(BinStreams, IntegersThroughBase64Text) {
  StringClassForTests();
  TNativeFrame frame;
  TValue w = frame.Call(BinWriterInit, NullValue(), {});
  frame.Call(BinWriterWriteInt, NullValue(), {w, IntValue(1)});
  EXPECT_EQ(ValueToText(frame.Call(BinWriterToB64, NullValue(), {w})), "AQAAAA==");
  for (int i = 0; i < 100; ++i) frame.Call(BinWriterWriteInt, NullValue(), {w, IntValue(-i)});
  TValue text = Held(frame.Call(BinWriterToB64, NullValue(), {w}).u);
  frame.Call(BinWriterFree, NullValue(), {w});
  EXPECT_EQ(frame.Call(BinWriterToB64, IntValue(7), {w}).i, 7) << "freed";

  TValue r = frame.Call(BinReaderInit, NullValue(), {text});
  EXPECT_EQ(frame.Call(BinReaderReadInt, NullValue(), {r}).i, 1);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(frame.Call(BinReaderReadInt, NullValue(), {r}).i, -i);
  EXPECT_EQ(frame.Call(BinReaderReadInt, NullValue(), {r}).i, 0) << "past the end";
  frame.Call(BinReaderFree, NullValue(), {r});
  EXPECT_EQ(frame.Call(BinReaderReadInt, IntValue(7), {r}).i, 7);

  // A broken length reads what there is, then zeros.
  r = frame.Call(BinReaderInit, NullValue(), {Str("AQAA")});
  EXPECT_EQ(frame.Call(BinReaderReadInt, NullValue(), {r}).i, 1);
  frame.Call(BinReaderFree, NullValue(), {r});
}

// ResourceReader and ResourceWriter find their file through `$_tmp_rrdr.getURL()`: the stand-in
// evaluator answers with the path the test chose, and notes are collected.
class ResourceDataFiles : public Files {
protected:
  void SetUp() override {
    Files::SetUp();
    SetGlobalResolver([this](std::string_view name) {
      auto& cell = globals[std::string(name)];
      if (!cell) cell = std::make_unique<THeapCell>();
      return &cell->value();
    });
    SetSnippetEvaluator([this](std::string_view text, bool) {
      snippets.emplace_back(text);
      SetStringResult(*ResolveGlobal("$_tmp_valueOf"), url);
      return 0;
    });
    SetProgressNoteSink([this](std::string_view note) { notes.emplace_back(note); });
  }
  void TearDown() override {
    SetGlobalResolver(nullptr);
    SetSnippetEvaluator(nullptr);
    SetProgressNoteSink(nullptr);
    Files::TearDown();
  }

  TValue Open(NativeBody init, const fs::path& file) {
    url = file.string();
    notes.clear();
    return frame.Call(init, IntValue(7), {});
  }

  std::map<std::string, std::unique_ptr<THeapCell>> globals;
  std::vector<std::string> snippets, notes;
  std::string url;
};

TEST_F(ResourceDataFiles, HeaderRulesForReadingAndWriting) {
  const std::string header(kAccessibleHeader);
  WriteAll(root / "good.dat", header + "\x05\x01\x02\x03\x04\x09");
  WriteAll(root / "level.map", "\x05\x06");
  WriteAll(root / "plain.dat", "\x05\x06");
  WriteAll(root / "upper.MAP", "\x05\x06");

  TValue r = Open(ResourceReaderInit, root / "good.dat");
  EXPECT_EQ(snippets.back(), "extends Object; $_tmp_valueOf=$_tmp_rrdr.getURL();");
  ASSERT_EQ(r.kind, vtNative);
  EXPECT_EQ(frame.Call(InputStreamRead, NullValue(), {r}).i, 5);
  EXPECT_EQ(frame.Call(InputStreamReadInt, NullValue(), {r}).i, 0x04030201);
  EXPECT_EQ(frame.Call(InputStreamReadInt, NullValue(), {r}).kind, vtNull) << "one byte left";
  EXPECT_EQ(frame.Call(InputStreamRead, NullValue(), {r}).kind, vtNull);
  Call(InputStreamClose, {r});
  EXPECT_TRUE(notes.empty());

  r = Open(ResourceReaderInit, root / "level.map");
  ASSERT_EQ(r.kind, vtNative);
  EXPECT_EQ(notes, std::vector<std::string>{"warning: not a brova accessible"});
  EXPECT_EQ(frame.Call(InputStreamRead, NullValue(), {r}).i, 5) << "read from its first byte";
  Call(InputStreamClose, {r});

  for (const char* name : {"plain.dat", "upper.MAP"}) {
    EXPECT_EQ(Open(ResourceReaderInit, root / name).i, 7) << name;
    EXPECT_EQ(notes.back(), "not a valid file. read aborted");
    EXPECT_EQ(Open(ResourceWriterInit, root / name).i, 7) << name;
    EXPECT_EQ(notes.back(), "not a valid file. not wrote");
    EXPECT_EQ(ReadAll(root / name), "\x05\x06");
  }

  // Written back, a map file gains the header.
  TValue w = Open(ResourceWriterInit, root / "level.map");
  EXPECT_EQ(snippets.back(), "extends Object; $_tmp_valueOf=$_tmp_rwrt.getURL();");
  ASSERT_EQ(w.kind, vtNative);
  EXPECT_EQ(frame.Call(ResourceWriterWrite, NullValue(), {w, IntValue(0x1ff)}).i, 0xff);
  EXPECT_EQ(frame.Call(ResourceWriterWriteInt, NullValue(), {w, IntValue(-2)}).i, -2);
  Call(OutputStreamClose, {w});
  EXPECT_EQ(ReadAll(root / "level.map"), header + "\xff\xfe\xff\xff\xff");
  r = Open(ResourceReaderInit, root / "level.map");
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(frame.Call(InputStreamRead, NullValue(), {r}).i, 0xff);
  Call(InputStreamClose, {r});

  EXPECT_THROW(Open(ResourceReaderInit, root / "missing.dat"), EScriptError);
  EXPECT_THROW(Open(ResourceWriterInit, root / "missing.map"), EScriptError);
  EXPECT_FALSE(fs::exists(root / "missing.map"));
}

} // namespace
} // namespace brova
