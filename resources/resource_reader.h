// Resources made from markup: the tag dispatch, and reading resource text and files.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "resources/resource.h"

namespace brova {

// The resource for one element, relative paths resolved against `baseDir`. A list makes
// its children in order; an unknown tag shows "T: Invalid Tag Name" and gives null.
std::unique_ptr<TResource> createResource(const TSGML& element, const std::string& baseDir);

// The first element of `text` as a resource, against the resource folder.
std::unique_ptr<TResource> parseResource(std::string_view text);
// The same against `baseDir`. A text with no element says so and gives an empty list.
std::unique_ptr<TResource> loadResourceText(std::string_view text, const std::string& baseDir);

// Reads a resource file (resolved against the resource folder, "\" read as "/", letter case
// looked up when the name does not exist as written); relative paths inside resolve against
// the file's folder and the resource's `src` is the file. A file that is already being read
// further up (a link cycle) is reported and gives null. A missing file shows its message and
// throws EMarkupFileError.
std::unique_ptr<TResource> loadResourceFile(const std::string& path);

} // namespace brova
