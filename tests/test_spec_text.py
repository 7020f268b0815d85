"""The constructor's spec reading road: the stripped text is read in document
order with duplicate-field checks, and every reading error carries the
position where the reader stood. Inputs have no white space at either end,
so they do not depend on the stripping done before reading."""

import pytest

from tavrin_ovra import Ovra

# Expected outcome per input: the exact ValueError text, or None for a spec
# that reads and validates.

DOCUMENT = [
    ('inner_blank', '{ }', 'parse: missing field `dataset_ref` at line 1 column 3'),
    ('null', 'null', 'parse: invalid type: null, expected struct OvraSpec at line 1 column 4'),
    ('integer', '5', 'parse: invalid type: integer `5`, expected struct OvraSpec at line 1 column 1'),
    ('string', '"{}"', 'parse: invalid type: string "{}", expected struct OvraSpec at line 1 column 4'),
    ('not_a_value', 'x', 'parse: expected value at line 1 column 1'),
    ('cut_ident', 'nul', 'parse: EOF while parsing a value at line 1 column 3'),
    ('second_document', '{}{}', 'parse: missing field `dataset_ref` at line 1 column 2'),
    ('trailing_letter', '{"dataset_ref":"d","symbol":"S","panels":[["footprint"]]} x', 'parse: trailing characters at line 1 column 59'),
    ('trailing_after_array', '["d","S",null,null,[["footprint"]]]]', 'parse: trailing characters at line 1 column 36'),
    ('sixth_element', '["d","S",null,null,[["footprint"]],"extra"]', 'parse: trailing characters at line 1 column 36'),
    ('sixth_element_next_line', '["d","S",null,null,[["footprint"]],\n  7]', 'parse: trailing characters at line 2 column 3'),
    ('trailing_comma_after_fifth', '["d","S",null,null,[["footprint"]],]', 'parse: trailing comma at line 1 column 36'),
    ('eof_after_fifth', '["d","S",null,null,[["footprint"]]', 'parse: EOF while parsing a list at line 1 column 34'),
    ('no_comma_after_fifth', '["d","S",null,null,[["footprint"]] 5]', 'parse: trailing characters at line 1 column 36'),
]

ARRAY_LENGTHS = [
    ('length_0', '[]', 'parse: invalid length 0, expected struct OvraSpec with 5 elements at line 1 column 2'),
    ('length_0_blank', '[ ]', 'parse: invalid length 0, expected struct OvraSpec with 5 elements at line 1 column 3'),
    ('length_1', '["d"]', 'parse: invalid length 1, expected struct OvraSpec with 5 elements at line 1 column 5'),
    ('length_2', '["d","S"]', 'parse: invalid length 4, expected struct OvraSpec with 5 elements at line 1 column 9'),
    ('length_3', '["d","S",1]', 'parse: invalid length 4, expected struct OvraSpec with 5 elements at line 1 column 11'),
    ('length_4', '["d","S",1,2]', 'parse: invalid length 4, expected struct OvraSpec with 5 elements at line 1 column 13'),
    ('length_5_reads', '["d","S",null,null,[]]', 'bad spec: panels must not be empty'),
]

