# cmake-format settings for every CMakeLists.txt and *.cmake file in the tree (scripts/check-format
# checks them, make format applies them). Written for the cmake-format of Debian 12 (0.6.13).
# The layout follows what the files did by hand: two-space indent, lines up to 120 columns, a
# statement on one line when it fits, and otherwise its arguments nested below it; comments are left
# exactly as written.

with section("parse"):
  # Our own functions and the module functions cmake-format has no signature for, so that their
  # keywords are laid out as keywords and their values stay with them.
  additional_commands = {
      # cmake/Testing.cmake
      "lf_add_test": {
          "kwargs": {
              "NAME": 1,
              "TIMEOUT": 1,
              "SOURCES": "*",
              "LIBS": "*",
              "LABELS": "*",
              "COMMAND": "*",
          },
      },
      # packaging/CMakeLists.txt
      "lf_gzipped": {"pargs": 2},
      # GoogleTest module
      "gtest_discover_tests": {
          "pargs": 1,
          "flags": ["NO_PRETTY_TYPES", "NO_PRETTY_VALUES"],
          "kwargs": {
              "EXTRA_ARGS": "*",
              "WORKING_DIRECTORY": 1,
              "TEST_PREFIX": 1,
              "TEST_SUFFIX": 1,
              "TEST_FILTER": 1,
              "TEST_LIST": 1,
              "DISCOVERY_TIMEOUT": 1,
              "DISCOVERY_MODE": 1,
              "XML_OUTPUT_DIR": 1,
              "PROPERTIES": "*",
          },
      },
  }

with section("format"):
  line_width = 120
  tab_size = 2
  # One line when it fits; otherwise nested, never a continuation line hanging under the first one.
  max_lines_hwrap = 0
  # lf_add_test(NAME .. SOURCES .. LIBS .. LABELS .. TIMEOUT ..) may stay on one line.
  max_subgroups_hwrap = 5
  # Longer argument lists (source lists) go one a line.
  max_pargs_hwrap = 8
  dangle_parens = False
  # Spelling as written (ExternalProject_Add, keywords upper case).
  command_case = "unchanged"
  keyword_case = "unchanged"
  # Argument order is meaning (link order, source lists as grouped): never sort.
  enable_sort = False
  autosort = False

with section("markup"):
  # Comments are prose and aligned tables: no reflow, no bullet or ruler rewriting.
  enable_markup = False
