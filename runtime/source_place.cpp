#include "runtime/source_place.h"

#include <charconv>
#include <fstream>
#include <iterator>

#include "runtime/code.h"
#include "runtime/process.h"
#include "runtime/rtti.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

// The last source position recorded at or before a code offset, or -1.
long PositionAt(const TCompiledInfo& code, uint32_t codeOffset) {
  long position = -1;
  int32_t best = -1;
  for (const TPositionMark& m : code.symbols.positions) {
    if (m.offset < best || m.offset < 0 || static_cast<uint32_t>(m.offset) > codeOffset) continue;
    long value = 0;
    const char* end = m.position.data() + m.position.size();
    if (std::from_chars(m.position.data(), end, value).ptr != end) continue;
    best = m.offset;
    position = value;
  }
  return position;
}

// The line of a position in the file as the compiler read it, every line end made CR LF (an
// edit since the compile moves it); 0 when the file is gone or shorter.
int LineOfPosition(const std::string& path, long position) {
  std::ifstream in(ToHostPath(path), std::ios::binary);
  if (!in) return 0;
  int line = 1;
  long at = 0;
  std::istreambuf_iterator<char> it(in), end;
  while (it != end && at <= position) {
    char c = *it++;
    if (c != '\r' && c != '\n') {
      ++at;
      continue;
    }
    if (c == '\r' && it != end && *it == '\n') ++it;
    at += 2;
    if (at <= position) ++line;
  }
  return at > position ? line : 0;
}

// Only classes read from a source file: code built any other way has nothing to look up.
std::string PlaceIn(const TRTTI* cls, const std::string& method, const TCompiledInfo* code,
                    HeapAddr pc) {
  if (!cls || cls->src.empty()) return "";
  std::string place = " (" + cls->name + (method.empty() ? "" : "." + method);
  if (code && pc >= code->code && pc - code->code < code->size) {
    long position = PositionAt(*code, pc - code->code);
    int line = position >= 0 ? LineOfPosition(cls->src, position) : 0;
    // The mark is the last statement that records one (a return does not), so "near".
    if (line > 0) place += ", near line " + std::to_string(line);
  }
  return place + ")";
}

} // namespace

std::string SourcePlace(const TProcess* p) {
  if (p->fp == kNoAddr || p->stackBase == kNoAddr) return "";
  const TFrame* frame = HeapPtr<TFrame>(p->fp);
  if (TFunction* fn = FunctionById(frame->function)) {
    const TCompiledInfo* code = fn->IsNative() ? nullptr : static_cast<TNormalFunction*>(fn)->code;
    return PlaceIn(fn->owner, fn->GetName(), code, p->pc);
  }
  if (frame->function != 0 || p->thisSlot == kNoAddr) return "";
  const TValue& self = *HeapPtr<TValue>(p->thisSlot);
  const TRTTI* cls = self.kind == vtObject ? ClassById(ObjectPtr(self)->cls) : nullptr;
  return PlaceIn(cls, "", cls ? cls->body : nullptr, p->pc);
}

} // namespace brova
