#include "compiler/class_file.h"

#include <sys/stat.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "compiler/code_verifier.h"
#include "compiler/method_table.h"
#include "compiler/native_placeholder.h"
#include "resources/resource_tree.h"
#include "runtime/code.h"
#include "runtime/errors.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

std::string& CacheFolder() {
  static auto* dir = new std::string;
  return *dir;
}

std::string& ProgramDir() {
  static auto* dir = new std::string;
  return *dir;
}

constexpr const char* kKindNames[] = {"TNormalFunction", "TConstructor", "TDestructor",
                                      "TNativeFunction"};

const char* KindName(FunctionKind kind) {
  switch (kind) {
  case FunctionKind::Normal: return kKindNames[0];
  case FunctionKind::Constructor: return kKindNames[1];
  case FunctionKind::Destructor: return kKindNames[2];
  default: return kKindNames[3];
  }
}

void WriteNames(TClassFileWriter& out, const std::vector<std::string>& names) {
  out.Int(static_cast<int32_t>(names.size()));
  for (const auto& n : names) out.String(n);
}

void ReadNames(TClassFileReader& in, std::vector<std::string>& names) {
  int32_t n = in.Count(5);
  names.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) names.push_back(in.String());
}

TResource* FromRoot(const std::string& path) {
  TResource* root = ResourceRoot();
  return root ? root->resolve(path) : nullptr;
}

[[noreturn]] void NotFound(const char* what, const std::string& text) {
  throw EScriptError(Translate(what) + text + Translate(" is not found."));
}

// Reads at most one byte more than a class file may have, so a larger one is seen as such.
std::string ReadAll(std::istream& in) {
  std::string data;
  char buffer[65536];
  while (data.size() <= kMaxClassFileBytes && in.read(buffer, sizeof buffer).gcount() > 0)
    data.append(buffer, static_cast<size_t>(in.gcount()));
  return data;
}

} // namespace

void SetClassCacheFolder(std::string dir) { CacheFolder() = std::move(dir); }
const std::string& ClassCacheFolder() { return CacheFolder(); }
void SetProgramFolder(std::string dir) { ProgramDir() = std::move(dir); }
const std::string& ProgramFolder() { return ProgramDir(); }

std::string CacheFileName(std::string_view sourcePath, std::string_view prefix) {
  std::string rel =
      ProgramDir().empty() ? ToHostPath(sourcePath) : RelativePath(sourcePath, ProgramDir());
  std::string name(prefix);
  for (size_t i = 0; i < rel.size(); ++i) {
    char ch = rel[i];
    if (ch == '.' && i + 1 < rel.size() && rel[i + 1] == '.') { // every ".." becomes "@"
      name += '@';
      ++i;
    } else if (ch == '@' || ch == '_' || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
               (ch >= '0' && ch <= '9')) {
      name += ch;
    }
  }
  return name;
}

std::string ClassFileNameFor(std::string_view sourcePath) {
  return CacheFileName(sourcePath, kClassFilePrefix);
}

std::string ClassFileName(const TRTTI& cls) {
  if (CacheFolder().empty() || cls.src.empty()) return {};
  return JoinPath(ClassFileNameFor(cls.src), CacheFolder());
}

std::optional<TSourceFingerprint> SourceFingerprint(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return TSourceFingerprint{static_cast<uint32_t>(st.st_mtime),
                            static_cast<uint32_t>(st.st_mtim.tv_nsec),
                            static_cast<uint32_t>(st.st_size)};
}

// ---- bytes

void TClassFileWriter::Int(int32_t v) {
  auto u = static_cast<uint32_t>(v);
  char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
               static_cast<char>(u >> 24)};
  data_.append(b, 4);
}

void TClassFileWriter::String(std::string_view text) {
  Int(static_cast<int32_t>(text.size() + 1));
  data_.append(text);
  data_.push_back('\0');
}

void TClassFileWriter::Bytes(const void* data, size_t n) {
  data_.append(static_cast<const char*>(data), n);
}

void TClassFileWriter::HandOn(std::ostream& out) {
  out.write(data_.data(), static_cast<std::streamsize>(data_.size()));
  data_.clear();
}

void RaiseBrokenClassFile(const std::string& className) {
  throw EScriptError(Translate("Class File") + className + Translate(" is broken"));
}

void TClassFileReader::Broken() const { RaiseBrokenClassFile(className_); }

std::string_view TClassFileReader::Bytes(size_t n) {
  if (n > data_.size() - pos_) Broken();
  std::string_view bytes = data_.substr(pos_, n);
  pos_ += n;
  return bytes;
}

int32_t TClassFileReader::Int() {
  std::string_view b = Bytes(4);
  uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<uint8_t>(b[static_cast<size_t>(i)]);
  return static_cast<int32_t>(u);
}

int32_t TClassFileReader::Count(size_t minBytes) {
  int32_t n = Int();
  if (n < 0 || static_cast<uint64_t>(n) * minBytes > data_.size() - pos_) Broken();
  return n;
}

