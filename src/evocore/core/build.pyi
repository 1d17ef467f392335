def build() -> None:
    """The version key of the core: does nothing and returns ``None``.  Its module
    ``evocore.core.build`` imports without NumPy.

    Raises:
        TypeError: any argument.

    Examples:
        >>> build() is None
        True
    """
