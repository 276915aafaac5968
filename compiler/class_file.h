// Compiled-class files: a cache of a class's compiled form in the cache folder, with names
// in place of run-time ids so that loading relinks the code against the classes and
// resources of this run.
//
// The file is a sequence of 32-bit little-endian integers, strings and raw code. A string
// is an integer n (its length plus one) and n bytes: the characters and a NUL. Items:
//   format mark 12400; source path; source time stamp; superclass path (empty: none);
//   own field count and names; count of functions the class owns and their records;
//   the initialisation code.
// Function record: kind ("TNormalFunction", "TConstructor", "TDestructor",
// "TNativeFunction"), name, and for all but natives the argument names, the local names
// (each a count and strings) and the code. Code record: symbol elements (count; each kind,
// text, offset count, offsets), position marks (count; each position text, code offset),
// code size and bytes.
//
// A file is untrusted input: reading checks every count and length against what is left
// of the file, and loaded code runs only after it has been verified.
#pragma once
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace brova {

class TRTTI;
class TFunction;
struct TCompiledInfo;

inline constexpr int32_t kClassFileMark = 12400;
inline constexpr std::string_view kClassFilePrefix = "c124_";
// Larger files are not ours; they are declined before anything is allocated for them.
inline constexpr size_t kMaxClassFileBytes = 64u << 20;

// The folder compiled-class files live in; empty (the default) turns the cache off. It is
// created when a file is first written.
void SetClassCacheFolder(std::string dir);
const std::string& ClassCacheFolder();
// Source paths are named relative to the program folder.
void SetProgramFolder(std::string dir);
const std::string& ProgramFolder();

// The file name for a source path: relative to the program folder, ".." replaced by "@",
// every byte other than @, letters, digits and _ removed, prefixed with c124_.
std::string ClassFileNameFor(std::string_view sourcePath);
// The same rule with another prefix (construction scripts use "i124_").
std::string CacheFileName(std::string_view sourcePath, std::string_view prefix);
// The class's file in the cache folder; empty without a cache folder or a source path.
std::string ClassFileName(const TRTTI& cls);

// What identifies a version of a source file: its time stamp in seconds, the fraction of
// that second, and its size.
struct TSourceFingerprint {
  uint32_t stamp;
  uint32_t nanoseconds;
  uint32_t size;
};
std::optional<TSourceFingerprint> SourceFingerprint(const std::string& path);

// Raises "Class File<name> is broken".
[[noreturn]] void RaiseBrokenClassFile(const std::string& className);

// Builds the bytes of a file.
class TClassFileWriter {
public:
  void Int(int32_t v);
  void String(std::string_view text);
  void Bytes(const void* data, size_t n);
  // The bytes not yet handed on.
  const std::string& Data() const { return data_; }
  // Writes them to the stream and forgets them, so a large file is never held whole.
  void HandOn(std::ostream& out);

private:
  std::string data_;
};

// Reads the bytes of a file; anything that would read past the end or allocate more than
// the file could describe raises "Class File<name> is broken".
class TClassFileReader {
public:
  TClassFileReader(std::string_view data, std::string className)
      : data_(data), className_(std::move(className)) {}
  int32_t Int();
  // A count of items that each take at least `minBytes` bytes of what is left.
  int32_t Count(size_t minBytes);
  std::string String();
  std::string_view Bytes(size_t n);
  bool AtEnd() const { return pos_ == data_.size(); }
  [[noreturn]] void Broken() const;

private:
  std::string_view data_;
  size_t pos_ = 0;
  std::string className_;
};

// A function record; natives are written with their kind and name alone.
void WriteFunctionTo(TClassFileWriter& out, const TFunction& fn);
// A new function owned by `cls`, not yet in its method table (natives are appended, the
// others declared as code generation declares them); natives get the placeholder body. A kind other
// than the four raises "Class File<name> is broken".
TFunction* ReadFunctionFrom(TClassFileReader& in, TRTTI& cls);

void WriteCodeTo(TClassFileWriter& out, const TCompiledInfo& code);
// Reads a code record and checks its shape (see code_verifier.h); the ids in it are not
// linked yet.
TCompiledInfo* ReadCodeFrom(TClassFileReader& in, TRTTI& owner);

// Rewrites every recorded name into the id it has in this run, then verifies the code.
// Raises the "... is not found." messages for names that resolve to nothing.
void RelinkCode(TCompiledInfo& code, TRTTI& cls);

// Writes the class as compiled now. Raises EScriptError when the source's time stamp
// cannot be read.
void WriteClassFile(const TRTTI& cls, std::ostream& out);
// Loads the whole class and marks it compiled (true), declines without changing it
// (false: another format, a stale time stamp, another source path, a superclass not
// compiled yet), or raises when the file is broken or names what does not exist; the
// class may then hold part of the file and must be reset before it is compiled.
bool ReadClassFile(TRTTI& cls, std::istream& in);

} // namespace brova
