"""The batch benchmark's plain-dict diff (bench/batch_plain.py) does the same
work as the module: after any sequence of changes it lists the same content,
so that the benchmark compares like with like."""

from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import examples, f32, load_source
from tovra_api import PyGraphDiff


PLAIN = load_source("bench/batch_plain.py")
IDS = [bytes([n]) * 16 for n in range(4)]  # a small pool, so that changes meet
node = st.sampled_from(IDS)
update = st.fixed_dictionaries({}, optional={"label": st.sampled_from(["a", "b"]), "red": st.integers(0, 255),
                                             "show_label": st.booleans()})
change = st.one_of(
    st.tuples(st.just("add_node"), node, update),
    st.tuples(st.just("delete_node"), node),
    st.tuples(st.just("add_edge"), node, node, st.floats(-2, 2).map(f32)),
    st.tuples(st.just("delete_edge"), node, node),
)


@settings(max_examples=examples(300), deadline=None)
@given(st.lists(change, max_size=40))
def test_plain_dicts_list_what_the_module_lists(changes):
    module, plain = PyGraphDiff(), PLAIN.PlainDiff()
    for name, *args in changes:
        getattr(module, name)(*args)
        getattr(plain, name)(*args)
    listed = (module.new_or_updated_nodes(), sorted(module.deleted_nodes()), module.new_or_updated_edges(),
              {s: sorted(ts) for s, ts in module.deleted_edges().items()})
    assert PLAIN.as_text(plain.listings()) == listed
    # And through its own serialisation, as the benchmark reads it back.
    assert PLAIN.as_text(PLAIN.PlainDiff.from_state(*plain.state()).listings()) == listed
