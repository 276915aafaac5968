// Path functions over this host's paths: "/" separates, an absolute path begins with "/".
// Resource files written on Windows hold "\" separators and names in other letter cases, so
// every function reads "\" as "/" and compares names ignoring ASCII letter case (the second
// byte of a double-byte character is compared exactly). Results use "/" only. "." and ".."
// components are resolved by text before paths are compared, so "/a/b/../c" is not inside
// "/a/b". An empty path gives an empty result.
#pragma once
#include <string>
#include <string_view>

namespace brova {

// The path with every "\" turned into "/".
std::string ToHostPath(std::string_view path);

// The file-name part without its last extension: "/a/b.tar.gz" gives "b.tar".
std::string BaseNameNoExt(std::string_view path);

bool IsAbsolutePath(std::string_view path);

// The folder holding the last component: "/a/b" gives "/a", "/a" gives "/", "/" and a
// single relative name give "".
std::string ParentFolder(std::string_view path);

// `rel` when it is absolute; otherwise `base` followed by the components of `rel`, where
// "." adds nothing and ".." goes up. An empty base stands for the current folder.
std::string JoinPath(std::string_view rel, std::string_view base);

// True when `path` is `folder` or lies below it.
bool IsInsideFolder(std::string_view path, std::string_view folder);

// The nearest folder holding both; "" when they share none (two unrelated relative paths).
std::string CommonFolder(std::string_view a, std::string_view b);

// `path` relative to `base` ("../" for each step up), or `path` itself when it is not
// absolute or has nothing in common with `base`.
std::string RelativePath(std::string_view path, std::string_view base);

bool SamePath(std::string_view a, std::string_view b);

// The real path of a file named with other letter cases: when `path` does not exist as
// written, each component is looked up ignoring case in its folder. Returns `path`
// unchanged when some component has no match.
std::string ResolveExistingPath(const std::string& path);

} // namespace brova
