"""The seven enums: members and their order, values, equality rules, names and extras."""
import pickle

import pytest

import QuarvelDepthCamera as qdc

EXPECTED_MEMBERS = {
    "TOFDeviceType": [("VGA", 0), ("HQVGA", 1)],
    "TOFOutput": [("RAW", 0), ("DEPTH", 2), ("CONFIDENCE", 1), ("CACHE", 4)],
    "TOFConnect": [("CSI", 0), ("USB", 1)],
    "TOFControl": [("RANGE", 0), ("FMT_WIDTH", 1), ("FMT_HEIGHT", 2), ("MODE", 3),
                   ("FRAME_MODE", 4), ("EXPOSURE", 5), ("FRAME_RATE", 6), ("SKIP_FRAME", 7),
                   ("SKIP_FRAME_LOOP", 8), ("CONFIG_DIR_EXT", 256)],
    "TofWorkMode": [("SINGLE_FREQ", 0), ("DOUBLE_FREQ", 1), ("TRIPLE_FREQ", 2),
                    ("QUAD_FREQ", 3), ("DISTANCE", 4), ("HDR", 5), ("AE", 6),
                    ("BG_OUTDOOR", 7), ("GRAY_ONLY", 8), ("CUSTOM1", 9), ("CUSTOM2", 10),
                    ("CUSTOM3", 11)],
    "TofFrameWorkMode": [
        ("SINGLE_FREQ_2PHASE", 0), ("SINGLE_FREQ_4PHASE", 1), ("SINGLE_FREQ_4PHASE_GRAY", 2),
        ("SINGLE_FREQ_4PHASE_BG", 3), ("SINGLE_FREQ_4PHASE_4BG", 4),
        ("SINGLE_FREQ_4PHASE_GRAY_5BG", 5), ("SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG", 6),
        ("SINGLE_FREQ_GRAY_BG_4PHASE_BG", 7), ("SINGLE_FREQ_BG_GRAY_BG_4PHASE", 8),
        ("SINGLE_FREQ_BG_4PHASE_BG_GRAY", 9), ("DOUBLE_FREQ_4PHASE", 10),
        ("DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG", 11), ("DOUBLE_FREQ_4PHASE_4BG", 12),
        ("DOUBLE_FREQ_4PHASE_GRAY_5BG", 13), ("TRIPLE_FREQ_4PHASE", 14),
        ("TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG", 15), ("QUAD_FREQ_4PHASE", 16),
        ("QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG", 17), ("BG_OUTDOOR", 18),
        ("GRAY_ONLY", 19), ("CUSTOM", 20)],
    "TOFErrorCode": [("QuarvelSuccess", 0), ("QuarvelInvalidParameter", 1),
                     ("QuarvelNoCache", 2), ("QuarvelUnkownDevice", 3),
                     ("QuarvelNotImplemented", 4), ("QuarvelSkipFrame", 240),
                     ("QuarvelSystemError", -2), ("QuarvelUnkownError", -1)],
}

PLAIN_ENUMS = ["TOFDeviceType", "TOFErrorCode"]
SCOPED_ENUMS = ["TOFOutput", "TOFConnect", "TOFControl", "TofWorkMode", "TofFrameWorkMode"]


class TestMembers:
    @pytest.mark.parametrize("enum_name", list(EXPECTED_MEMBERS))
    def test_members_come_in_registration_order_with_core_values(self, enum_name):
        enum = getattr(qdc, enum_name)
        members = [(name, member.value) for name, member in enum.__members__.items()]
        assert members == EXPECTED_MEMBERS[enum_name]

    def test_output_member_order_is_not_value_order(self):
        assert list(qdc.TOFOutput.__members__) == ["RAW", "DEPTH", "CONFIDENCE", "CACHE"]

    @pytest.mark.parametrize("enum_name", list(EXPECTED_MEMBERS))
    def test_docstring_lists_members_in_registration_order(self, enum_name):
        doc = getattr(qdc, enum_name).__doc__
        positions = [doc.index("  " + name) for name, _ in EXPECTED_MEMBERS[enum_name]]
        assert positions == sorted(positions)

    def test_amplitude_and_auto_frame_rate_have_no_member(self):
        assert "AMPLITUDE" not in qdc.TOFOutput.__members__
        assert "AUTO_FRAME_RATE" not in qdc.TOFControl.__members__
        assert qdc.TOFOutput(3).name == "???"
        assert qdc.TOFControl(9).value == 9

    def test_members_are_not_exported_into_the_module(self):
        for enum_name, members in EXPECTED_MEMBERS.items():
            for name, _ in members:
                assert not hasattr(qdc, name), name


