# check_junit.py: REPORT: reads a JUnit report the way CI systems do and prints what they would see.
# xml.etree (expat) rejects anything that is not well-formed XML 1.0; junitparser
# reads it as a JUnit consumer. The sums in the attributes are checked against
# the cases they count.
import sys
import xml.etree.ElementTree as ET

from junitparser import Error, Failure, JUnitXml

root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "testsuites", root.tag
suites = root.findall("testsuite")
assert int(root.get("tests")) == sum(len(s.findall("testcase")) for s in suites)
for s in suites:
    cases = s.findall("testcase")
    assert int(s.get("tests")) == len(cases)
    assert int(s.get("failures")) == sum(len(c.findall("failure")) for c in cases)
    assert int(s.get("errors")) == sum(len(c.findall("error")) for c in cases)
    for c in cases:
        float(c.get("time"))

for suite in JUnitXml.fromfile(sys.argv[1]):
    print(f"suite {suite.name} tests={suite.tests} failures={suite.failures} errors={suite.errors}")
    for case in suite:
        results = [f"{type(r).__name__}({r.type}: {r.message})" for r in case.result
                   if isinstance(r, (Failure, Error))]
        print(f"case {case.classname} | {case.name} | {' '.join(results) or 'pass'}")
        for r in case.result:
            if isinstance(r, Failure):
                print("diff " + repr(r.text))
        print("out " + repr(case.system_out))