std::string TClassFileReader::String() {
  int32_t n = Int();
  if (n < 1) Broken();
  std::string_view bytes = Bytes(static_cast<size_t>(n));
  size_t nul = bytes.find('\0');
  if (nul == std::string_view::npos) Broken();
  return std::string(bytes.substr(0, nul));
}

// ---- records

void WriteFunctionTo(TClassFileWriter& out, const TFunction& fn) {
  out.String(KindName(fn.kind));
  out.String(fn.GetName());
  if (fn.IsNative()) return;
  const auto& normal = static_cast<const TNormalFunction&>(fn);
  WriteNames(out, normal.paramNames);
  WriteNames(out, normal.localNames);
  WriteCodeTo(out, *normal.code);
}

TFunction* ReadFunctionFrom(TClassFileReader& in, TRTTI& cls) {
  std::string kind = in.String();
  std::string name = in.String();
  if (kind == kKindNames[3]) {
    auto* fn = new TNativeFunction(&cls, name);
    fn->callback = NativeNotImplemented;
    return fn;
  }
  std::unique_ptr<TNormalFunction> fn;
  if (kind == kKindNames[0]) fn = std::make_unique<TNormalFunction>(&cls, name);
  else if (kind == kKindNames[1]) fn = std::make_unique<TConstructor>(&cls, name);
  else if (kind == kKindNames[2]) fn = std::make_unique<TDestructor>(&cls, name);
  else in.Broken();
  ReadNames(in, fn->paramNames);
  ReadNames(in, fn->localNames);
  fn->code = ReadCodeFrom(in, cls);
  return fn.release();
}

void WriteCodeTo(TClassFileWriter& out, const TCompiledInfo& code) {
  const TSymInfoList& s = code.symbols;
  out.Int(static_cast<int32_t>(s.elems.size()));
  for (const TCInfoElem& e : s.elems) {
    out.Int(static_cast<int32_t>(e.kind));
    out.String(e.text);
    out.Int(static_cast<int32_t>(e.offsets.size()));
    for (int32_t off : e.offsets) out.Int(off);
  }
  out.Int(static_cast<int32_t>(s.positions.size()));
  for (const TPositionMark& m : s.positions) {
    out.String(m.position);
    out.Int(m.offset);
  }
  out.Int(static_cast<int32_t>(code.size));
  out.Bytes(HeapPtr(code.code), code.size);
}

TCompiledInfo* ReadCodeFrom(TClassFileReader& in, TRTTI& owner) {
  TSymInfoList symbols;
  int32_t elems = in.Count(13); // kind, an empty text and an offset count
  symbols.elems.reserve(static_cast<size_t>(elems));
  for (int32_t i = 0; i < elems; ++i) {
    TCInfoElem e;
    e.kind = static_cast<uint32_t>(in.Int());
    e.text = in.String();
    int32_t n = in.Count(4);
    e.offsets.reserve(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) e.offsets.push_back(in.Int());
    symbols.elems.push_back(std::move(e));
  }
  int32_t marks = in.Count(9); // an empty text and an offset
  symbols.positions.reserve(static_cast<size_t>(marks));
  for (int32_t i = 0; i < marks; ++i) {
    std::string position = in.String();
    symbols.positions.push_back({std::move(position), in.Int()});
  }
  int32_t size = in.Count(1);
  if (size == 0 || size % 4 != 0) in.Broken();
  std::string_view bytes = in.Bytes(static_cast<size_t>(size));
  // Copied into words first: the file's bytes need not be aligned.
  std::vector<uint32_t> words((bytes.size() + 3) / 4, 0);
  std::memcpy(words.data(), bytes.data(), bytes.size());
  if (!CheckCodeShape(words.data(), static_cast<uint32_t>(size), symbols)) in.Broken();
  return MakeCompiledInfo(reinterpret_cast<const uint8_t*>(words.data()),
                          static_cast<uint32_t>(size), std::move(symbols), &owner);
}