MEMBER_TYPES = [
    ('dataset_ref_integer', '{"dataset_ref":5,"symbol":"S","panels":[]}', 'parse: invalid type: integer `5`, expected a string at line 1 column 16'),
    ('symbol_null', '{"dataset_ref":"d","symbol":null,"panels":[]}', 'parse: invalid type: null, expected a string at line 1 column 32'),
    ('symbol_array_before_bracket', '{"dataset_ref":"d","symbol": [1,2],"panels":[]}', 'parse: invalid type: sequence, expected a string at line 1 column 29'),
    ('symbol_object_garbage_unread', '{"dataset_ref":"d","symbol":{garbage', 'parse: invalid type: map, expected a string at line 1 column 28'),
    ('symbol_escaped_string_quoted', '{"dataset_ref":"d","symbol":"S","from_ts":"a\\"b\\\\c\\n\\u0001\\u00e9"}', 'parse: invalid type: string "a\\"b\\\\c\\n\\u{1}é", expected i64 at line 1 column 65'),
    ('from_ts_float', '{"dataset_ref":"d","symbol":"S","from_ts":1.0,"panels":[]}', 'parse: invalid type: floating point `1.0`, expected i64 at line 1 column 45'),
    ('from_ts_exponent', '{"dataset_ref":"d","symbol":"S","from_ts":1e20,"panels":[]}', 'parse: invalid type: floating point `1e+20`, expected i64 at line 1 column 46'),
    ('from_ts_negative_zero', '{"dataset_ref":"d","symbol":"S","from_ts":-0,"panels":[]}', 'parse: invalid type: floating point `-0.0`, expected i64 at line 1 column 44'),
    ('from_ts_above_i64', '{"dataset_ref":"d","symbol":"S","from_ts":9223372036854775808,"panels":[]}', 'parse: invalid value: integer `9223372036854775808`, expected i64 at line 1 column 61'),
    ('from_ts_above_u64', '{"dataset_ref":"d","symbol":"S","from_ts":18446744073709551616,"panels":[]}', 'parse: invalid type: floating point `1.8446744073709552e+19`, expected i64 at line 1 column 62'),
    ('from_ts_below_i64', '{"dataset_ref":"d","symbol":"S","from_ts":-9223372036854775809,"panels":[]}', 'parse: invalid type: floating point `-9.223372036854776e+18`, expected i64 at line 1 column 62'),
    ('to_ts_boolean', '{"dataset_ref":"d","symbol":"S","to_ts":true,"panels":[]}', 'parse: invalid type: boolean `true`, expected i64 at line 1 column 44'),
    ('to_ts_out_of_range', '{"dataset_ref":"d","symbol":"S","to_ts":1e400,"panels":[]}', 'parse: number out of range at line 1 column 45'),
    ('panels_map', '{"dataset_ref":"d","symbol":"S","panels":{"kind":"footprint"}}', 'parse: invalid type: map, expected a sequence at line 1 column 41'),
    ('panels_string', '{"dataset_ref":"d","symbol":"S","panels":"footprint"}', 'parse: invalid type: string "footprint", expected a sequence at line 1 column 52'),
    ('window_null_reads', '{"dataset_ref":"d","symbol":"S","from_ts":null,"to_ts":null,"panels":[["footprint"]]}', None),
    ('i64_bounds_read', '{"dataset_ref":"d","symbol":"S","from_ts":-9223372036854775808,"to_ts":9223372036854775807,"panels":[["footprint"]]}', None),
    ('first_in_text_wins', '{"dataset_ref":"d","symbol":5,"from_ts":"x","panels":[]}', 'parse: invalid type: integer `5`, expected a string at line 1 column 29'),
    ('first_in_text_wins_reversed', '{"from_ts":"x","dataset_ref":"d","symbol":5,"panels":[]}', 'parse: invalid type: string "x", expected i64 at line 1 column 14'),
    ('missing_symbol', '{"dataset_ref":"d","panels":[]}', 'parse: missing field `symbol` at line 1 column 31'),
    ('missing_panels', '{"symbol":"S","dataset_ref":"d"}', 'parse: missing field `panels` at line 1 column 32'),
    ('missing_order', '{"panels":[]}', 'parse: missing field `dataset_ref` at line 1 column 13'),
]

DUPLICATES = [
    ('dataset_ref', '{"dataset_ref":"d","dataset_ref":"e","symbol":"S","panels":[]}', 'parse: duplicate field `dataset_ref` at line 1 column 32'),
    ('symbol_blank_before_colon', '{"symbol":"S","symbol"  :"T"}', 'parse: duplicate field `symbol` at line 1 column 24'),
    ('from_ts_null_twice', '{"dataset_ref":"d","symbol":"S","from_ts":null,"from_ts":null,"panels":[]}', 'parse: duplicate field `from_ts` at line 1 column 56'),
    ('to_ts', '{"dataset_ref":"d","symbol":"S","to_ts":1,"to_ts":2,"panels":[]}', 'parse: duplicate field `to_ts` at line 1 column 49'),
    ('panels', '{"dataset_ref":"d","symbol":"S","panels":[],"panels":[]}', 'parse: duplicate field `panels` at line 1 column 52'),
    ('unknown_key_repeats', '{"dataset_ref":"d","symbol":"S","x":1,"x":[{}],"panels":[["footprint"]],"x":null}', None),
    ('kind', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","kind":"footprint"}]}', 'parse: duplicate field `kind` at line 1 column 68'),
    ('price_bin', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","price_bin":1,"price_bin":2}]}', 'parse: duplicate field `price_bin` at line 1 column 91'),
    ('bucket_ms_before_kind', '{"dataset_ref":"d","symbol":"S","panels":[{"bucket_ms":1,"bucket_ms":2,"kind":"funding_oi_divergence"}]}', 'parse: duplicate field `bucket_ms` at line 1 column 103'),
    ('depth_levels', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"book_heatmap","depth_levels":1,"depth_levels":2}]}', 'parse: duplicate field `depth_levels` at line 1 column 100'),
    ('foreign_field_repeats', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"liquidation_map","bucket_ms":1,"bucket_ms":2,"depth_levels":1,"depth_levels":2}]}', None),
]

