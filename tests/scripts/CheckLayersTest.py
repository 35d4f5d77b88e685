"""scripts/check-layers on a small module tree: clean, then with one planted fault at a time."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "scripts", "check-layers")

# A tree that keeps every rule: modules linking exactly what they include,
# a test, a benchmark and a tool library over them.
CLEAN = {
    "src/platform/system/CMakeLists.txt": "zv_module(platform_system DEPS Threads::Threads)\n",
    "src/platform/system/Log.h": "#pragma once\n#include <string>\n",
    "src/platform/system/Log.cpp": '#include "platform/system/Log.h"\n',
    "src/jinja/CMakeLists.txt": "zv_module(jinja PRIVATE_DEPS platform_system)\n",
    "src/jinja/Value.h": "#pragma once\n",
    "src/jinja/Value.cpp": '#include "jinja/Value.h"\n#include "platform/system/Log.h"\n',
    "src/hub/CMakeLists.txt": "zv_module(hub DEPS jinja\n  PRIVATE_DEPS PkgConfig::YYJSON)\n",
    "src/hub/Config.h": '#pragma once\n#include "jinja/Value.h"\n',
    "src/hub/Config.cpp": '#include "hub/Config.h"\n#include <yyjson.h>\n',
    "src/tessary_core/CMakeLists.txt": "zv_module(tessary_core DEPS platform_system)\n",
    "src/tessary_core/Logging.h": '#pragma once\n#include "platform/system/Log.h"\n',
    "src/tokenizers/CMakeLists.txt": "zv_module(tokenizers DEPS hub)\n",
    "src/tokenizers/Tokenizer.h": '#pragma once\n#include "hub/Config.h"\n',
    "tests/CMakeLists.txt": "add_subdirectory(hub)\n",
    "tests/support/Server.h": "#pragma once\n#include <thread>\n",
    "tests/hub/CMakeLists.txt": "zv_tests(hub_tests DEPS hub)\n",
    "tests/hub/ConfigTest.cpp": ('#include "hub/Config.h"\n#include "jinja/Value.h"\n'
                                 '#include "support/Server.h"\n'),
    "tools/gen/CMakeLists.txt": ("add_library(zv_gen STATIC Gen.cpp)\n"
                                 "target_link_libraries(zv_gen PUBLIC platform_system)\n"),
    "tools/gen/Gen.cpp": '#include "platform/system/Log.h"\n',
    "bench/hub/CMakeLists.txt": "zv_bench(hub_bench HubBench.cpp DEPS hub zv_gen)\n",
    "bench/hub/HubBench.cpp": '#include "hub/Config.h"\n#include "platform/system/Log.h"\n',
}

# (what is planted, files written over the clean tree, text the report must hold)
FAULTS = [
    ("upward include", {"src/jinja/Value.cpp": '#include "platform/system/Log.h"\n#include "hub/Config.h"\n'},
     'src/jinja/Value.cpp:2: #include "hub/Config.h": module jinja may not use hub'),
    ("sibling include", {"src/tokenizers/Tokenizer.h":
                         '#pragma once\n#include "hub/Config.h"\n#include "tessary_core/Logging.h"\n'},
     'src/tokenizers/Tokenizer.h:3: #include "tessary_core/Logging.h": module tokenizers may not '
     "use tessary_core"),
    ("platform includes a module", {"src/platform/system/Log.cpp":
                                    '#include "platform/system/Log.h"\n  #  include "jinja/Value.h"\n'},
     'src/platform/system/Log.cpp:2: #include "jinja/Value.h": module platform may not use jinja'),
    ("test reaches above its module", {"tests/hub/ConfigTest.cpp": '#include "tokenizers/Tokenizer.h"\n'},
     'tests/hub/ConfigTest.cpp:1: #include "tokenizers/Tokenizer.h": a file that links hub may not '
     "use tokenizers"),
    ("shared test support uses a module", {"tests/support/Server.h": '#include "hub/Config.h"\n'},
     'tests/support/Server.h:1: #include "hub/Config.h": a file that links platform may not use hub'),
    ("benchmark reaches above what it links", {"bench/hub/HubBench.cpp": '#include "tessary_core/Logging.h"\n'},
     "bench/hub/HubBench.cpp:1"),
    ("include without a link", {"src/jinja/Value.cpp": '#include "jinja/Value.h"\n#include <unicode/uchar.h>\n'
                                '#include "platform/system/Log.h"\n'},
     "src/jinja/CMakeLists.txt: jinja does not link ICU::uc, which src/jinja/Value.cpp:2 includes"),
    ("link without an include", {"src/tessary_core/CMakeLists.txt":
                                 "zv_module(tessary_core DEPS platform_system jinja)\n"},
     "src/tessary_core/CMakeLists.txt: tessary_core links jinja, but no file of src/tessary_core/ "
     "includes it"),
    ("header's dependency linked privately", {"src/tokenizers/CMakeLists.txt":
                                              "zv_module(tokenizers PRIVATE_DEPS hub)\n"},
     "tokenizers links hub privately, but the header src/tokenizers/Tokenizer.h:2"),
    (".cpp-only dependency linked publicly", {"src/hub/CMakeLists.txt":
                                              "zv_module(hub DEPS jinja PkgConfig::YYJSON)\n"},
     "hub links PkgConfig::YYJSON publicly, but only .cpp files include it"),
    ("folder outside the order", {"src/extras/Thing.cpp": "\n"},
     "src/extras/Thing.cpp: src/extras is not a module of the layer order"),
]


def write_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)


def run(files):
    with tempfile.TemporaryDirectory() as root:
        write_tree(root, files)
        done = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
        return done.returncode, done.stdout + done.stderr


class CheckLayersTest(unittest.TestCase):
    def test_clean_tree_passes_silently(self):
        self.assertEqual(run(CLEAN), (0, ""))

    def test_each_planted_fault_fails_and_is_named(self):
        for name, planted, expected in FAULTS:
            with self.subTest(name):
                status, report = run({**CLEAN, **planted})
                self.assertEqual(status, 1, report)
                self.assertIn(expected, report)
                # Only the planted fault is reported.
                self.assertEqual(report.count("\n  "), 1, report)

    def test_comments_and_lower_modules_are_allowed(self):
        status, report = run({**CLEAN, "src/hub/Config.cpp":
                              '#include "hub/Config.h"\n// #include "murmex/Murmex.h"\n'
                              '#include <yyjson.h>\n#include "jinja/Value.h"\n'})
        self.assertEqual((status, report), (0, ""))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
