// Code generation: every node appends the instructions of its construct and recurses into
// its items by index. The recursion follows the tree, whose depth the parser bounds by
// kMaxSyntaxDepth, so no source can exhaust the host stack here.
#include "compiler/syntax_tree.h"

#include <cfloat>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/code_context.h"
#include "compiler/lex_list.h"
#include "compiler/method_table.h"
#include "compiler/native_placeholder.h"
#include "compiler/string_literal.h"
#include "platform/message_sink.h"
#include "resources/global_value.h"
#include "resources/resource.h"
#include "runtime/code.h"
#include "runtime/rtti.h"
#include "runtime/text_case.h"
#include "runtime/translate.h"

namespace brova {

namespace {

std::string_view TokenText(const TResList& node, int i) { return node.TokenAt(i)->Text(); }

bool IsName(std::string_view name, std::string_view keyword) {
  return SameTextIgnoringCase(name, keyword);
}

// A position mark: where the statement being compiled begins in the source.
void MarkPosition(TContext& c) { c.Writer->RecordSymbol(Op_Point, std::to_string(c.Position)); }

void EmitConstant(TContext& c, const TValue& value) {
  c.Writer->RecordSymbol(Op_Push, "");
  c.Writer->EmitPush(value);
}

void SetPosition(TContext& c, const TResList& node, int tokenIndex) {
  c.Position = c.OffsetOf(node.TokenAt(tokenIndex)->start);
}

void Lookup(TContext& c, const std::string& name) {
  c.ResolvedName = name;
  c.Resolved = c.ResourceRoot ? c.ResourceRoot->resolve(name) : nullptr;
}

// The names of a parameter or variable list: a name, then pairs of a comma and a name.
void AppendNames(const TResList& list, std::vector<std::string>& names) {
  if (list.Count() == 0) return;
  names.emplace_back(TokenText(list, 0));
  const TResList* rest = list.ListAt(1);
  for (int i = 1; i < rest->Count(); i += 2) names.emplace_back(TokenText(*rest, i));
}

int IndexOfName(const std::vector<std::string>& names, std::string_view name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameTextIgnoringCase(names[i], name)) return static_cast<int>(i);
  return -1;
}

void GenerateItems(TContext& c, const TResList& group) {
  for (int i = 0; i < group.Count(); ++i)
    if (!group.IsToken(i)) group.ListAt(i)->Generate(c);
}

// A first operand and pairs of an operator token and an operand, each operator emitted
// after its right operand.
void GenerateBinaryChain(TContext& c, const TResList& node) {
  static constexpr std::pair<std::string_view, TOpcode> kOperators[] = {
      {"!=", Op_NEQ}, {"==", Op_EQ}, {">=", Op_GTE}, {"<=", Op_LTE}, {">", Op_GT},  {"<", Op_LT},
      {"+", Op_Add},  {"-", Op_Sub}, {"*", Op_Mul},  {"/", Op_Div},  {"%", Op_Mod},
  };
  node.ListAt(0)->Generate(c);
  const TResList* pairs = node.ListAt(1);
  for (int i = 0; i + 1 < pairs->Count(); i += 2) {
    pairs->ListAt(i + 1)->Generate(c);
    std::string_view op = TokenText(*pairs, i);
    for (const auto& [text, code] : kOperators)
      if (text == op) c.Writer->Emit(code);
  }
}

// || and &&: every further operand is reached only when the jump before it falls through,
// and all the jumps land just past the last operand.
void GenerateShortCircuit(TContext& c, const TResList& node, TOpcode jump) {
  node.ListAt(0)->Generate(c);
  const TResList* pairs = node.ListAt(1);
  std::vector<int32_t> jumps;
  for (int i = 0; i + 1 < pairs->Count(); i += 2) {
    jumps.push_back(c.Writer->EmitJump(jump));
    pairs->ListAt(i + 1)->Generate(c);
  }
  for (int32_t at : jumps) c.Writer->PatchJump(at, c.Writer->Pos());
}

// Gives the enclosing loop's break list back when a loop's code is done, also when an
// error leaves it early.
class TLoopScope {
public:
  explicit TLoopScope(TContext& c) : c_(c), saved_(c.BreakList) { c.BreakList = &breaks_; }
  ~TLoopScope() { c_.BreakList = saved_; }
  TLoopScope(const TLoopScope&) = delete;
  TLoopScope& operator=(const TLoopScope&) = delete;

