#include "page_params.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string Lower(const std::string& s)
{
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

bool IsNameChar(char c)
{
    return c && !std::isspace(static_cast<unsigned char>(c)) && c != '=' && c != '>' && c != '/' && c != '"' &&
           c != '\'';
}

// Reads the attributes of the tag that starts at html[pos] ("<name ...>").
// Returns the position after the tag's ">", or npos for a tag left open.
size_t ReadTag(const std::string& html, size_t pos, std::string* pName, GpcPageParams* pAttrs)
{
    size_t i = pos + 1;
    size_t start = i;
    while (i < html.size() && IsNameChar(html[i])) ++i;
    *pName = Lower(html.substr(start, i - start));
    pAttrs->clear();
    while (i < html.size()) {
        while (i < html.size() && (std::isspace(static_cast<unsigned char>(html[i])) || html[i] == '/')) ++i;
        if (i >= html.size()) break;
        if (html[i] == '>') return i + 1;
        size_t ns = i;
        while (i < html.size() && IsNameChar(html[i])) ++i;
        if (i == ns) {  // a stray quote or "=": skip it
            ++i;
            continue;
        }
        std::string name = html.substr(ns, i - ns);
        while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
        std::string value;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                char q = html[i++];
                size_t vs = i;
                while (i < html.size() && html[i] != q) ++i;
                if (i >= html.size()) return std::string::npos;
                value = html.substr(vs, i - vs);
                ++i;
            } else {
                size_t vs = i;
                while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>') ++i;
                value = html.substr(vs, i - vs);
            }
        }
        pAttrs->emplace_back(name, DecodeHtmlEntities(value));
    }
    return std::string::npos;
}

const std::string* FindAttr(const GpcPageParams& attrs, const char* name)
{
    for (const auto& a : attrs) {
        if (Lower(a.first) == name) return &a.second;
    }
    return nullptr;
}

}  // namespace

std::string DecodeHtmlEntities(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        size_t semi = text.find(';', i);
        if (semi == std::string::npos || semi - i > 10) {
            out += text[i];
            continue;
        }
        std::string ent = text.substr(i + 1, semi - i - 1);
        std::string rep;
        if (ent == "amp") rep = "&";
        else if (ent == "lt") rep = "<";
        else if (ent == "gt") rep = ">";
        else if (ent == "quot") rep = "\"";
        else if (ent == "apos") rep = "'";
        else if (ent.size() > 1 && ent[0] == '#') {
            long code = (ent[1] == 'x' || ent[1] == 'X') ? std::strtol(ent.c_str() + 2, nullptr, 16)
                                                          : std::strtol(ent.c_str() + 1, nullptr, 10);
            if (code > 0 && code < 256) rep = std::string(1, static_cast<char>(code));
        }
        if (rep.empty()) {
            out += text[i];
            continue;
        }
        out += rep;
        i = semi;
    }
    return out;
}

bool ParsePageParams(const std::string& html, GpcPageParams* pParams)
{
    pParams->clear();
    std::string lower = Lower(html);

    size_t obj = lower.find("<object");
    if (obj != std::string::npos) {
        std::string name;
        GpcPageParams attrs;
        size_t pos = ReadTag(html, obj, &name, &attrs);
        if (pos == std::string::npos) return false;  // the element is never closed
        size_t end = lower.find("</object", obj);
        if (end == std::string::npos) end = html.size();
        while (pos != std::string::npos && pos < end) {
            size_t p = lower.find("<param", pos);
            if (p == std::string::npos || p >= end) break;
            pos = ReadTag(html, p, &name, &attrs);
            if (name != "param") continue;
            const std::string* n = FindAttr(attrs, "name");
            const std::string* v = FindAttr(attrs, "value");
            if (n && !n->empty()) pParams->emplace_back(*n, v ? *v : std::string());
        }
        // An object without parameters gives the extension nothing to start from.
        return !pParams->empty();
    }

    size_t emb = lower.find("<embed");
    if (emb != std::string::npos) {
        std::string name;
        GpcPageParams attrs;
        if (ReadTag(html, emb, &name, &attrs) == std::string::npos) return false;
        *pParams = attrs;
        return true;
    }
    return false;
}
