// Modules: folders under kernel/modules that extend the kernel with resource lists of their
// own, compiled at boot, and native libraries that bind their bodies through the service
// table of kernel/modules/brova_module.h.
#pragma once
#include <string>
#include <vector>

#include "kernel/modules/brova_module.h"

namespace brova {

// The names of the subfolders of `folder` (never "." or ".."), sorted, so that the order
// modules load in does not depend on the file system; none for a missing folder.
std::vector<std::string> SubfolderNames(const std::string& folder);

// Attaches kernel/modules/N/N.brovares of the program folder as `modules.N` for every module
// folder N that holds one, then initialises `modules`: every module class is compiled, and
// an initialisation error is raised. Without a `modules` list in the tree nothing happens.
void loadModules(const std::string& programDir);

// Fills the service table, then walks `modules` (lists before their children, children in
// order): each library's `initModule` is called with the table, and each class's name is
// added to the module class names. A library without `initModule` is reported and skipped.
void initModules();

// The process-wide service table every module library receives.
const BrovaServices& ModuleServices();

// The names of the classes found under `modules` by the last initModules.
const std::vector<std::string>& ModuleClassNames();

} // namespace brova
