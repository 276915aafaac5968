#include "compiler/language.h"

#include <memory>
#include <string_view>

#include "compiler/syntax_tree.h"

namespace brova {

namespace {

// The lexical rules. Keywords stand before SYMBOL so that they win at equal length; the
// rules after "*Stop" make no tokens of their own and serve only as references.
constexpr std::string_view kLexicalRules = R"rules(
Lexical
 'while
 'break
 'if
 'is
 'in
 'else
 'null
 'for
 'fork
 'function
 'constructor
 'destructor
 'extends
 'native
 'new
 'return
 'var
 '++
 '--
 '+=
 '-=
 '*=
 '/=
 '%=
 '!=
 '==
 '>=
 '<=
 '||
 '&&
 '>
 '<
 ';
 '=
 '|
 '&
 '+
 '-
 '*
 '/
 '%
 '!
 '(
 ')
 '.
 ',
 '{
 '}
 COMM
  |
   com1
    '//
    {}
     -
      $20
      $ff
   com2
    '/*
    {}
     |
      -
       $01
       $29
      -
       $2b
       $ff
      nonend
       '*
       |
        -
         $01
         $2e
        -
         $30
         $ff
    '*/
 NUM
  [}
   Digit
  []
   '.
   [}
    Digit
 STRING
  '"
  {}
   |
    kanji
     -
      $80
      $ff
     -
      $01
      $ff
    -
     $20
     $21
    -
     $23
     $5b
    -
     $5d
     $ff
    esc
     $5c
     -
      $20
      $ff
  '"
 SYMBOL
  |
   Alpha
   Kanji
   '$
  {}
   |
    Digit
    Alpha
    Kanji
 *Stop
 -Digit
  '0
  '9
 |Alpha
  '_
  -
   'a
   'z
  -
   'A
   'Z
 Kanji
  |
   -
    $80
    $9f
   -
    $e0
    $ff
  -
   $01
   $ff
@
)rules";

constexpr std::string_view kGrammarRules = R"rules(
Grammar
 Program
  Extends
  {}
   |
    FuncDecl
    NativeDecl
    Comment
    Sentence
 |Sentence
  Block
  While
  For
  If
  Return
  ExprS
  Forin
  Comment
  Break
 Comment
  'COMM
 []Extends
  'extends
  ResourceVal
  ';
 ExprS
  Expr
  ';
 Expr
  []
   LVal
   |
    '=
    '+=
    '-=
  RVal
 RVal
  OrEx
  {}
   '||
   OrEx
 OrEx
  AndEx
  {}
   '&&
   AndEx
 AndEx
  IsEx
  {}
   |
    '!=
    '==
    '>=
    '<=
    '>
    '<
   IsEx
 IsEx
  CompEx
  []
   'is
   ResourceVal
 CompEx
  ASEx
  {}
   |
    '+
    '-
   ASEx
 ASEx
  MDEx
  {}
   |
    '*
    '/
    '%
   MDEx
 MDEx
  []
   |
    '-
    '!
  Una
 |Una
  IncEx
  Const
  Par
  NewObj
 IncEx
  LVal
  []
   |
    '++
    '--
 NewObj
  'new
  ResourceVal
  '(
  ArgList
  ')
 Par
  '(
  Expr
  ')
 Const
  |
   'null
   'NUM
   'STRING
 LVal
  LValE
  {}
   '.
   LValE
 LValE
  |
   'SYMBOL
   'constructor
  []
   '(
   ArgList
   ')
 ResourceVal
  'SYMBOL
  {}
   '.
   'SYMBOL
 []ArgList
  Expr
  {}
   ',
   Expr
 Block
  '{
  {}
   Sentence
  '}
 Forin
  'for
  '(
  LVal
  'in
  Expr
  ')
  Sentence
 While
  'while
  '(
  Expr
  ')
  Sentence
 For
  'for
  '(
  Expr
  ';
  Expr
  ';
  Expr
  ')
  Sentence
 Break
  'break
  ';
 If
  'if
  '(
  Expr
  ')
  Sentence
  []
   'else
   Sentence
 Return
  'return
  []
   Expr
  ';
 FuncDecl
  |
   'function
   'constructor
   'destructor
  'SYMBOL
  '(
  VArgList
  ')
  VarBlock
 NativeDecl
  'native
  'SYMBOL
  ';
 []VArgList
  'SYMBOL
  {}
   ',
   'SYMBOL
 VarBlock
  '{
  {}
   VarDecl
  {}
   Sentence
  '}
 VarDecl
  'var
  VArgList
  ';
@
)rules";

template <class T> std::unique_ptr<TResultList> Prototype() { return std::make_unique<T>(); }

struct TNodeClass {
  std::string_view rule;
  std::unique_ptr<TResultList> (*make)();
};

constexpr TNodeClass kNodeClasses[] = {
    {"Program", Prototype<G_Program>},
    {"Extends", Prototype<G_Extends>},
    {"Sentence", Prototype<G_Sentence>},
    {"ExprS", Prototype<G_ExprS>},
    {"Expr", Prototype<G_Expr>},
    {"RVal", Prototype<G_RVal>},
    {"OrEx", Prototype<G_OrEx>},
    {"AndEx", Prototype<G_AndEx>},
    {"CompEx", Prototype<G_CompEx>},
    {"IsEx", Prototype<G_IsEx>},
    {"ASEx", Prototype<G_ASEx>},
    {"IncEx", Prototype<G_IncEx>},
    {"MDEx", Prototype<G_MDEx>},
    {"Una", Prototype<G_Una>},
    {"Par", Prototype<G_Par>},
    {"Const", Prototype<G_Const>},
    {"This", Prototype<G_This>},
    {"NewObj", Prototype<G_NewObj>},
    {"ResourceVal", Prototype<G_ResourceVal>},
    {"LVal", Prototype<G_LVal>},
    {"LValE", Prototype<G_LValE>},
    {"ArgList", Prototype<G_ArgList>},
    {"Block", Prototype<G_Block>},
    {"While", Prototype<G_While>},
    {"For", Prototype<G_For>},
    {"Forin", Prototype<G_Forin>},
    {"If", Prototype<G_If>},
    {"Break", Prototype<G_Break>},
    {"Return", Prototype<G_Return>},
    {"FuncDecl", Prototype<G_FuncDecl>},
    {"NativeDecl", Prototype<G_NativeDecl>},
    {"VArgList", Prototype<G_VArgList>},
    {"VarBlock", Prototype<G_VarBlock>},
    {"VarDecl", Prototype<G_VarDecl>},
    {"Comment", Prototype<TResList>},
};

} // namespace

const std::vector<std::string>& LexicalRuleLines() {
  static const std::vector<std::string> lines = SplitRuleLines(kLexicalRules.substr(1));
  return lines;
}

const std::vector<std::string>& GrammarRuleLines() {
  static const std::vector<std::string> lines = SplitRuleLines(kGrammarRules.substr(1));
  return lines;
}

void Yup1CreateList(PResListGetter getter) {
  for (const TNodeClass& c : kNodeClasses)
    if (c.rule == getter->name) {
      getter->prototype = c.make();
      return;
    }
  getter->prototype = Prototype<G_Err>();
}

void InstallLanguage(TYup& engine) {
  engine.SetLexNode(LexicalRuleLines());
  engine.SetGramNode(GrammarRuleLines());
  engine.OnCreateList = Yup1CreateList;
}

TYup& LanguageEngine() {
  struct TLanguageEngine : TYup {
    TLanguageEngine() { InstallLanguage(*this); }
  };
  static TLanguageEngine engine;
  return engine;
}

} // namespace brova