PANELS = [
    ('not_a_panel', '{"dataset_ref":"d","symbol":"S","panels":[5]}', 'parse: invalid type: integer `5`, expected internally tagged enum OvraPanel at line 1 column 43'),
    ('null_panel', '{"dataset_ref":"d","symbol":"S","panels":[null]}', 'parse: invalid type: null, expected internally tagged enum OvraPanel at line 1 column 46'),
    ('missing_kind', '{"dataset_ref":"d","symbol":"S","panels":[{"price_bin":1}]}', 'parse: missing field `kind` at line 1 column 57'),
    ('empty_object', '{"dataset_ref":"d","symbol":"S","panels":[{}]}', 'parse: missing field `kind` at line 1 column 44'),
    ('empty_array', '{"dataset_ref":"d","symbol":"S","panels":[[]]}', 'parse: missing field `kind` at line 1 column 44'),
    ('kind_integer', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":1}]}', 'parse: invalid type: integer `1`, expected variant identifier at line 1 column 51'),
    ('kind_array', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":["footprint"]}]}', 'parse: invalid type: sequence, expected variant identifier at line 1 column 50'),
    ('kind_capitalised', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"Footprint"}]}', 'parse: unknown variant `Footprint`, expected one of `footprint`, `book_heatmap`, `liquidation_map`, `funding_oi_divergence` at line 1 column 61'),
    ('kind_first_element_null', '{"dataset_ref":"d","symbol":"S","panels":[[null]]}', 'parse: invalid type: null, expected variant identifier at line 1 column 47'),
    ('kind_unknown_in_array', '{"dataset_ref":"d","symbol":"S","panels":[["heatmap",1]]}', 'parse: unknown variant `heatmap`, expected one of `footprint`, `book_heatmap`, `liquidation_map`, `funding_oi_divergence` at line 1 column 52'),
    ('kind_escaped', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"\\u0066ootprint","price_bin":0}]}', 'bad spec: footprint price_bin must be a positive number'),
    ('kind_last', '{"dataset_ref":"d","symbol":"S","panels":[{"price_bin":0,"bucket_ms":"x","kind":"liquidation_map"}]}', 'bad spec: liquidation_map price_bin must be a positive number'),
    ('field_type_after_list', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","price_bin":"x"}]}', 'parse: invalid type: string "x", expected f64 at line 1 column 79'),
    ('field_type_before_next_panel', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","price_bin":"x"}, {"kind":"footprint"}]}', 'parse: invalid type: string "x", expected f64 at line 1 column 80'),
    ('field_type_line_2_column_0', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","bucket_ms":1.5},\n{"kind":"footprint"}]}', 'parse: invalid type: floating point `1.5`, expected i64 at line 2 column 0'),
    ('field_null', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","price_bin":null}]}', 'parse: invalid type: null, expected f64 at line 1 column 80'),
    ('field_order_in_document', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"book_heatmap","depth_levels":-1,"price_bin":"x"}]}', 'parse: invalid value: integer `-1`, expected u32 at line 1 column 100'),
    ('depth_levels_negative', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"book_heatmap","depth_levels":-1}]}', 'parse: invalid value: integer `-1`, expected u32 at line 1 column 84'),
    ('depth_levels_above_u32', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"book_heatmap","depth_levels":4294967296}]}', 'parse: invalid value: integer `4294967296`, expected u32 at line 1 column 92'),
    ('depth_levels_float', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"book_heatmap","depth_levels":40.0}]}', 'parse: invalid type: floating point `40.0`, expected u32 at line 1 column 86'),
    ('depth_levels_map', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"book_heatmap","depth_levels":{}}]}', 'parse: invalid type: map, expected u32 at line 1 column 84'),
    ('bucket_ms_above_i64', '{"dataset_ref":"d","symbol":"S","panels":[["funding_oi_divergence",9223372036854775808]]}', 'parse: invalid value: integer `9223372036854775808`, expected i64 at line 1 column 88'),
    ('array_too_long_one', '{"dataset_ref":"d","symbol":"S","panels":[["liquidation_map",1,2]]}', 'parse: invalid length 2, expected 1 element in sequence at line 1 column 66'),
    ('array_too_long_many', '{"dataset_ref":"d","symbol":"S","panels":[["book_heatmap",1,2,3,4,5]]}', 'parse: invalid length 5, expected 3 elements in sequence at line 1 column 69'),
    ('array_field_before_length', '{"dataset_ref":"d","symbol":"S","panels":[["footprint","x",2,3]]}', 'parse: invalid type: string "x", expected f64 at line 1 column 64'),
    ('array_fields_in_order', '{"dataset_ref":"d","symbol":"S","panels":[["book_heatmap",0.5,0,0]]}', 'bad spec: book_heatmap bucket_ms must be > 0'),
    ('array_depth_read', '{"dataset_ref":"d","symbol":"S","panels":[["book_heatmap",0.5,1,0]]}', 'bad spec: book_heatmap depth_levels must be > 0'),
    ('array_defaults', '{"dataset_ref":"d","symbol":"S","panels":[["footprint"]]}', None),
    ('zero_price_bin', '{"dataset_ref":"d","symbol":"S","panels":[["footprint",0]]}', 'bad spec: footprint price_bin must be a positive number'),
    ('second_panel_bad', '{"dataset_ref":"d","symbol":"S","panels":[["footprint"],["liquidation_map",-1]]}', 'bad spec: liquidation_map price_bin must be a positive number'),
]

