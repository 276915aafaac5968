// The syntax tree of the script language: one node class per grammar rule. Code generation
// overrides Generate in each class and reads the items by index.
#pragma once
#include "compiler/result_list.h"

namespace brova {

struct TContext; // the code generation context of one class compilation

class TResList : public TResultList {
public:
  // Appends the code of this node's construct; the result is the argument count for an
  // argument list and of no use otherwise. A plain list (a comment) generates nothing.
  virtual int Generate(TContext& context);

  // Every node of the language's trees is a TResList.
  TResList* ListAt(int i) const { return static_cast<TResList*>(TResultList::ListAt(i)); }

  TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const override;

  // A precedence level whose group (at kGroup) holds nothing applies no operator: its code
  // is that of its operand (at kOperand), which stands in its place in the tree.
  static constexpr int kGroup = -1, kOperand = -1;
};

// Gives each node class the construction the parser uses. An empty node is the prototype
// itself (code generation never changes a node), and a level that applies no operator is
// its operand: a leaf of an expression would otherwise sit under a dozen nodes.
template <class Self> class TNodeOf : public TResList {
public:
  TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const override {
    if (items.empty()) return const_cast<TNodeOf*>(this);
    if constexpr (Self::kGroup >= 0) {
      if (items.size() == 2 && ItemIsList(items[Self::kGroup]) &&
          ItemList(items[Self::kGroup])->Count() == 0 && ItemIsList(items[Self::kOperand]))
        return ItemList(items[Self::kOperand]);
    }
    return Place<Self>(arena, items);
  }
  const TResultList* EmptyNode() const override { return this; }
  bool PassesOperand(int operand, int group) const override {
    return Self::kGroup >= 0 && Self::kOperand == operand && Self::kGroup == group;
  }
};

class G_Program : public TNodeOf<G_Program> {
public:
  int Generate(TContext& context) override;
};
class G_Extends : public TNodeOf<G_Extends> {
public:
  int Generate(TContext& context) override;
};
class G_Sentence : public TNodeOf<G_Sentence> {
public:
  int Generate(TContext& context) override;
};
class G_ExprS : public TNodeOf<G_ExprS> {
public:
  int Generate(TContext& context) override;
};
class G_Expr : public TNodeOf<G_Expr> {
public:
  int Generate(TContext& context) override;
};
class G_RVal : public TNodeOf<G_RVal> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_OrEx : public TNodeOf<G_OrEx> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_AndEx : public TNodeOf<G_AndEx> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_CompEx : public TNodeOf<G_CompEx> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_IsEx : public TNodeOf<G_IsEx> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_ASEx : public TNodeOf<G_ASEx> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_IncEx : public TNodeOf<G_IncEx> {
public:
  static constexpr int kGroup = 1, kOperand = 0;
  int Generate(TContext& context) override;
};
class G_MDEx : public TNodeOf<G_MDEx> {
public:
  static constexpr int kGroup = 0, kOperand = 1;
  int Generate(TContext& context) override;
};
class G_Una : public TNodeOf<G_Una> {
public:
  int Generate(TContext& context) override;
};
class G_Par : public TNodeOf<G_Par> {
public:
  int Generate(TContext& context) override;
};
class G_Const : public TNodeOf<G_Const> {
public:
  int Generate(TContext& context) override;
};
class G_This : public TNodeOf<G_This> {
public:
  int Generate(TContext& context) override;
};
class G_NewObj : public TNodeOf<G_NewObj> {
public:
  int Generate(TContext& context) override;
};
class G_ResourceVal : public TNodeOf<G_ResourceVal> {
public:
  int Generate(TContext& context) override;
};
class G_LVal : public TNodeOf<G_LVal> {
public:
  int Generate(TContext& context) override;
};
class G_LValE : public TNodeOf<G_LValE> {
public:
  int Generate(TContext& context) override;
};
class G_ArgList : public TNodeOf<G_ArgList> {
public:
  int Generate(TContext& context) override;
};
class G_Block : public TNodeOf<G_Block> {
public:
  int Generate(TContext& context) override;
};
class G_While : public TNodeOf<G_While> {
public:
  int Generate(TContext& context) override;
};
class G_For : public TNodeOf<G_For> {
public:
  int Generate(TContext& context) override;
};
class G_Forin : public TNodeOf<G_Forin> {
public:
  int Generate(TContext& context) override;
};
class G_If : public TNodeOf<G_If> {
public:
  int Generate(TContext& context) override;
};
class G_Break : public TNodeOf<G_Break> {
public:
  int Generate(TContext& context) override;
};
class G_Return : public TNodeOf<G_Return> {
public:
  int Generate(TContext& context) override;
};
class G_FuncDecl : public TNodeOf<G_FuncDecl> {
public:
  int Generate(TContext& context) override;
};
class G_NativeDecl : public TNodeOf<G_NativeDecl> {
public:
  int Generate(TContext& context) override;
};
class G_VArgList : public TNodeOf<G_VArgList> {
public:
  int Generate(TContext& context) override;
};
class G_VarBlock : public TNodeOf<G_VarBlock> {
public:
  int Generate(TContext& context) override;
};
class G_VarDecl : public TNodeOf<G_VarDecl> {
public:
  int Generate(TContext& context) override;
};
// Unnamed groups and the root: a container that its parent reads.
class G_Err : public TNodeOf<G_Err> {
public:
  int Generate(TContext& context) override;
};

} // namespace brova
