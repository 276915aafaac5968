#include "resources/sgml.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "runtime/errors.h"

namespace brova {
namespace {

// A compact picture of an element: tag(name=value,...), then "/" without a child list or
// {child child} with one; bytes outside printable ASCII as \xNN.
std::string Shape(const TSGML* e) {
  if (!e) return "(none)";
  auto bytes = [](const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      if (c >= 32 && c < 127) {
        out += static_cast<char>(c);
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
      }
    }
    return out;
  };
  std::string out = bytes(e->getTagName());
  if (e->attrCount() > 0) {
    out += '(';
    for (int i = 0; i < e->attrCount(); ++i) {
      if (i) out += ',';
      out += bytes(e->attrName(i)) + "=" + bytes(e->attrValue(i));
    }
    out += ')';
  }
  const TSGML::SubItems* children = e->getSubItems();
  if (!children) return out + "/";
  out += '{';
  for (std::size_t i = 0; i < children->size(); ++i) {
    if (i) out += ' ';
    out += Shape((*children)[i].get());
  }
  return out + '}';
}

class MessageLog {
public:
  MessageLog() {
    platform::SetMessageObserver([this](std::string_view t) { messages.emplace_back(t); });
  }
  ~MessageLog() { platform::SetMessageObserver({}); }
  std::vector<std::string> messages;
};

struct ReadCase {
  std::string text;
  std::string shape;
};

class ReadElement : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadElement, Shape) {
  std::unique_ptr<TSGML> e = readElement(GetParam().text);
  EXPECT_EQ(Shape(e.get()), GetParam().shape);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadElement,
    testing::Values(
        ReadCase{"<a/>", "a/"},
        ReadCase{"<a></a>", "a{}"},
        ReadCase{"junk\r\n <  a\tx=\"1\"\r\n y=\"2\" />", "a(x=1,y=2)/"},
        ReadCase{"<a/><b/>", "a/"},
        // Empty-element tags closed with ">" take no children; another case is a plain tag.
        ReadCase{"<r><globalvalue name=\"$x\"><class name=\"C\"><link src=\"l\"><generator>"
                 "<cpattern><b/></r>",
                 "r{globalvalue(name=$x)/ class(name=C)/ link(src=l)/ generator/ cpattern/ b/}"},
        ReadCase{"<r><Class name=\"C\"><x/></Class></r>", "r{Class(name=C){x/}}"},
        ReadCase{"<a><b></x><c/></a>", "a{b{} c/}"},
        ReadCase{"<a v=\"%41%4a%4A%zz\"/>", "a(v=AJJ\\x00)/"},
        // A percent sign before the closing quote swallows it: the value runs on.
        ReadCase{"<a v=\"ab%\" w=\"x\">", "a(v=ab\\x00w=)/"},
        ReadCase{"<a name = \"v\" other junk \"w\"/>", "a(name=v,other=w)/"},
        ReadCase{"<a v=\"1>2/3\"/>", "a(v=1>2/3)/"},
        // A double-byte character keeps its second byte, even "=" or a letter.
        ReadCase{"<a \x83=A=\"1\" \x83\x41\x62=\"2\"/>", "a(\\x83=A=1,\\x83Ab=2)/"},
        ReadCase{"<a v=\"\x83\x65\x83\x58\"/>", "a(v=\\x83e\\x83X)/"},
        // Cut-off texts give what was read.
        ReadCase{"<a x=\"1\" y=\"2", "a(x=1)/"},
        ReadCase{"<a x=\"%4", "a/"},
        ReadCase{"<r><a/><b", "r{a/ b/}"},
        ReadCase{"<r><a>", "r{a{}}"},
        ReadCase{"<r", "r/"},
        ReadCase{"no tags here", "(none)"},
        ReadCase{"</r><a/>", "(none)"},
        ReadCase{"", "(none)"}));

TEST(Markup, CursorStopsOnTheEndTagOfTheCaller) {
  std::string text = "<a/> <b/></r>";
  TMarkupCursor cursor{text, 0};
  EXPECT_EQ(Shape(readElement(cursor).get()), "a/");
  EXPECT_EQ(Shape(readElement(cursor).get()), "b/");
  EXPECT_EQ(readElement(cursor), nullptr);
  EXPECT_EQ(cursor.pos, text.find("</r>"));
}