SKIPPED_AND_HELD = [
    ('lone_surrogate_skipped', '{"dataset_ref":"d","symbol":"S","x":"\\ud800","panels":[["footprint"]]}', None),
    ('out_of_range_skipped', '{"dataset_ref":"d","symbol":"S","x":[1e400],"panels":[["footprint"]]}', None),
    ('cut_number_skipped', '{"dataset_ref":"d","symbol":"S","x":-', 'parse: invalid number at line 1 column 37'),
    ('cut_number_parsed', '{"dataset_ref":"d","symbol":"S","from_ts":-', 'parse: EOF while parsing a value at line 1 column 43'),
    ('trailing_comma_skipped', '{"dataset_ref":"d","symbol":"S","x":[1,],"panels":[]}', 'parse: expected value at line 1 column 40'),
    ('trailing_comma_skipped_object', '{"dataset_ref":"d","symbol":"S","x":{"a":1,},"panels":[]}', 'parse: key must be a string at line 1 column 44'),
    ('control_in_skipped_string', '{"dataset_ref":"d","symbol":"S","x":"a\tb"}', 'parse: control character (\\u0000-\\u001F) found while parsing a string at line 1 column 38'),
    ('control_in_parsed_string', '{"dataset_ref":"a\tb"}', 'parse: control character (\\u0000-\\u001F) found while parsing a string at line 1 column 18'),
    ('lone_surrogate_held', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","x":"\\ud800"}]}', 'parse: unexpected end of hex escape at line 1 column 74'),
    ('out_of_range_held', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","x":1e400}]}', 'parse: number out of range at line 1 column 71'),
    ('out_of_range_held_in_array', '{"dataset_ref":"d","symbol":"S","panels":[["footprint",1,2,[1e400]]]}', 'parse: number out of range at line 1 column 65'),
    ('depth_127_skipped', '{"dataset_ref":"d","symbol":"S","x":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]],"panels":[["footprint"]]}', None),
    ('depth_128_skipped', '{"dataset_ref":"d","symbol":"S","x":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]],"panels":[["footprint"]]}', 'parse: recursion limit exceeded at line 1 column 163'),
    ('depth_128_held', '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","x":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]}]}', 'parse: recursion limit exceeded at line 1 column 191'),
    ('nested_spec_array_not_read', '[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[', 'parse: invalid type: sequence, expected a string at line 1 column 1'),
]

POSITIONS = [
    ('multibyte_symbol', '{"dataset_ref":"é€😀","symbol":7}', 'parse: invalid type: integer `7`, expected a string at line 1 column 37'),
    ('multiline_member', '{\n  "dataset_ref": "d",\n  "symbol": "S",\n  "from_ts": "x"\n}', 'parse: invalid type: string "x", expected i64 at line 4 column 16'),
    ('missing_at_close_next_line', '{"dataset_ref":"d",\n"symbol":"S"\n}', 'parse: missing field `panels` at line 3 column 1'),
    ('crlf', '{"dataset_ref":"d",\r\n"symbol":true}', 'parse: invalid type: boolean `true`, expected a string at line 2 column 13'),
]

GROUPS = {
    "document": DOCUMENT,
    "array_lengths": ARRAY_LENGTHS,
    "member_types": MEMBER_TYPES,
    "duplicates": DUPLICATES,
    "panels": PANELS,
    "skipped_and_held": SKIPPED_AND_HELD,
    "positions": POSITIONS,
}


def _table(group):
    return [pytest.param(text, expected, id=name) for name, text, expected in GROUPS[group]]


def outcome(text):
    try:
        Ovra(text)
    except ValueError as error:
        return str(error)
    return None


@pytest.mark.parametrize("text, expected", _table("document"))
def test_document_shape_and_trailing_text(text, expected):
    assert outcome(text) == expected


@pytest.mark.parametrize("text, expected", _table("array_lengths"))
def test_array_form_lengths(text, expected):
    assert outcome(text) == expected


@pytest.mark.parametrize("text, expected", _table("member_types"))
def test_member_types(text, expected):
    assert outcome(text) == expected


@pytest.mark.parametrize("text, expected", _table("duplicates"))
def test_duplicate_fields(text, expected):
    assert outcome(text) == expected


@pytest.mark.parametrize("text, expected", _table("panels"))
def test_panels(text, expected):
    assert outcome(text) == expected


@pytest.mark.parametrize("text, expected", _table("skipped_and_held"))
def test_skipped_and_held_values(text, expected):
    assert outcome(text) == expected


@pytest.mark.parametrize("text, expected", _table("positions"))
def test_positions(text, expected):
    assert outcome(text) == expected


def test_caret_positions():
    # a wrong scalar is reported after its last byte
    # {"dataset_ref":"d","symbol":12345}
    #                                 ^ column 33
    assert outcome('{"dataset_ref":"d","symbol":12345}') == (
        "parse: invalid type: integer `12345`, expected a string at line 1 column 33")
    # a wrong array at the byte before its bracket
    # {"dataset_ref":"d","symbol":  [}
    #                              ^ column 30
    assert outcome('{"dataset_ref":"d","symbol":  [}') == (
        "parse: invalid type: sequence, expected a string at line 1 column 30")
    # a panel field error waits for the panel list: after the `,` and the
    # blanks that follow the bad panel
    # {"dataset_ref":"d","symbol":"S","panels":[["footprint","x"],   ["footprint"]]}
    #                                                               ^ column 63
    assert outcome('{"dataset_ref":"d","symbol":"S","panels":[["footprint","x"],   ["footprint"]]}') == (
        'parse: invalid type: string "x", expected f64 at line 1 column 63')


def test_document_order_differs_from_key_order_of_set_spec():
    text = '{"dataset_ref":"d","symbol":5,"from_ts":"x","panels":[]}'
    assert outcome(text) == "parse: invalid type: integer `5`, expected a string at line 1 column 29"
    # the parsed command keeps keys in byte order, so "from_ts" is met first there
    response = Ovra("").command('{"cmd":"set_spec","spec":%s}' % text)
    assert response == '{"ok":false,"error":"parse: invalid type: string \\"x\\", expected i64"}'


@pytest.mark.parametrize(
    "cut",
    range(1, len('{"dataset_ref":"d","symbol":"S","panels":[["footprint",1]]}')),
)
def test_every_truncation_fails_with_a_position(cut):
    text = '{"dataset_ref":"d","symbol":"S","panels":[["footprint",1]]}'[:cut]
    if text == "{}":
        return
    message = outcome(text)
    assert message is not None and message.startswith("parse: ")
    assert " at line 1 column " in message
