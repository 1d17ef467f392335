"""The English reference: the type stubs agree with the functions and their examples run, a type
checker accepts what the functions accept, and the README's tables and example work."""

import ast
import doctest
import importlib.util
import inspect
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import evocore

PACKAGE = Path(evocore.__file__).parent
CHECKOUT = Path(__file__).resolve().parents[1]
built = evocore._MODULES


def stub_function(name):
    """The stub's definition of `name` (the first overload)."""
    tree = ast.parse((PACKAGE / "core" / f"{name}.pyi").read_text())
    return next(n for n in tree.body if isinstance(n, ast.FunctionDef))


@pytest.mark.parametrize("name", built)
def test_stubs_match_the_functions(name):
    fn = stub_function(name)
    args = fn.args.args + fn.args.kwonlyargs
    defaults = [None] * (len(fn.args.args) - len(fn.args.defaults)) + fn.args.defaults
    defaults += fn.args.kw_defaults
    stub = [(a.arg, inspect.Parameter.empty if d is None else ast.literal_eval(d))
            for a, d in zip(args, defaults)]
    function = getattr(evocore, name)
    assert stub == [(p.name, p.default) for p in inspect.signature(function).parameters.values()]
    assert f"from evocore.core.{name} import {name} as {name}" in (
        PACKAGE / "__init__.pyi").read_text()
    assert (PACKAGE / "py.typed").is_file()


@pytest.mark.parametrize("name", built)
def test_stub_examples_run(name):
    doc = ast.get_docstring(stub_function(name))
    test = doctest.DocTestParser().get_doctest(doc, {"np": np, name: getattr(evocore, name)},
                                               name, f"{name}.pyi", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert test.examples and runner.failures == 0


TYPED = '''
import numpy as np
from evocore import druvik, fendrik, polvane, tamsen
from evocore.algorithms import Result, moead

A = np.ones((3, 2), dtype=np.float32)
D = polvane(A, np.ones((2, 2), dtype=np.int32), "cityblock")
column, count = fendrik(D, return_count=True)
z = druvik(D, np.ones((3, 2)), idealPoint=None, Parallel=None)
Chrom = tamsen(3, np.array([[0, 0], [1, 1], [0, 1]]))
result: Result = moead(lambda X: (X, X[:, :1]), [0, 0], [1, 1], n_weights=4, generations=1)
'''
MISTAKES = {
    "polvane(A, A, 'manhattan')": "arg-type",
    "druvik(A)": "call-arg",
    "tamsen(3.0, A)": "arg-type",
    "fendrik(A, return_count=True) + 1": "operator",
    "moead(lambda X: X, [0], [1], weights=4, T='5')": "arg-type",
}


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_the_type_checker_accepts_what_the_functions_accept(tmp_path):
    (tmp_path / "typed.py").write_text(TYPED + "".join(f"\n{call}" for call in MISTAKES))
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                          "--cache-dir", str(tmp_path / "cache"), "typed.py"],
                         cwd=tmp_path, capture_output=True, text=True, timeout=300)
    first = TYPED.count("\n") + 2        # a blank line, then one mistake a line
    errors = re.findall(r"^typed\.py:(\d+): error: .*\[([a-z-]+)\]$", run.stdout, re.M)
    assert sorted(set(errors)) == [(str(first + k), code) for k, code in
                                   enumerate(MISTAKES.values())], run.stdout


def test_evocore_dask_without_dask_says_what_to_install(python):
    run = python("import sys; sys.modules['dask'] = None; import evocore.dask")
    assert run.returncode == 1
    assert run.stderr.splitlines()[-1] == ("ModuleNotFoundError: evocore.dask needs Dask (dask is "
                                           "missing): pip install 'evocore[dask]'")


def test_the_sites_requirements_are_the_docs_extra():
    tomllib = pytest.importorskip("tomllib")
    extra = tomllib.loads((CHECKOUT / "pyproject.toml").read_text())["project"]["optional-dependencies"]["docs"]
    lines = (CHECKOUT / "docs" / "requirements.txt").read_text().splitlines()
    assert [line for line in lines if line and not line.startswith("#")] == extra


def markdown_files():
    return [CHECKOUT / "README.md", CHECKOUT / "CHANGELOG.md", *sorted(CHECKOUT.glob("docs/*.md"))]


def code_blocks(text, language):
    return re.findall(rf"^```{language}\n(.*?)^```", text, re.M | re.S)


@pytest.mark.skipif(importlib.util.find_spec("markdown_it") is None,
                    reason="markdown-it-py is not installed")
@pytest.mark.parametrize("path", markdown_files(), ids=lambda p: p.name)
def test_every_table_renders_as_a_table(path):
    from markdown_it import MarkdownIt

    text = path.read_text()
    prose = re.sub(r"^```.*?^```", "", text, flags=re.M | re.S)
    rows = [line for line in prose.splitlines()
            if line.startswith("|") and not re.fullmatch(r"[|\s:-]+", line)]
    html = MarkdownIt("commonmark").enable("table").render(text)
    assert html.count("<tr>") == len(rows)


def test_the_examples_of_the_readme_and_the_algorithms_page_run(capsys):
    readme = (CHECKOUT / "README.md").read_text()
    example = re.search(r"\[start:example\].*?```python\n(.*?)```", readme, re.S).group(1)
    page = (CHECKOUT / "docs" / "algorithms.md").read_text()
    assert example.count("\n") < 15
    namespace = {}
    for block in (example, *code_blocks(page, "python")):
        exec(compile(block, "example", "exec"), namespace)
    assert capsys.readouterr().out.startswith("(100, 2) True\n")
    assert namespace["X"].shape == (50, 2) and (namespace["result"].CV <= 0).all()


@pytest.mark.parametrize("page", sorted((CHECKOUT / "docs" / "algorithms").glob("*.md")),
                         ids=lambda p: p.name)
def test_the_examples_of_each_algorithms_page_run(page, capsys):
    blocks = code_blocks(page.read_text(), "python")
    assert blocks
    for block in blocks:
        exec(compile(block, page.name, "exec"), {})
    assert capsys.readouterr().out


@pytest.mark.skipif(importlib.util.find_spec("distributed") is None, reason="Dask is not installed")
def test_the_readmes_dask_example_runs_as_a_script(tmp_path):
    # as a file, whose cluster's worker processes import it again
    readme = (CHECKOUT / "README.md").read_text()
    (tmp_path / "example.py").write_text(re.search(r"\[start:dask\].*?```python\n(.*?)```", readme, re.S).group(1))
    run = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr[-2000:]
    assert (tmp_path / "distances.zarr").is_dir()