TEST(Markup, EveryCutOfAFileAndGarbageStayInsideTheText) {
  std::ifstream in(BROVA_FIXTURES_DIR "/markup/sample.brovares", std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(file.empty());
  for (std::size_t n = 0; n <= file.size(); ++n) {
    // A separate copy per cut, so reading past its end is a fault the sanitizers see.
    std::string cut = file.substr(0, n);
    std::unique_ptr<TSGML> e = readElement(cut);
    EXPECT_EQ(e == nullptr, n == 0) << n;
  }

  uint32_t seed = 12345;
  std::string garbage;
  const char alphabet[] = "<<>>//\"\"%%a=  \x83\x9f\xe0";
  for (int i = 0; i < 65536; ++i) {
    seed = seed * 1103515245 + 12345;
    garbage += (seed >> 16) % 3 == 0 ? static_cast<char>(seed >> 8)
                                     : alphabet[(seed >> 16) % (sizeof alphabet - 1)];
  }
  TMarkupCursor cursor{garbage, 0};
  int elements = 0;
  while (cursor.pos < garbage.size() && elements < 100000) {
    std::size_t before = cursor.pos;
    std::unique_ptr<TSGML> e = readElement(cursor);
    if (!e) {
      if (cursor.pos == before) ++cursor.pos; // step over a stray end tag
      continue;
    }
    ++elements;
    EXPECT_GT(cursor.pos, before);
  }
  EXPECT_LE(cursor.pos, garbage.size());
}

TEST(Markup, DeepNestingReadsAndFreesWithoutRecursion) {
  const int depth = 200000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  std::unique_ptr<TSGML> root = readElement(text);
  int levels = 0;
  for (const TSGML* e = root.get(); e; ++levels) {
    const TSGML::SubItems* children = e->getSubItems();
    e = children && !children->empty() ? (*children)[0].get() : nullptr;
  }
  EXPECT_EQ(levels, depth);
  root.reset();
}

TEST(Markup, AttributeLookupAndReplacement) {
  std::unique_ptr<TSGML> e = readElement("<t a=\"1\" b=\"2\" c=\"3\" d=\"4\" e=\"5\" b=\"dup\"/>");
  EXPECT_EQ(e->getAttr("B"), "2");
  EXPECT_EQ(e->getAttr("missing"), "");
  EXPECT_EQ(e->attrName(99), "");

  e->setAttr("c", "three");
  EXPECT_EQ(Shape(e.get()), "t(a=1,b=2,d=4,e=5,b=dup,c=three)/");
  e->setAttr("A", "other case");
  EXPECT_EQ(e->getAttr("a"), "1");
  EXPECT_EQ(e->attrCount(), 7);
  // Both entries the file had under one name go: the element never holds two.
  e->setAttr("b", "new");
  EXPECT_EQ(Shape(e.get()), "t(a=1,d=4,e=5,c=three,A=other case,b=new)/");
}

TEST(Markup, WriterLayout) {
  std::unique_ptr<TSGML> flat = readElement("<r><a/><b></b></r>");
  EXPECT_EQ(flat->toMarkup(""), "<r>\r\n <a/> <b/></r>");

  std::unique_ptr<TSGML> nested = readElement("<r n=\"1\"><s><a x=\"\"/></s></r>");
  EXPECT_EQ(nested->toMarkup("\t"), "\t<r n=\"1\">\r\n\t <s>\r\n\t  <a/>\t </s>\t</r>");

  TSGML built("e");
  built.setAttr("", "no name");
  built.setAttr("empty", "");
  built.setAttr("v", "x");
  EXPECT_EQ(built.toMarkup(), "<e v=\"x\"/>");
  built.makeSubItems();
  EXPECT_EQ(built.toMarkup(), "<e v=\"x\"/>");
}

TEST(Markup, EscapesSurviveWritingAndBothReaders) {
  EXPECT_EQ(escapeAttr("%\"<>a"), "%25%22%3c%3e" "a");
  EXPECT_EQ(unescapeAttr("%3C%3c%253c%2"), "%3C<%3c%2");
  for (std::string value : {"a\"b", "<tag>", "100%", "%22", "x%", "\x83\x65\x83\x58 / >", "%3c"}) {
    TSGML e("p");
    e.setAttr("v", value);
    std::string text = e.toMarkup();
    EXPECT_EQ(readElement(text)->getAttr("v"), value) << text;
    TMarkupCursor cursor{text, 0};
    EXPECT_EQ(parseTag(cursor)->getAttr("v"), value) << text;
  }
}

struct TagCase {
  std::string text;
  std::string shape;
  std::vector<std::string> messages;
};

class ParseTag : public testing::TestWithParam<TagCase> {};

TEST_P(ParseTag, ShapeAndMessages) {
  MessageLog log;
  TMarkupCursor cursor{GetParam().text, 0};
  EXPECT_EQ(Shape(parseTag(cursor).get()), GetParam().shape);
  EXPECT_EQ(log.messages, GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseTag,
    testing::Values(
        TagCase{"<r name=\"x\"><c a=\"1\"/><d></d></r>", "r(name=x){c(a=1)/ d{}}", {}},
        TagCase{"<class name=\"A\"><b/>", "class(name=A)/", {}},
        TagCase{"  <a v=\"%3c%2525\" w=\"2\" v=\"again\"/>", "a(w=2,v=again)/", {}},
        TagCase{"<a v=\"%3c%2525\"/>", "a(v=<%25)/", {}},
        TagCase{"<r><c/> tail", "r{c/}", {"invalid Tag :  tail"}},
        TagCase{"<r><s><c/>", "r{s{c/}}", {"invalid Tag : "}}));

TEST(Markup, ParseTagErrorsAndCursor) {
  TMarkupCursor none{"no tag", 0};
  try {
    parseTag(none);
    ADD_FAILURE();
  } catch (const EScriptError& e) {
    EXPECT_STREQ(e.what(), "Tag Error");
  }
  std::string text = "<a/><b/>";
  TMarkupCursor cursor{text, 0};
  parseTag(cursor);
  EXPECT_EQ(cursor.pos, 4u);
  EXPECT_EQ(parseTag(cursor)->getTagName(), "b");
  EXPECT_THROW(parseTag(cursor), EScriptError);
}

class MarkupFiles : public testing::Test {
protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("brova_sgml_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream((dir / name).string(), std::ios::binary) << bytes;
    return (dir / name).string();
  }
  std::filesystem::path dir;
};

TEST_F(MarkupFiles, LinesEndWithCrLf) {
  const std::pair<std::string, std::string> table[] = {
      {"a\nb\r\nc\rd", "a\r\nb\r\nc\r\nd\r\n"},
      {"one\r\n", "one\r\n"},
      {"\n\n", "\r\n\r\n"},
      {"", ""},
      {std::string("x\0y", 3), std::string("x\0y\r\n", 5)},
  };
  for (const auto& [bytes, expected] : table) EXPECT_EQ(readTextFile(Write("t.txt", bytes)), expected);
}

TEST_F(MarkupFiles, NameIsLookedUpIgnoringCase) {
  Write("Page.CMML", "<resourcelist name=\"usr\"/>");
  EXPECT_EQ(readMarkupFile((dir / "page.cmml").string())->getAttr("name"), "usr");
}

TEST_F(MarkupFiles, MissingFileShowsItsNameAndStopsTheLoad) {
  MessageLog log;
  std::string path = (dir / "absent.cmml").string();
  EXPECT_THROW(readMarkupFile(path), EMarkupFileError);
  EXPECT_THROW(readTextFile(dir.string()), EMarkupFileError); // a folder is no file
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[0], path + " is not found.");
}

TEST_F(MarkupFiles, FileWithoutElementGivesAnEmptyList) {
  MessageLog log;
  std::unique_ptr<TSGML> e = readMarkupFile(Write("empty.cmml", "no markup\r\n"));
  EXPECT_EQ(Shape(e.get()), "resourcelist{}");
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_NE(log.messages[0].find("empty.cmml"), std::string::npos);
}

TEST(Markup, ResourceFileReadsAndWritesBack) {
  std::unique_ptr<TSGML> root = readMarkupFile(BROVA_FIXTURES_DIR "/MARKUP/Sample.BROVARES");
  const std::string modules = "resourcelist(name=modules)";
  std::string expected = "resourcelist(name=kernel){"
                         "classlist(name=classes){classlist(name=lang){"
                         "class(name=Object,src=Kernel\\classes\\Object.brova,category=lang)/ "
                         "class(name=String,src=kernel\\CLASSES\\String.brova)/}} "
                         "resourcelist(name=usrglobal){"
                         "globalvalue(name=$title,value=\\x83e\\x83X\\x83g \"quoted\" <a> 100%)/ "
                         "param(name=frameRate,value=60)/} " +
                         modules + "{}}";
  EXPECT_EQ(Shape(root.get()), expected);
  // Written back, the empty list of modules becomes a self-closed tag.
  expected.replace(expected.find(modules + "{}"), modules.size() + 2, modules + "/");
  EXPECT_EQ(Shape(readElement(root->toMarkup()).get()), expected);
}

} // namespace
} // namespace brova
