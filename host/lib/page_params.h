// Page parameters as a plug-in host reads them: the <param name=... value=...>
// children of the page's <object> element, or else the attributes of its
// <embed> element.
#pragma once

#include <string>
#include <utility>
#include <vector>

typedef std::vector<std::pair<std::string, std::string>> GpcPageParams;

// Parses HTML text. Returns false when the page has neither element, or an
// <object> that is never closed or has no parameters.
bool ParsePageParams(const std::string& html, GpcPageParams* pParams);

// Decodes the character references a page may use in attribute values.
std::string DecodeHtmlEntities(const std::string& text);
