// The compile driver: turns a script class into a compiled class, from its compiled-class
// file when that is usable, otherwise from its source text, and reports syntax and compile
// errors at byte positions of the source.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace brova {

class TRTTI;

struct TCompileOptions {
  // The class (a dotted path) that a source without an extends clause extends; empty: such a
  // class gets no superclass, as the language says.
  std::string defaultSuperclass;
};

// Compiles a fresh or reset class (as ResetClass leaves it). 0 when the class was loaded or
// compiled without error (or waits for its superclass: it is then not marked compiled), 1
// after a syntax or compile error (the class's error flag is set). Errors are reported only when
// `report` is set. A class with a source path is loaded from, and afterwards written to, its
// compiled-class file when a cache folder is set; a file that cannot be written is skipped with a
// progress note.
int CompileClass(TRTTI& cls, const std::string& source, bool report,
                 const TCompileOptions& options = {});

// The per-class step of the tree's initialisation: resets an uncompiled class, reads its
// source file and compiles it with reporting on. A source file that cannot be read marks the
// class failed (its message has been shown).
void CompileClassFromSource(TRTTI& cls);
// Installs CompileClassFromSource as the class compiler of the initialisation pass.
void InstallClassCompiler();

// Shows a compile error: the message, the source path (empty for snippets) and the byte
// offset in the source text as read. The player shows the message, and for a source file
// given with its text the line of the offset, since it has no editor to put the caret there.
using CompileErrorDisplay =
    std::function<void(const std::string& message, const std::string& sourcePath, int position)>;
// An empty function restores the player's display.
void SetCompileErrorDisplay(CompileErrorDisplay display);
void ReportCompileError(const std::string& message, const std::string& sourcePath, int position,
                        std::string_view sourceText = {});

} // namespace brova
