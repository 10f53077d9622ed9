"""Builds the Python package corvane: `pip install --no-build-isolation .`

The extension compiles the engine's sources into itself, so the installed
package needs no shared library on any path.
"""
import glob
import os

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

here = os.path.dirname(os.path.abspath(__file__))
# Recursive: the engine's sources may sit in subfolders of corvane/src.
pattern = os.path.join(here, 'corvane', 'src', '**', '*.cpp')
engine = sorted(os.path.relpath(p, here) for p in glob.glob(pattern, recursive=True))

setup(
    name='corvane',
    version='2.4',
    description='Binary decision diagrams with the Corvane engine',
    packages=['corvane'],
    package_dir={'corvane': 'python/corvane'},
    package_data={'corvane': ['*.pyi', 'py.typed']},
    ext_modules=[Pybind11Extension('corvane._corvane', ['python/src/module.cpp'] + engine,
                                   include_dirs=['corvane/src'], cxx_std=17)],
    cmdclass={'build_ext': build_ext},
    python_requires='>=3.9',
    zip_safe=False,
)
