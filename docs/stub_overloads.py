"""A griffe extension for the reference pages: a function that a type stub declares only by
overloads (fendrik) is documented by its first overload, which carries the docstring, with the
others as its overloads.  (A stub has no implementation, and griffe otherwise keeps no object.)"""

import griffe


class StubOverloads(griffe.Extension):
    def on_module_members(self, *, mod: griffe.Module, **kwargs: object) -> None:
        for name, overloads in list(mod.overloads.items()):
            if overloads and name not in mod.members:
                first = overloads[0]
                mod.set_member(name, first)
                first.overloads = overloads[1:]
                del mod.overloads[name]