void RelinkCode(TCompiledInfo& code, TRTTI& cls) {
  uint32_t* w = code.Words();
  for (const TCInfoElem& e : code.symbols.elems) {
    for (int32_t off : e.offsets) {
      uint32_t* operand = w + off / 4 + 1;
      switch (e.kind) {
      case Op_Push: {
        if (e.text.empty()) break; // a constant
        TResource* r = FromRoot(e.text);
        TValue* slot = r ? r->valuePtr() : nullptr;
        if (!slot) NotFound("Value", e.text);
        operand[0] = vtRef;
        operand[1] = HeapAddrOf(slot);
        break;
      }
      case Op_SMemberValPtr:
        operand[0] = static_cast<uint32_t>(FieldIndexAdding(&cls, e.text));
        break;
      case Op_DMemberValPtr: operand[0] = Intern(e.text); break;
      case Op_DCall: operand[1] = Intern(e.text); break;
      case Op_SCall: {
        int32_t index = MethodIndexByName(&cls, e.text);
        if (index < 0) NotFound("Method", e.text);
        operand[1] = static_cast<uint32_t>(index);
        break;
      }
      case Op_SuperCall: {
        TRTTI* super = cls.superClass;
        TFunction* fn = nullptr;
        if (super) {
          if (e.text == "constructor") fn = ConstructorOf(super);
          else if (e.text == "destructor") fn = DestructorOf(super);
          else fn = MethodByName(super, e.text);
        }
        if (!fn) NotFound("Method super.", e.text);
        operand[1] = fn->id;
        break;
      }
      case Op_NativeCall: {
        TFunction* fn = MethodByName(&cls, e.text);
        if (!fn || !fn->IsNative()) NotFound("native Method", e.text);
        operand[1] = fn->id;
        break;
      }
      case Op_Constructor:
      case Op_Is: {
        auto* target = dynamic_cast<TRTTI*>(FromRoot(e.text));
        if (!target) NotFound("Class", e.text);
        operand[e.kind == Op_Is ? 0 : 1] = target->id;
        break;
      }
      default: break;
      }
    }
  }
  code.owner = &cls;
  if (!CheckLinkedCode(code)) RaiseBrokenClassFile(cls.name);
}

// ---- the class

void WriteClassFile(const TRTTI& cls, std::ostream& out) {
  std::optional<TSourceFingerprint> stamp = SourceFingerprint(cls.src);
  if (!stamp) throw EScriptError(cls.src + Translate(" is not found."));
  TClassFileWriter w;
  w.Int(kClassFileMark);
  w.String(cls.src);
  w.Int(static_cast<int32_t>(stamp->stamp));
  w.Int(static_cast<int32_t>(stamp->nanoseconds));
  w.Int(static_cast<int32_t>(stamp->size));
  const TRTTI* super = cls.superClass;
  w.String(super ? super->dottedPath() : std::string());
  std::vector<SymbolId> own;
  for (const auto& f : cls.fieldNames)
    if (!super || !HasField(super, f.sym)) own.push_back(f.sym);
  w.Int(static_cast<int32_t>(own.size()));
  for (SymbolId sym : own) w.String(SymbolName(sym));
  std::vector<const TFunction*> functions;
  for (const TFunction* fn : cls.methods)
    if (fn->owner == &cls) functions.push_back(fn);
  w.Int(static_cast<int32_t>(functions.size()));
  constexpr size_t kHandOnBytes = 64 * 1024;
  for (const TFunction* fn : functions) {
    WriteFunctionTo(w, *fn);
    if (w.Data().size() >= kHandOnBytes) w.HandOn(out);
  }
  WriteCodeTo(w, *cls.body);
  w.HandOn(out);
}

bool ReadClassFile(TRTTI& cls, std::istream& in) {
  std::string data = ReadAll(in);
  TClassFileReader r(data, cls.name);
  if (data.size() > kMaxClassFileBytes) r.Broken();
  if (r.Int() != kClassFileMark) return false;
  // Two sources may share a file name; a file names the source it was made from.
  if (r.String() != cls.src) return false;
  // A time stamp in whole seconds alone would take a source saved twice within one second for
  // unchanged: the fraction and the size are compared too.
  std::optional<TSourceFingerprint> stamp = SourceFingerprint(cls.src);
  if (!stamp || static_cast<uint32_t>(r.Int()) != stamp->stamp) return false;
  if (static_cast<uint32_t>(r.Int()) != stamp->nanoseconds) return false;
  if (static_cast<uint32_t>(r.Int()) != stamp->size) return false;

  std::string superPath = r.String();
  TRTTI* super = nullptr;
  if (!superPath.empty()) {
    super = dynamic_cast<TRTTI*>(FromRoot(superPath));
    if (!super) throw EScriptError(Translate("SuperClass") + superPath + "はありません。");
    if (!super->compiled) return false;
  }
  cls.superClass = super;
  InheritMethods(&cls);
  InheritFields(&cls);

  int32_t fields = r.Count(5);
  for (int32_t i = 0; i < fields; ++i) {
    std::string name = r.String();
    FieldIndexAdding(&cls, name);
  }
  int32_t functions = r.Count(10); // two texts at least
  for (int32_t i = 0; i < functions; ++i) {
    TFunction* fn = ReadFunctionFrom(r, cls);
    if (fn->IsNative()) AddMethod(&cls, fn);
    else DeclareMethod(&cls, fn);
  }
  TCompiledInfo* body = ReadCodeFrom(r, cls);
  delete cls.body;
  cls.body = body;
  if (!r.AtEnd()) r.Broken();

  for (TFunction* fn : cls.methods)
    if (fn->owner == &cls && !fn->IsNative())
      RelinkCode(*static_cast<TNormalFunction*>(fn)->code, cls);
  RelinkCode(*cls.body, cls);
  cls.compiled = true;
  return true;
}

} // namespace brova
