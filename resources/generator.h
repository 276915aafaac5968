// An object generator (tag `generator`): the class, the global that holds the object, and
// the literals of its constructor arguments (`const_*`) and fields (`inst_*`).
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "resources/resource.h"

namespace brova {

class TRTTI;

class TGenerator : public TResource {
public:
  enum State : int { kNewOrDone = 0, kCreated = 1, kClassMissing = 2, kFailed = 3 };

  // Clears the object's `_generator` field when it still points here, so the object never
  // refers to a freed generator.
  ~TGenerator() override;
  const char* NativeClassName() const override { return "TGenerator"; }

  int state = kNewOrDone;
  std::string className;
  std::vector<std::string> constArgs;  // "argument=literal", in attribute order
  std::vector<std::string> instFields; // "field=literal", in attribute order

  void readFrom(const TSGML& element, const std::string& baseDir) override;
  // Two passes make the object: the first constructs it (state 1), the second sets its
  // fields and calls its generator callbacks (state 0). Missing classes count failed.
  void initPass(TInitContext& ctx) override;
  // Lets the object refresh its generator ("onSaveToGen"), then writes one line without
  // indentation.
  void save(std::vector<std::string>& lines, const std::string& indent) override;

  // The class named by `className`, or null.
  TRTTI* generatedClass() const;
  // The `instFields` lines whose field the class has, in list order.
  std::vector<std::string> knownFieldLines(const TRTTI& cls) const;

private:
  void construct();
  void configure();
};

// The generator behind a vtNative value, or null.
TGenerator* GeneratorOf(const TValue& v);

// The field's line is removed (field names compared ignoring case, as script names are) and
// "field=literal" appended unless the literal is empty. `_n_setGenAttr` passes the value
// as a literal (ValueToLiteral); `_changeAttr` passes its text unchanged.
void SetGeneratorAttr(TGenerator* gen, std::string_view field, const std::string& literal);

// `_changeAttr(generator, field, text)`: SetGeneratorAttr with the text of p3; raises
// "invalid generator at chattr" when p1 is no generator.
void ChangeGeneratorAttr(const TValue& generator, const TValue& field, const TValue& text);

} // namespace brova
