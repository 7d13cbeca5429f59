#!/usr/bin/python3
"""Runs the browser tests of the remote-control pages against a build.

    /usr/bin/python3 tests/browser/run_browser_tests.py <build folder> [unittest arguments]

The build folder holds bin/Sinjo, bin/sinjo-settings and bin/html (build/ or build-asan/). Screenshots of
the main views go to <build folder>/screenshots/. Needs Debian's chromium, chromium-driver and
python3-selenium.
"""
import os
import sys
import unittest

if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ['SINJO_BUILD_DIR'] = os.path.abspath(sys.argv[1])
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    names = sys.argv[2:]
    loader = unittest.TestLoader()
    suite = loader.loadTestsFromNames(names) if names else loader.discover(here, pattern='test_*.py')
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