  void PatchBreaks(int32_t end) {
    for (int32_t at : breaks_) c_.Writer->PatchJump(at, end);
  }

private:
  TContext& c_;
  std::vector<int32_t>* saved_;
  std::vector<int32_t> breaks_;
};

// Generates one node with WantAddress set, as an assignment target needs it.
void GenerateAddress(TContext& c, TResList& lval) {
  bool want = c.WantAddress;
  c.WantAddress = true;
  lval.Generate(c);
  c.WantAddress = want;
}

// The writer of one code block for a scope; the previous one comes back afterwards.
class TWriterScope {
public:
  TWriterScope(TContext& c, TRTTI* owner) : c_(c), saved_(c.Writer), writer_(owner) {
    c.Writer = &writer_;
  }
  ~TWriterScope() { c_.Writer = saved_; }
  TWriterScope(const TWriterScope&) = delete;
  TWriterScope& operator=(const TWriterScope&) = delete;

  // Finishes the block, fused; an unknown opcode raises before any block exists.
  TCompiledInfo* Finish() { return writer_.FinishFused(); }

private:
  TContext& c_;
  TProgWriter* saved_;
  TProgWriter writer_;
};

// A field of the compiled class, declared by its first use.
void EmitOwnField(TContext& c, std::string_view name, bool pushThis) {
  int32_t index = FieldIndexAdding(c.CurrentClass, name);
  if (index < 0)
    RaiseCmpError(c, Translate("Variable") + std::string(name) + Translate(" is undefined."));
  if (pushThis) c.Writer->Emit(Op_PushThis);
  c.Writer->RecordSymbol(Op_SMemberValPtr, name);
  c.Writer->Emit(Op_SMemberValPtr, {static_cast<uint32_t>(index)});
}

// An element of a member chain without an argument list.
void GenerateChainName(TContext& c, const std::string& n) {
  TProgWriter& w = *c.Writer;
  switch (c.ChainState) {
  case kChainStart: {
    if (IsName(n, "super")) {
      c.ChainState = kChainSuper;
      break;
    }
    if (c.CurrentFunction) {
      int k = IndexOfName(c.CurrentFunction->localNames, n);
      if (k >= 0) {
        w.Emit(Op_LocalValPtr, {static_cast<uint32_t>(k)});
        c.ChainState = kChainValue;
        break;
      }
      k = IndexOfName(c.CurrentFunction->paramNames, n);
      if (k >= 0) {
        w.Emit(Op_ArgValPtr, {static_cast<uint32_t>(k)});
        c.ChainState = kChainValue;
        break;
      }
    }
    TResource* r = c.ResourceRoot ? c.ResourceRoot->resolve(n) : nullptr;
    if (dynamic_cast<TGlobalValue*>(r)) {
      c.Resolved = r;
      c.ResolvedName = n;
      c.ChainState = kChainResource;
      break;
    }
    if (IsName(n, "this")) {
      w.Emit(Op_PushThis);
      c.ChainState = kChainThis;
      break;
    }
    EmitOwnField(c, n, true);
    c.ChainState = kChainValue;
    break;
  }
  case kChainThis:
    EmitOwnField(c, n, false);
    c.ChainState = kChainValue;
    break;
  case kChainValue:
    if (!IsName(n, "this")) {
      w.RecordSymbol(Op_DMemberValPtr, n);
      w.Emit(Op_DMemberValPtr, {Intern(n), 0});
    }
    break;
  case kChainResource: {
    TResource* child = c.Resolved ? c.Resolved->findChild(n) : nullptr;
    if (!child) RaiseCmpError(c, ClassText(c.CurrentClass) + ":" + n + Translate(" is undefined."));
    c.Resolved = child;
    break;
  }
  default:
    RaiseCmpError(c, "super." + n +
                         Translate("\": \"\"super\"\" must be followed by Method invocation.\""));
  }
  if (c.ChainState == kChainResource) {
    if (TValue* slot = c.Resolved->valuePtr()) {
      w.RecordSymbol(Op_Push, c.Resolved->name);
      w.EmitPush(RefValue(HeapAddrOf(slot)));
      c.ChainState = kChainValue;
    }
  }
  if (!c.WantAddress && c.ChainState == kChainValue) w.Emit(Op_Deref);
}

// Arguments, the position mark and a call instruction with its symbol.
void EmitCall(TContext& c, TResList& args, TOpcode op, const std::string& symbol, uint32_t target) {
  int k = args.Generate(c);
  MarkPosition(c);
  c.Writer->RecordSymbol(op, symbol);
  if (op == Op_DCall) c.Writer->Emit(op, {static_cast<uint32_t>(k), target, 0});
  else c.Writer->Emit(op, {static_cast<uint32_t>(k), target});
}

// An element of a member chain with an argument list.
void GenerateChainCall(TContext& c, const std::string& n, TResList& args) {
  if (c.WantAddress)
    RaiseCmpError(c, Translate("Left side of assertion cannot be a method invocation."));
  TRTTI* cls = c.CurrentClass;
  uint8_t state = c.ChainState;
  switch (state) {
  case kChainValue: EmitCall(c, args, Op_DCall, n, Intern(n)); break;
  case kChainStart:
  case kChainThis: {
    bool pushThis = state == kChainStart; // after `this.` the receiver is on the stack
    if (IsName(n, "super")) {
      TFunction* f = cls->superClass ? ConstructorOf(cls->superClass) : nullptr;
      if (!f)
        RaiseCmpError(c, Translate("Method super.") + "constructor" + Translate(" is undefined."));
      if (pushThis) c.Writer->Emit(Op_PushThis);
      EmitCall(c, args, Op_SuperCall, "constructor", f->id);
      break;
    }
    TFunction* f = MethodByName(cls, n);
    if (!f) RaiseCmpError(c, Translate("Method") + n + Translate(" is undefined."));
    if (pushThis) c.Writer->Emit(Op_PushThis);
    if (f->IsNative()) EmitCall(c, args, Op_NativeCall, n, f->id);
    else EmitCall(c, args, Op_SCall, n, static_cast<uint32_t>(IndexOfMethod(cls, f)));
    break;
  }
  case kChainSuper: {
    TFunction* f = cls->superClass ? MethodByName(cls->superClass, n) : nullptr;
    if (!f) RaiseCmpError(c, Translate("Method super.") + n + Translate(" is undefined."));
    if (f->IsNative())
      RaiseCmpError(c, Translate("Method super.") + n +
                           Translate(" is native method. Cannot invoke."));
    c.Writer->Emit(Op_PushThis);
    EmitCall(c, args, Op_SuperCall, n, f->id);
    break;
  }
  default: RaiseCmpError(c, Translate("Resouce Ref Error"));
  }
  c.ChainState = kChainValue;
}

// An integer or float literal; one that does not fit is a compile error at the literal.
TValue NumberValue(TContext& c, const TResList& node, std::string_view text) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (text.find('.') == std::string_view::npos) {
    int32_t i = 0;
    auto [end, ec] = std::from_chars(first, last, i);
    if (ec == std::errc() && end == last) return IntValue(i);
    SetPosition(c, node, 0);
    RaiseCmpError(c, "'" + std::string(text) + "'" + Translate(" is not a valid integer value"));
  }
  double d = 0;
  auto [end, ec] = std::from_chars(first, last, d);
  if (ec == std::errc() && end == last && d <= FLT_MAX) return FloatValue(static_cast<float>(d));
  // Out of range below: digits that are all zeros before the point mean a value under 1.
  if (ec == std::errc::result_out_of_range && text.find_first_not_of('0') == text.find('.'))
    return FloatValue(0.0f);
  SetPosition(c, node, 0);
  RaiseCmpError(c,
                "'" + std::string(text) + "'" + Translate(" is not a valid floating point value"));
}

} // namespace

