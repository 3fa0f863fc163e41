#!/usr/bin/env python3
"""The group-policy template: both files are well-formed XML, every string
and presentation the .admx names is in the .adml, every box of a
presentation belongs to an element of its policy, and the key and value
names are the ones the library reads (taken from its sources).

    policy_template_test.py SOURCE_DIR
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

root = sys.argv[1]
NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
failures = []


def expect(name, condition, detail=""):
    if not condition:
        failures.append("%s: %s" % (name, detail))


def constant(path, name):
    """A text constant of the library's sources (constexpr char NAME[] = "...")."""
    text = open(os.path.join(root, path)).read()
    m = re.search(r'\b%s\[\]\s*=\s*"((?:[^"\\]|\\.)*)"' % re.escape(name), text)
    return m.group(1).encode().decode("unicode_escape") if m else None


admx_path = os.path.join(root, "tools", "policy", "vrgpcext.admx")
adml_path = os.path.join(root, "tools", "policy", "en-US", "vrgpcext.adml")
trees = {}
for path in (admx_path, adml_path):
    try:
        trees[path] = ET.parse(path)
    except ET.ParseError as e:
        failures.append("%s is not well-formed: %s" % (os.path.basename(path), e))

if len(trees) == 2:
    admx, adml = trees[admx_path].getroot(), trees[adml_path].getroot()
    strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    for element in admx.iter():
        for attr, value in element.attrib.items():
            for kind, ref in re.findall(r"\$\((string|presentation)\.([^)]*)\)", value):
                known = strings if kind == "string" else presentations
                expect("admx %s %s" % (attr, value), ref in known, "no %s '%s' in the adml" % (kind, ref))

    values = {}
    for policy in admx.iterfind(".//p:policies/p:policy", NS):
        name = policy.get("name")
        ids = set()
        for element in policy.find("p:elements", NS):
            ids.add(element.get("id"))
            values[element.get("valueName")] = (policy.get("key"), policy.get("class"))
        ref = re.fullmatch(r"\$\(presentation\.(.*)\)", policy.get("presentation") or "")
        boxes = presentations.get(ref.group(1)) if ref else None
        refs = {b.get("refId") for b in boxes} if boxes is not None else set()
        expect("policy %s" % name, refs == ids, "presentation boxes %s, elements %s" % (sorted(refs), sorted(ids)))

    # The names the library reads: (value, source, key constant, value constant).
    library = [
        ("ManifestPublicKey", "install/manifest_trust.h", "GPC_MANIFEST_POLICY_KEY", "GPC_MANIFEST_POLICY_VALUE"),
        ("LogFile", "feedback/trace_log.h", "GPC_LOG_POLICY_KEY", "GPC_LOG_POLICY_FILE"),
        ("LogFileMaxKB", "feedback/trace_log.h", "GPC_LOG_POLICY_KEY", "GPC_LOG_POLICY_MAX_KB"),
    ]
    for value, source, key_name, value_name in library:
        key, value_text = constant(source, key_name), constant(source, value_name)
        expect("library names of %s" % value, key and value_text, "constants not found in %s" % source)
        expect("template sets %s" % value, values.get(value_text) == (key, "Machine"),
               "template has %s, the library reads HKLM\\%s\\%s" % (values.get(value_text), key, value_text))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("policy template: well-formed, complete, and named as the library reads it")
