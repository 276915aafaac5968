#include "resources/param.h"

#include "resources/sgml.h"

namespace brova {

void TfParam::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  text = element.getAttr("value");
}

void TfParam::save(std::vector<std::string>& lines, const std::string& indent) {
  lines.push_back(indent + ElementLine("param", {{"name", name}, {"value", text}}));
}

} // namespace brova
