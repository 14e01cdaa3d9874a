"""The benchmark's parts: the data, the subjects, the timed cases, the memory
probe, the growth of delete_node, the targets and the report. `bench/run.py`
puts them together."""
