// Bodies of the natives of classes.lang.String. The receiver is the String object; text
// results are new String objects.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "natives/native_binding.h"

namespace brova::natives {

void StringInit(TValue* result, int32_t argc, int32_t reserved);
void StringFreeBody(TValue* result, int32_t argc, int32_t reserved);
void StringStrcat(TValue* result, int32_t argc, int32_t reserved);
void StringSubstring(TValue* result, int32_t argc, int32_t reserved);
void StringWSubstring(TValue* result, int32_t argc, int32_t reserved);
void StringLength(TValue* result, int32_t argc, int32_t reserved);
void StringWLength(TValue* result, int32_t argc, int32_t reserved);
void StringCharAt(TValue* result, int32_t argc, int32_t reserved);
// Needs the list, global and snippet services (script_services.h).
void StringSplit(TValue* result, int32_t argc, int32_t reserved);

// The pieces `_n_split` makes: `separator` is matched literally ("," when empty); the limit
// follows the split rules of the regular-expression facility.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   int32_t limit);

// classes.lang.String: _free_body, native_init, native_strcat, native_substring,
// _n_wsubstring, native_length, _n_wlength, native_charAt, _n_split.
extern const TNativeBinding kStringNatives[];
extern const size_t kStringNativeCount;

} // namespace brova::natives
