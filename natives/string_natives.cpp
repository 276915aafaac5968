#include "natives/string_natives.h"

#include <iterator>

#include "natives/script_services.h"
#include "tools/bregexp.h"

namespace brova::natives {
namespace {

bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// The substring rule shared by both substring natives, in bytes: a negative start is moved
// to 0 without changing the count.
std::string ClippedSubstring(const std::string& text, int64_t start, int64_t end) {
  int64_t len = static_cast<int64_t>(text.size());
  int64_t i = start, n = end - start;
  if (i < 0) i = 0;
  if (i >= len || n < 0) return std::string();
  if (n > len - i) n = len - i;
  return text.substr(static_cast<size_t>(i), static_cast<size_t>(n));
}

// A byte from 0x80 to 0x9f or from 0xe0 to 0xff starts a two-byte character.
bool StartsDoubleByte(unsigned char c) { return (c >= 0x80 && c <= 0x9f) || c >= 0xe0; }

// The byte offset of character position `chars`; positions before the start stay as they are,
// positions past the end stop at it.
int64_t CharToByteOffset(const std::string& text, int64_t chars) {
  if (chars <= 0) return chars;
  size_t pos = 0;
  for (int64_t k = 0; k < chars && pos < text.size(); ++k)
    pos += StartsDoubleByte(static_cast<unsigned char>(text[pos])) ? 2 : 1;
  return static_cast<int64_t>(std::min(pos, text.size()));
}

// The receiver's text, read in place when it is a String object: charAt and length run in
// loops over long texts.
const std::string& TextOf(const TValue& v, std::string& scratch) {
  if (IsStringObject(v))
    if (const std::string* text = StringTextOf(ObjectPtr(v))) return *text;
  scratch = ValueToText(v);
  return scratch;
}

// The values made so far keep their references until a list takes them over.
struct HeldValues {
  std::vector<TValue> items;
  ~HeldValues() {
    for (TValue& v : items) {
      try {
        Release(v);
      } catch (const EScriptError&) {
        // A count already broken elsewhere must not stop releasing the rest.
      }
    }
  }
};

} // namespace

void StringInit(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TfObject* self = ObjectOf(*result);
  if (!self) return;
  TValue* body = FieldSlot(self, kSymBody);
  if (!body) return;
  std::string text(1, static_cast<char>(static_cast<uint8_t>(ValueToInt(Arg(result, 1)))));
  SetNative(*body, (new TfString(std::move(text)))->Handle());
}

void StringFreeBody(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  delete NativeOfKind<TfString>(Arg(result, 1));
}

void StringStrcat(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetStringResult(*result, JoinTexts(*result, Arg(result, 1)));
}

void StringSubstring(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::string scratch;
  const std::string& text = TextOf(*result, scratch);
  int64_t start = ValueToInt(Arg(result, 1));
  int64_t end = argc >= 2 ? ValueToInt(Arg(result, 2)) : static_cast<int64_t>(text.size());
  SetStringResult(*result, ClippedSubstring(text, start, end));
}

void StringWSubstring(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::string scratch;
  const std::string& text = TextOf(*result, scratch);
  int64_t start = CharToByteOffset(text, ValueToInt(Arg(result, 1)));
  int64_t end = argc >= 2 ? CharToByteOffset(text, ValueToInt(Arg(result, 2)))
                          : static_cast<int64_t>(text.size());
  SetStringResult(*result, ClippedSubstring(text, start, end));
}

void StringLength(TValue* result, int32_t, int32_t) {
  std::string scratch;
  SetInt(*result, static_cast<int32_t>(TextOf(*result, scratch).size()));
}

void StringWLength(TValue* result, int32_t, int32_t) {
  std::string scratch;
  const std::string& text = TextOf(*result, scratch);
  int32_t count = 0;
  for (size_t i = 0; i < text.size(); ++count)
    i += static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
  SetInt(*result, count);
}

void StringCharAt(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::string scratch;
  const std::string& text = TextOf(*result, scratch);
  int32_t pos = ValueToInt(Arg(result, 1));
  if (pos < 0 || static_cast<size_t>(pos) >= text.size()) return;
  SetInt(*result, static_cast<unsigned char>(text[static_cast<size_t>(pos)]));
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   int32_t limit) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) separator = ",";
  std::string command = "/";
  for (char c : separator) {
    if (!IsWordByte(static_cast<unsigned char>(c))) command += '\\';
    command += c;
  }
  command += '/';
  TBRegExp& re = GeneralRegExp();
  if (!re.Split(command, text, limit)) return pieces;
  int n = re.Count();
  pieces.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) pieces.push_back(re.Item(i));
  return pieces;
}

void StringSplit(TValue* result, int32_t argc, int32_t) {
  TValue* listGlobal = ResolveGlobal("$_1");
  TValue* arrayGlobal = ResolveGlobal("$_2");
  if (!listGlobal || !arrayGlobal || !CanMakeLists()) return;
  std::string separator = ",";
  if (argc >= 1 && Arg(result, 1).kind != vtNull) separator = ValueToText(Arg(result, 1));
  int32_t limit = argc >= 2 ? ValueToInt(Arg(result, 2)) : 0;

  HeldValues held;
  for (std::string& piece : SplitText(ValueToText(*result), separator, limit)) {
    held.items.push_back(ObjectValue(MakeString(std::move(piece))));
    AddRef(held.items.back());
  }
  NativeHandle list = MakeList(std::move(held.items));
  held.items.clear();
  SetNative(*listGlobal, list);
  EvaluateSnippet("$_2=new Array();$_2._setBody($_1);");
  AssignValue(*result, *arrayGlobal);
}

const TNativeBinding kStringNatives[] = {
    {"_free_body", StringFreeBody},     {"native_init", StringInit},
    {"native_strcat", StringStrcat},    {"native_substring", StringSubstring},
    {"_n_wsubstring", StringWSubstring}, {"native_length", StringLength},
    {"_n_wlength", StringWLength},      {"native_charAt", StringCharAt},
    {"_n_split", StringSplit},
};
const size_t kStringNativeCount = std::size(kStringNatives);

} // namespace brova::natives
