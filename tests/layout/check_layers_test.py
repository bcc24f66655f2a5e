#!/usr/bin/env python3
# The layer checker on small planted trees: one table of includes, each with the verdict expected,
# so a checker that waves everything through (or refuses a legal include) fails here.
import importlib.util
import os
import sys
import tempfile

module_source = importlib.util.spec_from_file_location("check_layers", sys.argv[1])
check_layers = importlib.util.module_from_spec(module_source)
module_source.loader.exec_module(check_layers)

# (what it shows, includer, included header, number of errors expected)
CASES = [
    ("util reaches the adaptor table below it", "util/A.cpp", "adaptor/HAdaptor.h", 0),
    ("util reaching into the engine runs up", "util/A.cpp", "engine/HttpEng.h", 1),
    ("the platform reaching util runs up", "platform/files/A.cpp", "util/FormData.h", 1),
    ("a platform group uses another group", "platform/files/A.cpp", "platform/system/System.h", 0),
    ("net and image are peers", "net/A.cpp", "image/HGif.h", 1),
    ("an engine uses the engine base", "adapters/cgi/A.cpp", "engine/HttpEng.h", 0),
    ("the CGI engine uses the resident exchange", "adapters/cgi/A.cpp", "adapters/resident/CgiResident.h", 0),
    ("the resident exchange never reaches an engine", "adapters/resident/A.cpp", "adapters/cgi/CgiSEng.h", 1),
    ("one engine never reaches another's internals", "adapters/isapi/A.cpp", "adapters/nsapi/NsapiTypes.h", 1),
    ("the engine choice reaches the engines", "adapters/choice/A.cpp", "adapters/profile/CgiWEng.h", 0),
    ("an engine reaching the choice runs up", "adapters/fastcgi/A.cpp", "adapters/choice/GenEng.h", 1),
    ("the engine base reaching an engine runs up", "engine/A.cpp", "adapters/fastcgi/FastCgiEng.h", 1),
    ("a room of the program uses a lower room", "app/spam/A.cpp", "app/store/ReplayStore.h", 0),
    ("a room never reaches the main unit", "app/spam/A.cpp", "app/haupt.h", 1),
    ("rooms on one floor are peers", "app/outbox/A.cpp", "app/spam/ContentRules.h", 1),
    ("a room's internals stay its own", "app/spam/A.cpp", "app/store/internal/StoreConnection.h", 1),
    ("a room uses its own internals", "app/store/A.cpp", "app/store/internal/StoreConnection.h", 0),
    ("a header outside the tree is not counted", "app/A.cpp", "gtest/NotHere.h", 0),
]


def plant(root, rel, text=""):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


failures = []
for what, includer, header, expected in CASES:
    with tempfile.TemporaryDirectory() as root:
        if not header.startswith("gtest/"):
            plant(root, header)
        plant(root, includer, '#include "%s"\n' % os.path.basename(header))
        _, _, errors = check_layers.check(root)
        if len(errors) != expected:
            failures.append("%s: %d errors, expected %d: %s" % (what, len(errors), expected, errors))

# Two headers of one name make an include by name depend on the include path's order.
with tempfile.TemporaryDirectory() as root:
    plant(root, "util/Same.h")
    plant(root, "net/Same.h")
    plant(root, "app/A.cpp", '#include "Same.h"\n')
    _, _, errors = check_layers.check(root)
    if not any("ambiguous" in e for e in errors):
        failures.append("an ambiguous header name was not reported: %s" % errors)

for f in failures:
    print("FAIL " + f)
print("%d cases, %d failed" % (len(CASES) + 1, len(failures)))
sys.exit(1 if failures else 0)
