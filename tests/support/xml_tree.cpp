#include "tests/support/xml_tree.h"

#include <sstream>

#include <libxml/parser.h>

namespace QuorvaneTest {

std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> ParseXml(const std::string& text) {
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  return {xmlReadMemory(text.data(), static_cast<int>(text.size()), "", nullptr, options),
          xmlFreeDoc};
}

std::string Attribute(const xmlNode* element, const char* name) {
  xmlChar* value = xmlGetProp(element, reinterpret_cast<const xmlChar*>(name));
  const std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
}

std::vector<const xmlNode*> Elements(const xmlNode* root, const std::string& word) {
  std::vector<const xmlNode*> found;
  std::istringstream classes(Attribute(root, "class"));
  std::string w;
  while (!word.empty() && classes >> w && w != word) {
  }
  if (word.empty() || w == word) found.push_back(root);
  for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    const std::vector<const xmlNode*> below = Elements(child, word);
    found.insert(found.end(), below.begin(), below.end());
  }
  return found;
}

}  // namespace QuorvaneTest