int TResList::Generate(TContext&) { return 0; }

TResultList* TResList::MakeNode(TNodeArena& arena, std::span<const TResItem> items) const {
  return Place<TResList>(arena, items);
}

// ---- the class

int G_Program::Generate(TContext& c) {
  TRTTI* cls = c.CurrentClass;
  c.CurrentFunction = nullptr;
  c.Pass = 1;
  cls->superClass = nullptr;
  c.Resolved = nullptr;
  ListAt(0)->Generate(c);
  if (auto* super = dynamic_cast<TRTTI*>(c.Resolved)) {
    cls->superClass = super;
    // Compiled again in a later pass of the initialisation, once the superclass is.
    if (!super->compiled) return 0;
    InheritMethods(cls);
  }
  TResList* items = ListAt(1);
  auto isDeclaration = [](TResList* node) {
    return dynamic_cast<G_FuncDecl*>(node) || dynamic_cast<G_NativeDecl*>(node);
  };
  for (int i = 0; i < items->Count(); ++i)
    if (isDeclaration(items->ListAt(i))) items->ListAt(i)->Generate(c);
  c.Pass = 2;
  InheritFields(cls);
  for (int i = 0; i < items->Count(); ++i)
    if (isDeclaration(items->ListAt(i))) items->ListAt(i)->Generate(c);

  TWriterScope writer(c, cls);
  c.CurrentFunction = nullptr;
  for (int i = 0; i < items->Count(); ++i)
    if (!isDeclaration(items->ListAt(i))) items->ListAt(i)->Generate(c);
  EmitConstant(c, FloatValue(0.0f));
  c.Writer->Emit(Op_Halt);
  delete cls->body;
  cls->body = writer.Finish();
  cls->compiled = true;
  return 0;
}