class TestConversions:
    @pytest.mark.parametrize("enum_name", list(EXPECTED_MEMBERS))
    def test_int_index_value_and_hash_give_the_integer(self, enum_name):
        enum = getattr(qdc, enum_name)
        for name, value in EXPECTED_MEMBERS[enum_name]:
            member = getattr(enum, name)
            assert int(member) == value
            assert member.value == value
            assert member.__index__() == value
            assert hash(member) == hash(value)
            assert enum(value) == member

    def test_construction_accepts_values_without_name(self):
        assert qdc.TOFOutput(3).value == 3
        assert qdc.TOFErrorCode(7).value == 7
        assert qdc.TOFControl(-5).value == -5
        assert qdc.TOFDeviceType(2**32 - 1).value == 2**32 - 1

    def test_device_type_refuses_negative_and_too_large_values(self):
        with pytest.raises(TypeError):
            qdc.TOFDeviceType(-1)
        with pytest.raises(TypeError):
            qdc.TOFDeviceType(2**32)

    def test_signed_enums_refuse_values_beyond_32_bits(self):
        with pytest.raises(TypeError):
            qdc.TOFErrorCode(2**31)
        with pytest.raises(TypeError):
            qdc.TOFOutput(-2**31 - 1)

    def test_unnamed_value_is_shown_with_question_marks(self):
        member = qdc.TOFOutput(3)
        assert member.name == "???"
        assert str(member) == "TOFOutput.???"
        assert repr(member) == "<TOFOutput.???: 3>"

    def test_str_and_repr_forms(self):
        assert str(qdc.TOFOutput.DEPTH) == "TOFOutput.DEPTH"
        assert repr(qdc.TOFOutput.DEPTH) == "<TOFOutput.DEPTH: 2>"
        assert str(qdc.TOFErrorCode.QuarvelSystemError) == "TOFErrorCode.QuarvelSystemError"
        assert repr(qdc.TOFErrorCode.QuarvelSystemError) == \
            "<TOFErrorCode.QuarvelSystemError: -2>"

    @pytest.mark.parametrize("enum_name", list(EXPECTED_MEMBERS))
    def test_pickling_round_trips_through_the_integer(self, enum_name):
        enum = getattr(qdc, enum_name)
        for name, value in EXPECTED_MEMBERS[enum_name]:
            member = getattr(enum, name)
            assert member.__getstate__() == value
            assert pickle.loads(pickle.dumps(member)) == member

    def test_work_mode_enums_have_a_second_int_overload(self):
        assert int(qdc.TofWorkMode.HDR) == qdc.TofWorkMode.HDR.value == 5
        assert int(qdc.TofFrameWorkMode.CUSTOM) == 20
        for enum in (qdc.TofWorkMode, qdc.TofFrameWorkMode):
            doc = enum.__int__.__doc__
            assert "Overloaded function." in doc
            assert "1. __int__(" in doc and "2. __int__(" in doc
            assert "3. __int__(" not in doc
        # The other enums keep the single __int__ of pybind11's enum.
        assert "Overloaded function." not in qdc.TOFControl.__int__.__doc__


class TestEquality:
    def test_error_code_equals_plain_int(self):
        assert qdc.TOFErrorCode.QuarvelSuccess == 0
        assert qdc.TOFErrorCode.QuarvelSkipFrame == 240
        assert qdc.TOFErrorCode.QuarvelSystemError != -1
        assert qdc.TOFDeviceType.HQVGA == 1
        assert qdc.TOFDeviceType.VGA != 1

    @pytest.mark.parametrize("enum_name", PLAIN_ENUMS)
    def test_plain_enums_are_unequal_to_none(self, enum_name):
        member = getattr(qdc, enum_name)(0)
        assert not (member == None)  # noqa: E711 - the comparison itself is under test
        assert member != None  # noqa: E711

    @pytest.mark.parametrize("enum_name", SCOPED_ENUMS)
    def test_scoped_enums_equal_only_their_own_members(self, enum_name):
        enum = getattr(qdc, enum_name)
        name, value = EXPECTED_MEMBERS[enum_name][0]
        member = getattr(enum, name)
        assert member == enum(value)
        assert not (member == value)
        assert member != value
        assert not (member == None)  # noqa: E711
        assert member != None  # noqa: E711
        other = qdc.TOFErrorCode(value)
        assert not (member == other)
        assert member != other

    def test_scoped_enums_of_different_types_with_equal_values_differ(self):
        assert qdc.TOFControl.RANGE != qdc.TOFConnect.CSI
        assert qdc.TofWorkMode.BG_OUTDOOR != qdc.TofFrameWorkMode.BG_OUTDOOR
        assert qdc.TOFControl.RANGE != 0

    def test_output_built_from_value_equals_member(self):
        assert qdc.TOFOutput(qdc.TOFOutput.DEPTH.value) == qdc.TOFOutput.DEPTH

    @pytest.mark.parametrize("enum_name", PLAIN_ENUMS + SCOPED_ENUMS)
    def test_no_ordering_and_no_bitwise_operators(self, enum_name):
        enum = getattr(qdc, enum_name)
        first = getattr(enum, EXPECTED_MEMBERS[enum_name][0][0])
        second = getattr(enum, EXPECTED_MEMBERS[enum_name][1][0])
        for operation in (lambda: first < second, lambda: first > second,
                          lambda: first <= second, lambda: first | second,
                          lambda: first & second, lambda: ~first):
            with pytest.raises(TypeError):
                operation()


class TestErrorCodeText:
    @pytest.mark.parametrize("name,text", [
        ("QuarvelSuccess", "Success"), ("QuarvelInvalidParameter", "Invalid parameter"),
        ("QuarvelNoCache", "No cache"), ("QuarvelUnkownDevice", "Unkown device"),
        ("QuarvelNotImplemented", "Not implemented"), ("QuarvelSkipFrame", "Skip frame"),
        ("QuarvelSystemError", "System error"), ("QuarvelUnkownError", "Unknown error")])
    def test_str_method_gives_the_code_message(self, name, text):
        assert getattr(qdc.TOFErrorCode, name).str() == text

    @pytest.mark.parametrize("value", [5, 7, 255, -3])
    def test_codes_without_name_are_unknown_errors(self, value):
        assert qdc.TOFErrorCode(value).str() == "Unknown error"

    def test_builtin_str_keeps_the_enum_form(self):
        assert str(qdc.TOFErrorCode.QuarvelSkipFrame) == "TOFErrorCode.QuarvelSkipFrame"
        assert isinstance(qdc.TOFErrorCode.QuarvelSkipFrame.str(), str)
