// XML files the tool writes, read back by libxml2.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <libxml/tree.h>

namespace QuorvaneTest {

/// `text` parsed as a well-formed XML document, fetching nothing; null when it is not one.
std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> ParseXml(const std::string& text);

/// The value of `element`'s attribute `name`, "" when it has none.
std::string Attribute(const xmlNode* element, const char* name);

/// `root` and every element below it, in document order; only those with `word` among their
/// classes when `word` is given.
std::vector<const xmlNode*> Elements(const xmlNode* root, const std::string& word = "");

}  // namespace QuorvaneTest