// Leaves the superclass in Resolved; nothing when there is no extends clause and no default.
int G_Extends::Generate(TContext& c) {
  if (Count() > 0) {
    SetPosition(c, *this, 0);
    ListAt(1)->Generate(c);
  } else if (!c.DefaultSuperclass.empty()) {
    Lookup(c, c.DefaultSuperclass);
  } else {
    c.Resolved = nullptr;
    return 0;
  }
  if (!dynamic_cast<TRTTI*>(c.Resolved))
    RaiseCmpError(c, c.ResolvedName + Translate(" is undefined."));
  return 0;
}

// ---- declarations

int G_FuncDecl::Generate(TContext& c) {
  TRTTI* cls = c.CurrentClass;
  std::string_view keyword = TokenText(*this, 0);
  std::string name(TokenText(*this, 1));
  FunctionKind kind = keyword == "constructor"  ? FunctionKind::Constructor
                      : keyword == "destructor" ? FunctionKind::Destructor
                                                : FunctionKind::Normal;
  if (c.Pass == 1) {
    TNormalFunction* fn;
    if (kind == FunctionKind::Constructor) fn = new TConstructor(cls, name);
    else if (kind == FunctionKind::Destructor) fn = new TDestructor(cls, name);
    else fn = new TNormalFunction(cls, name);
    c.CurrentFunction = fn;
    c.Methods.Declare(cls, fn);
    return 0;
  }
  auto* fn = static_cast<TNormalFunction*>(c.Methods.Declared(cls, name, kind));
  if (!fn) RaiseCmpError(c, Translate("Method") + name + Translate(" is undefined."));
  c.CurrentFunction = fn;
  // A second declaration of the name in the same role compiles into the same function, and
  // only the last body is kept.
  fn->paramNames.clear();
  fn->localNames.clear();
  delete fn->code;
  fn->code = nullptr;
  TWriterScope writer(c, cls);
  ListAt(3)->Generate(c);
  ListAt(5)->Generate(c);
  c.Writer->Emit(Op_PushThis);
  c.Writer->Emit(Op_Ret);
  c.Writer->Emit(Op_Halt);
  fn->code = writer.Finish();
  return 0;
}

int G_NativeDecl::Generate(TContext& c) {
  if (c.Pass != 1) return 0;
  auto* fn = new TNativeFunction(c.CurrentClass, TokenText(*this, 1));
  fn->callback = NativeNotImplemented;
  AddMethod(c.CurrentClass, fn);
  return 0;
}

int G_VArgList::Generate(TContext& c) {
  AppendNames(*this, c.CurrentFunction->paramNames);
  return 0;
}

int G_VarBlock::Generate(TContext& c) {
  GenerateItems(c, *ListAt(1));
  GenerateItems(c, *ListAt(2));
  return 0;
}

int G_VarDecl::Generate(TContext& c) {
  AppendNames(*ListAt(1), c.CurrentFunction->localNames);
  return 0;
}

// ---- statements

int G_Sentence::Generate(TContext& c) { return ListAt(0)->Generate(c); }

int G_ExprS::Generate(TContext& c) {
  c.WantAddress = false;
  SetPosition(c, *this, 1);
  MarkPosition(c);
  ListAt(0)->Generate(c);
  c.Writer->Emit(Op_Pop);
  return 0;
}

int G_Block::Generate(TContext& c) {
  GenerateItems(c, *ListAt(1));
  return 0;
}

