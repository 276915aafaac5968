#include "natives/binding_table.h"

#include "natives/array_natives.h"
#include "natives/char_natives.h"
#include "natives/file_natives.h"
#include "natives/hashtable_natives.h"
#include "natives/object_natives.h"
#include "natives/process_natives.h"
#include "natives/project_natives.h"
#include "natives/resource_natives.h"
#include "natives/string_natives.h"
#include "natives/system_natives.h"
#include "screen/keyboard.h"

namespace brova::natives {

const TBindingEntry kStartupBindings[] = {
    {1, "classes.lang.Array", kArrayNatives, &kArrayNativeCount},
    {2, "classes.lang.Object", kObjectNatives, &kObjectNativeCount},
    {2, "classes.lang.Object", kKeyboardNatives, &kKeyboardNativeCount},
    {2, "classes.lang.Object", kFileObjectNatives, &kFileObjectNativeCount},
    {3, "classes.lang.String", kStringNatives, &kStringNativeCount},
    {4, "classes.lang.Process", kProcessNatives, &kProcessNativeCount},
    {6, "classes.game.Char", kCharNatives, &kCharNativeCount},
    {7, "Page", kPageNatives, &kPageNativeCount},
    {8, "ProjectManager", kProjectManagerNatives, &kProjectManagerNativeCount},
    {10, "classes.lang.CMML", kCMMLNatives, &kCMMLNativeCount},
    {11, "classes.customres.CustomResource", kCustomResourceNatives, &kCustomResourceNativeCount},
    {12, "BuiltInResource", kBuiltInResourceNatives, &kBuiltInResourceNativeCount},
    {13, "BinWriter", kBinWriterNatives, &kBinWriterNativeCount},
    {14, "BinReader", kBinReaderNatives, &kBinReaderNativeCount},
    {15, "ResourceReader", kResourceReaderNatives, &kResourceReaderNativeCount},
    {15, "ResourceWriter", kResourceWriterNatives, &kResourceWriterNativeCount},
    {19, "AbstractHashTable", kAbstractHashTableNatives, &kAbstractHashTableNativeCount},
    {19, "LightHashTable", kLightHashTableNatives, &kLightHashTableNativeCount},
    {19, "HashTable", kHashTableNatives, &kHashTableNativeCount},
    {21, "ProjectManager", kProjectManagerParamNatives, &kProjectManagerParamNativeCount},
    {25, "System", kSystemNatives, &kSystemNativeCount},
    {26, "FileReader", kFileReaderNatives, &kFileReaderNativeCount},
    {26, "FileWriter", kFileWriterNatives, &kFileWriterNativeCount},
    {28, "classes.lang.Boot", kBootNatives, &kBootNativeCount},
};
const size_t kStartupBindingCount = sizeof kStartupBindings / sizeof kStartupBindings[0];

void BindStartupNatives(const std::function<TRTTI*(const char*)>& findClass) {
  for (const TBindingEntry& e : kStartupBindings) {
    TRTTI* cls = findClass(e.classPath);
    if (!cls) continue;
    for (size_t i = 0; i < *e.count; ++i)
      BindNative(cls, e.natives[i].name, e.natives[i].body, e.natives[i].leaf);
  }
}

} // namespace brova::natives
