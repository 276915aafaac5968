#include "natives/project_natives.h"

#include <iterator>

#include "resources/page_loader.h"
#include "resources/project_manager.h"

namespace brova::natives {

void ProjectManagerOnSet(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  ProjectManager().setParam(ValueToText(Arg(result, 1)), ValueToText(Arg(result, 2)));
}

void ProjectManagerOnGet(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetStringResult(*result, ProjectManager().getParam(ValueToText(Arg(result, 1))));
}

void ProjectManagerCurrentPageName(TValue* result, int32_t, int32_t) {
  SetStringResult(*result, ProjectManager().currentPageName);
}

void PageOpen(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  ProjectManager().requestPageOpen(ValueToText(Arg(result, 1)), PageState().designMode);
}

void BootGenerate(TValue*, int32_t, int32_t) { generate(); }

const TNativeBinding kPageNatives[] = {{"_n_open", PageOpen}};
const size_t kPageNativeCount = std::size(kPageNatives);

const TNativeBinding kProjectManagerNatives[] = {
    {"_n_currentPageName", ProjectManagerCurrentPageName}};
const size_t kProjectManagerNativeCount = std::size(kProjectManagerNatives);

const TNativeBinding kProjectManagerParamNatives[] = {{"_n_onSet", ProjectManagerOnSet},
                                                      {"_n_onGet", ProjectManagerOnGet}};
const size_t kProjectManagerParamNativeCount = std::size(kProjectManagerParamNatives);

const TNativeBinding kBootNatives[] = {{"generate", BootGenerate}};
const size_t kBootNativeCount = std::size(kBootNatives);

} // namespace brova::natives