int G_While::Generate(TContext& c) {
  TLoopScope loop(c);
  TProgWriter& w = *c.Writer;
  SetPosition(c, *this, 0);
  MarkPosition(c);
  int32_t top = w.Pos();
  ListAt(2)->Generate(c);
  int32_t jz = w.EmitJump(Op_JumpZero);
  ListAt(4)->Generate(c);
  w.EmitJump(Op_Jump, top - w.Pos());
  int32_t end = w.Pos();
  w.PatchJump(jz, end);
  loop.PatchBreaks(end);
  w.ToEnd();
  return 0;
}

int G_For::Generate(TContext& c) {
  TLoopScope loop(c);
  TProgWriter& w = *c.Writer;
  SetPosition(c, *this, 0);
  MarkPosition(c);
  ListAt(2)->Generate(c);
  w.Emit(Op_Pop);
  int32_t top = w.Pos();
  ListAt(4)->Generate(c);
  int32_t jz = w.EmitJump(Op_JumpZero);
  ListAt(8)->Generate(c);
  ListAt(6)->Generate(c);
  w.Emit(Op_Pop);
  w.EmitJump(Op_Jump, top - w.Pos());
  int32_t end = w.Pos();
  w.PatchJump(jz, end);
  loop.PatchBreaks(end);
  w.ToEnd();
  return 0;
}

// A break and the normal end both leave through Op_ClearForIn.
int G_Forin::Generate(TContext& c) {
  TLoopScope loop(c);
  TProgWriter& w = *c.Writer;
  SetPosition(c, *this, 0);
  MarkPosition(c);
  GenerateAddress(c, *ListAt(2));
  ListAt(4)->Generate(c);
  w.Emit(Op_InitForIn);
  int32_t top = w.EmitJump(Op_DoForIn);
  ListAt(6)->Generate(c);
  w.EmitJump(Op_Jump, top - w.Pos());
  int32_t end = w.Pos();
  w.PatchJump(top, end);
  loop.PatchBreaks(end);
  w.ToEnd();
  w.Emit(Op_ClearForIn);
  return 0;
}

int G_If::Generate(TContext& c) {
  TProgWriter& w = *c.Writer;
  SetPosition(c, *this, 0);
  MarkPosition(c);
  ListAt(2)->Generate(c);
  int32_t jz = w.EmitJump(Op_JumpZero);
  ListAt(4)->Generate(c);
  int32_t jmp = w.EmitJump(Op_Jump);
  w.PatchJump(jz, w.Pos());
  w.ToEnd();
  TResList* otherwise = ListAt(5);
  if (otherwise->Count() > 0) otherwise->ListAt(1)->Generate(c);
  w.PatchJump(jmp, w.Pos());
  w.ToEnd();
  return 0;
}

int G_Break::Generate(TContext& c) {
  if (c.BreakList) c.BreakList->push_back(c.Writer->EmitJump(Op_Jump));
  return 0;
}

int G_Return::Generate(TContext& c) {
  TResList* value = ListAt(1);
  if (value->Count() > 0) value->ListAt(0)->Generate(c);
  else c.Writer->Emit(Op_PushThis);
  c.Writer->Emit(Op_Ret);
  return 0;
}

// ---- expressions

int G_Expr::Generate(TContext& c) {
  TResList* target = ListAt(0);
  if (target->Count() == 0) return ListAt(1)->Generate(c);
  GenerateAddress(c, *target->ListAt(0));
  ListAt(1)->Generate(c);
  std::string_view op = TokenText(*target, 1);
  c.Writer->Emit(op == "+=" ? Op_AddSubst : op == "-=" ? Op_SubSubst : Op_Subst);
  return 0;
}

int G_RVal::Generate(TContext& c) {
  GenerateShortCircuit(c, *this, Op_Jump_Or);
  return 0;
}

int G_OrEx::Generate(TContext& c) {
  GenerateShortCircuit(c, *this, Op_Jump_And);
  return 0;
}

int G_AndEx::Generate(TContext& c) {
  GenerateBinaryChain(c, *this);
  return 0;
}

int G_CompEx::Generate(TContext& c) {
  GenerateBinaryChain(c, *this);
  return 0;
}

int G_ASEx::Generate(TContext& c) {
  GenerateBinaryChain(c, *this);
  return 0;
}

