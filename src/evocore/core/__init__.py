"""The compiled operator modules of evocore, one function each."""
