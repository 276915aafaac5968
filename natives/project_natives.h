// Bodies of the natives of the project and page classes: ProjectManager's parameters and
// current page, Page's open request, and Boot's page construction.
#pragma once
#include <cstddef>
#include <cstdint>

#include "natives/native_binding.h"

namespace brova::natives {

// `_n_onSet(name, value)`: the project parameter, both converted to text.
void ProjectManagerOnSet(TValue* result, int32_t argc, int32_t reserved);
// `_n_onGet(name)`: the parameter's text as a string ("" when it does not exist).
void ProjectManagerOnGet(TValue* result, int32_t argc, int32_t reserved);
// `_n_currentPageName()`: the page entry of the open page.
void ProjectManagerCurrentPageName(TValue* result, int32_t argc, int32_t reserved);
// `_n_open(file)`: asks for the page to open after the frame, for design while designing.
void PageOpen(TValue* result, int32_t argc, int32_t reserved);
// `generate()`: builds (when missing or stale) and runs the page's construction script.
void BootGenerate(TValue* result, int32_t argc, int32_t reserved);

// Page: _n_open.
extern const TNativeBinding kPageNatives[];
extern const size_t kPageNativeCount;
// ProjectManager: _n_currentPageName.
extern const TNativeBinding kProjectManagerNatives[];
extern const size_t kProjectManagerNativeCount;
// ProjectManager: _n_onSet, _n_onGet.
extern const TNativeBinding kProjectManagerParamNatives[];
extern const size_t kProjectManagerParamNativeCount;
// classes.lang.Boot: generate.
extern const TNativeBinding kBootNatives[];
extern const size_t kBootNativeCount;

} // namespace brova::natives
