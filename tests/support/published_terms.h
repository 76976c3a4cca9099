// An EPSG coordinate operation as PROJ's database gives it, term by term: the reference the
// time-dependent Helmert's tests and benchmark compare with.
#pragma once

#include <proj.h>

#include <map>
#include <sstream>
#include <string>

namespace QuorvaneTest {

/// The PROJ string terms of EPSG operation `code` by name ("x" … "ds", "t_epoch",
/// "convention"); empty where PROJ's database has no such operation.
inline std::map<std::string, std::string> PublishedTerms(const char* code) {
  std::map<std::string, std::string> terms;
  const std::string urn = std::string("urn:ogc:def:coordinateOperation:EPSG::") + code;
  PJ* operation = proj_create(PJ_DEFAULT_CTX, urn.c_str());
  if (operation == nullptr) return terms;
  std::istringstream words(proj_as_proj_string(PJ_DEFAULT_CTX, operation, PJ_PROJ_5, nullptr));
  for (std::string word; words >> word;) {
    const std::size_t equals = word.find('=');
    if (word[0] == '+' && equals != std::string::npos) {
      terms[word.substr(1, equals - 1)] = word.substr(equals + 1);
    }
  }
  proj_destroy(operation);
  return terms;
}

}  // namespace QuorvaneTest
