#!/usr/bin/python3
"""The package's layers: every module of lab/ imports only modules of its
own layer or of those below it (model, servers, runtime, data, web,
rehearsal, cli, bottom to top), and inside the package only relatively.
Read from the source with ast, so imports inside functions count too.

  layers_test.py            the test
  layers_test.py --print    each module's imports of the package, with
                            their layers (scripts/lab-imports.sh)"""

import ast
import os
import sys
import unittest

LAB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "lab")
LAYERS = ("model", "servers", "runtime", "data", "web", "rehearsal", "cli")


def modules(root=LAB):
    """(dotted name inside the package, path) of every module, sorted."""
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            if name.endswith(".py"):
                path = os.path.join(folder, name)
                parts = os.path.relpath(path, root)[:-3].split(os.sep)
                if parts[-1] == "__init__":
                    parts = parts[:-1]
                found.append((".".join(parts), path, name == "__init__.py"))
    return sorted(found)


def imports(name, path, is_package):
    """(line, the imported module inside the package or None, the import as
    written) of each import in the module's source."""
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    package = name.split(".") if is_package else name.split(".")[:-1]
    found = []
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.level:
            base = package[:len(package) - node.level + 1] if node.level > 1 else package
            if node.level - 1 > len(package):
                raise ValueError(f"{path}:{node.lineno}: import beyond the package")
            target = base + (node.module.split(".") if node.module else [])
            written = "." * node.level + (node.module or "")
            if node.module:
                found.append((node.lineno, ".".join(target), written))
            else:  # from . import a, b: each is a module of base
                for alias in node.names:
                    found.append((node.lineno, ".".join(base + [alias.name]),
                                  f"{written} import {alias.name}"))
        elif isinstance(node, ast.ImportFrom):
            found.append((node.lineno, None, node.module))
        elif isinstance(node, ast.Import):
            found += [(node.lineno, None, alias.name) for alias in node.names]
    return sorted(found)


def layer(dotted):
    """The layer's rank of a module inside the package (-1: the package's
    own __init__, below every layer)."""
    first = dotted.split(".")[0] if dotted else ""
    return LAYERS.index(first) if first in LAYERS else -1


def faults(root=LAB):
    """Each import that points upward or names the package absolutely."""
    found = []
    for name, path, is_package in modules(root):
        for line, target, written in imports(name, path, is_package):
            where = f"{os.path.relpath(path, os.path.dirname(root))}:{line}"
            if target is None:
                if written and written.split(".")[0] == "wexlab":
                    found.append(f"{where}: imports {written} absolutely; use a relative import")
                continue
            if layer(target) > layer(name):
                found.append(f"{where}: {name} ({LAYERS[layer(name)]}) imports {target} "
                             f"({LAYERS[layer(target)]}), a layer above it")
    return found


def print_imports(root=LAB):
    for name, path, is_package in modules(root):
        own = [(t, w) for _, t, w in imports(name, path, is_package) if t is not None]
        rank = layer(name)
        print(f"{name or '(package)'} [{LAYERS[rank] if rank >= 0 else '-'}]")
        for target, _ in sorted(set(own)):
            mark = "UP!" if layer(target) > rank else "ok "
            print(f"    {mark} {target} [{LAYERS[layer(target)]}]")
    bad = faults(root)
    print(f"{len(modules(root))} modules; {len(bad)} import(s) pointing upward or absolute")
    for fault in bad:
        print(fault)
    return 1 if bad else 0


class LayersTest(unittest.TestCase):
    def test_no_module_imports_a_layer_above_its_own(self):
        self.assertEqual(faults(), [])
        self.assertGreater(len(modules()), 40)  # the whole package was read

    def test_an_upward_or_absolute_import_is_found(self):
        import tempfile
        root = tempfile.mkdtemp()
        self.addCleanup(__import__("shutil").rmtree, root)
        for folder, text in (("model", "from ..web import seats\nfrom . import files\n"),
                             ("web", "from ..model import files\nimport wexlab.cli\n")):
            os.makedirs(os.path.join(root, folder))
            with open(os.path.join(root, folder, "__init__.py"), "w") as f:
                f.write("")
            with open(os.path.join(root, folder, "bad.py"), "w") as f:
                f.write("def later():\n    " + text.replace("\n", "\n    "))
        found = faults(root)
        self.assertEqual(len(found), 2, found)
        self.assertIn("model.bad (model) imports web (web), a layer above it", found[0])
        self.assertIn("imports wexlab.cli absolutely", found[1])


if __name__ == "__main__":
    if sys.argv[1:] == ["--print"]:
        sys.exit(print_imports())
    unittest.main()
