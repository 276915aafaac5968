// The syntax tree of the script language: one node class per grammar rule. Code generation
// overrides Generate in each class and reads the items by index.
#pragma once
#include "compiler/result_list.h"

namespace brova {

class TContext; // the code generation context of one class compilation

class TResList : public TResultList {
public:
  // Appends the code of this node's construct; the result is the argument count for an
  // argument list and of no use otherwise.
  virtual int Generate(TContext& context);

  // Every node of the language's trees is a TResList.
  TResList* ListAt(int i) const { return static_cast<TResList*>(TResultList::ListAt(i)); }

  TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const override;
};

// Gives each node class the construction the parser uses.
template <class Self> class TNodeOf : public TResList {
public:
  TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const override {
    return Place<Self>(arena, items);
  }
};

class G_Program : public TNodeOf<G_Program> {};
class G_Extends : public TNodeOf<G_Extends> {};
class G_Sentence : public TNodeOf<G_Sentence> {};
class G_ExprS : public TNodeOf<G_ExprS> {};
class G_Expr : public TNodeOf<G_Expr> {};
class G_RVal : public TNodeOf<G_RVal> {};
class G_OrEx : public TNodeOf<G_OrEx> {};
class G_AndEx : public TNodeOf<G_AndEx> {};
class G_CompEx : public TNodeOf<G_CompEx> {};
class G_IsEx : public TNodeOf<G_IsEx> {};
class G_ASEx : public TNodeOf<G_ASEx> {};
class G_IncEx : public TNodeOf<G_IncEx> {};
class G_MDEx : public TNodeOf<G_MDEx> {};
class G_Una : public TNodeOf<G_Una> {};
class G_Par : public TNodeOf<G_Par> {};
class G_Const : public TNodeOf<G_Const> {};
class G_This : public TNodeOf<G_This> {};
class G_NewObj : public TNodeOf<G_NewObj> {};
class G_ResourceVal : public TNodeOf<G_ResourceVal> {};
class G_LVal : public TNodeOf<G_LVal> {};
class G_LValE : public TNodeOf<G_LValE> {};
class G_ArgList : public TNodeOf<G_ArgList> {};
class G_Block : public TNodeOf<G_Block> {};
class G_While : public TNodeOf<G_While> {};
class G_For : public TNodeOf<G_For> {};
class G_Forin : public TNodeOf<G_Forin> {};
class G_If : public TNodeOf<G_If> {};
class G_Break : public TNodeOf<G_Break> {};
class G_Return : public TNodeOf<G_Return> {};
class G_FuncDecl : public TNodeOf<G_FuncDecl> {};
class G_NativeDecl : public TNodeOf<G_NativeDecl> {};
class G_VArgList : public TNodeOf<G_VArgList> {};
class G_VarBlock : public TNodeOf<G_VarBlock> {};
class G_VarDecl : public TNodeOf<G_VarDecl> {};
// Unnamed groups and the root: a container that its parent reads.
class G_Err : public TNodeOf<G_Err> {};

} // namespace brova