int G_IsEx::Generate(TContext& c) {
  ListAt(0)->Generate(c);
  TResList* test = ListAt(1);
  if (test->Count() == 0) return 0;
  test->ListAt(1)->Generate(c);
  auto* cls = dynamic_cast<TRTTI*>(c.Resolved);
  if (!cls) RaiseCmpError(c, Translate("\" \"\"is\"\" Operator must be followed by Class.\""));
  c.Writer->RecordSymbol(Op_Is, cls->dottedPath());
  c.Writer->Emit(Op_Is, {cls->id});
  return 0;
}

int G_MDEx::Generate(TContext& c) {
  ListAt(1)->Generate(c);
  TResList* prefix = ListAt(0);
  if (prefix->Count() > 0) c.Writer->Emit(TokenText(*prefix, 0) == "-" ? Op_Neg : Op_Not);
  return 0;
}

// x++ is exactly x += 1, so its value is that of the compound assignment.
int G_IncEx::Generate(TContext& c) {
  TResList* suffix = ListAt(1);
  if (suffix->Count() == 0) return ListAt(0)->Generate(c);
  GenerateAddress(c, *ListAt(0));
  EmitConstant(c, IntValue(1));
  c.Writer->Emit(TokenText(*suffix, 0) == "++" ? Op_AddSubst : Op_SubSubst);
  return 0;
}

int G_Una::Generate(TContext& c) { return ListAt(0)->Generate(c); }

int G_Par::Generate(TContext& c) { return ListAt(1)->Generate(c); }

int G_Const::Generate(TContext& c) {
  std::string_view text = TokenText(*this, 0);
  if (text == "null") {
    EmitConstant(c, NullValue());
  } else if (!text.empty() && text[0] == '"') {
    c.Writer->EmitPushString(UnescapeStringLiteral(text.substr(1, text.size() - 2)));
  } else {
    EmitConstant(c, NumberValue(c, *this, text));
  }
  return 0;
}

int G_This::Generate(TContext& c) {
  c.Writer->Emit(Op_PushThis);
  return 0;
}

int G_NewObj::Generate(TContext& c) {
  EmitConstant(c, FloatValue(0.0f)); // the cell that receives the new object
  int n = ListAt(3)->Generate(c);
  ListAt(1)->Generate(c);
  if (!c.Resolved) RaiseCmpError(c, c.ResolvedName + Translate(" is not defined."));
  auto* cls = dynamic_cast<TRTTI*>(c.Resolved);
  if (!cls)
    RaiseCmpError(c, c.ResolvedName + "(" + c.Resolved->NativeClassName() + ")" +
                         Translate(" is not a Class."));
  c.Writer->RecordSymbol(Op_Constructor, cls->dottedPath());
  c.Writer->Emit(Op_Constructor, {static_cast<uint32_t>(n), cls->id});
  return 0;
}

int G_ResourceVal::Generate(TContext& c) {
  std::string name(TokenText(*this, 0));
  const TResList* rest = ListAt(1);
  for (int i = 0; i < rest->Count(); ++i) name += TokenText(*rest, i);
  Lookup(c, name);
  return 0;
}

// Only the last element gets the caller's WantAddress.
int G_LVal::Generate(TContext& c) {
  bool want = c.WantAddress;
  c.ChainState = kChainStart;
  TResList* rest = ListAt(1);
  c.WantAddress = rest->Count() == 0 && want;
  ListAt(0)->Generate(c);
  for (int i = 1; i < rest->Count(); i += 2) {
    c.WantAddress = i + 1 == rest->Count() && want;
    rest->ListAt(i)->Generate(c);
  }
  if (c.ChainState == kChainResource) RaiseCmpError(c, Translate("Resouce Ref Error"));
  c.WantAddress = want;
  return 0;
}

int G_LValE::Generate(TContext& c) {
  std::string name(TokenText(*this, 0));
  TResList* call = ListAt(1);
  if (call->Count() == 0) GenerateChainName(c, name);
  else GenerateChainCall(c, name, *call->ListAt(1));
  return 0;
}

int G_ArgList::Generate(TContext& c) {
  if (Count() == 0) return 0;
  ListAt(0)->Generate(c);
  int n = 1;
  const TResList* rest = ListAt(1);
  for (int i = 1; i < rest->Count(); i += 2, ++n) rest->ListAt(i)->Generate(c);
  return n;
}

int G_Err::Generate(TContext&) {
  platform::ShowMessage("Error!? Usrsub");
  return 0;
}

} // namespace brova
