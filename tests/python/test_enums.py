"""The seven enums: members and their order, values, equality rules, names and extras."""
import pickle

import pytest

import QuarvelDepthCamera as qdc

MEMBER_NAMES = {  # registration order; values 0, 1, 2, ... unless listed
    "TOFDeviceType": ("VGA HQVGA",),
    "TOFOutput": ("RAW DEPTH CONFIDENCE CACHE", [0, 2, 1, 4]),
    "TOFConnect": ("CSI USB",),
    "TOFControl": ("RANGE FMT_WIDTH FMT_HEIGHT MODE FRAME_MODE EXPOSURE FRAME_RATE SKIP_FRAME "
                   "SKIP_FRAME_LOOP CONFIG_DIR_EXT", [*range(9), 256]),
    "TofWorkMode": ("SINGLE_FREQ DOUBLE_FREQ TRIPLE_FREQ QUAD_FREQ DISTANCE HDR AE BG_OUTDOOR "
                    "GRAY_ONLY CUSTOM1 CUSTOM2 CUSTOM3",),
    "TofFrameWorkMode": (
        "SINGLE_FREQ_2PHASE SINGLE_FREQ_4PHASE SINGLE_FREQ_4PHASE_GRAY SINGLE_FREQ_4PHASE_BG "
        "SINGLE_FREQ_4PHASE_4BG SINGLE_FREQ_4PHASE_GRAY_5BG SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG "
        "SINGLE_FREQ_GRAY_BG_4PHASE_BG SINGLE_FREQ_BG_GRAY_BG_4PHASE SINGLE_FREQ_BG_4PHASE_BG_GRAY "
        "DOUBLE_FREQ_4PHASE DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG DOUBLE_FREQ_4PHASE_4BG "
        "DOUBLE_FREQ_4PHASE_GRAY_5BG TRIPLE_FREQ_4PHASE "
        "TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG QUAD_FREQ_4PHASE "
        "QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG BG_OUTDOOR GRAY_ONLY CUSTOM",),
    "TOFErrorCode": ("QuarvelSuccess QuarvelInvalidParameter QuarvelNoCache QuarvelUnkownDevice "
                     "QuarvelNotImplemented QuarvelSkipFrame QuarvelSystemError "
                     "QuarvelUnkownError", [0, 1, 2, 3, 4, 240, -2, -1]),
}
EXPECTED_MEMBERS = {enum: list(zip(names.split(), values[0] if values else range(99)))
                    for enum, (names, *values) in MEMBER_NAMES.items()}
PLAIN_ENUMS = ["TOFDeviceType", "TOFErrorCode"]
SCOPED_ENUMS = ["TOFOutput", "TOFConnect", "TOFControl", "TofWorkMode", "TofFrameWorkMode"]
ALL_ENUMS = list(EXPECTED_MEMBERS)


@pytest.mark.parametrize("enum_name", ALL_ENUMS)
class TestEachEnum:
    def test_members_in_registration_order_in_attributes_and_docstring(self, enum_name):
        enum = getattr(qdc, enum_name)
        expected = EXPECTED_MEMBERS[enum_name]
        assert [(name, m.value) for name, m in enum.__members__.items()] == expected
        positions = [enum.__doc__.index("  " + name) for name, _ in expected]
        assert positions == sorted(positions)
        # Members are reached through their enum only.
        assert not any(hasattr(qdc, name) for name, _ in expected)

    def test_member_converts_to_its_integer_and_pickles_through_it(self, enum_name):
        enum = getattr(qdc, enum_name)
        for name, value in EXPECTED_MEMBERS[enum_name]:
            member = getattr(enum, name)
            assert int(member) == member.__index__() == member.__getstate__() == value
            assert hash(member) == hash(value)
            assert enum(value) == member
            assert pickle.loads(pickle.dumps(member)) == member

    def test_no_ordering_and_no_bitwise_operators(self, enum_name):
        enum = getattr(qdc, enum_name)
        first, second = (getattr(enum, name) for name, _ in EXPECTED_MEMBERS[enum_name][:2])
        for operation in (lambda: first < second, lambda: first > second,
                          lambda: first <= second, lambda: first | second,
                          lambda: first & second, lambda: ~first):
            with pytest.raises(TypeError):
                operation()


class TestValuesWithoutName:
    @pytest.mark.parametrize("enum,value", [(qdc.TOFOutput, 3), (qdc.TOFErrorCode, 7),
                                            (qdc.TOFControl, -5), (qdc.TOFControl, 9),
                                            (qdc.TOFDeviceType, 2**32 - 1)])
    def test_construction_accepts_any_value_of_the_underlying_type(self, enum, value):
        assert enum(value).value == value
        assert enum(value).name == "???"

    @pytest.mark.parametrize("enum,value", [(qdc.TOFDeviceType, -1), (qdc.TOFDeviceType, 2**32),
                                            (qdc.TOFErrorCode, 2**31),
                                            (qdc.TOFOutput, -2**31 - 1)])
    def test_construction_refuses_values_beyond_the_underlying_type(self, enum, value):
        with pytest.raises(TypeError):
            enum(value)

    def test_str_and_repr_show_the_name_or_question_marks(self):
        assert "AMPLITUDE" not in qdc.TOFOutput.__members__
        assert "AUTO_FRAME_RATE" not in qdc.TOFControl.__members__
        assert (str(qdc.TOFOutput(3)), repr(qdc.TOFOutput(3))) == \
            ("TOFOutput.???", "<TOFOutput.???: 3>")
        assert repr(qdc.TOFControl(9)) == "<TOFControl.???: 9>"
        assert (str(qdc.TOFOutput.DEPTH), repr(qdc.TOFOutput.DEPTH)) == \
            ("TOFOutput.DEPTH", "<TOFOutput.DEPTH: 2>")
        assert repr(qdc.TOFErrorCode.QuarvelSystemError) == "<TOFErrorCode.QuarvelSystemError: -2>"
        # The built-in str() keeps the enum form; the message comes from the .str() method.
        assert str(qdc.TOFErrorCode.QuarvelSkipFrame) == "TOFErrorCode.QuarvelSkipFrame"


class TestEquality:
    def test_plain_enums_equal_plain_ints_but_not_none(self):
        assert qdc.TOFErrorCode.QuarvelSuccess == 0
        assert qdc.TOFErrorCode.QuarvelSkipFrame == 240
        assert qdc.TOFErrorCode.QuarvelSystemError != -1
        assert qdc.TOFDeviceType.HQVGA == 1 and qdc.TOFDeviceType.VGA != 1
        for member in (qdc.TOFErrorCode(0), qdc.TOFDeviceType(0)):
            assert not (member == None) and member != None  # noqa: E711

    @pytest.mark.parametrize("enum_name", SCOPED_ENUMS)
    def test_scoped_enums_equal_only_their_own_members(self, enum_name):
        enum = getattr(qdc, enum_name)
        name, value = EXPECTED_MEMBERS[enum_name][0]
        member = getattr(enum, name)
        assert member == enum(value)
        for other in (value, None, qdc.TOFErrorCode(value)):
            assert not (member == other) and member != other
        assert qdc.TOFControl.RANGE != qdc.TOFConnect.CSI
        assert qdc.TofWorkMode.BG_OUTDOOR != qdc.TofFrameWorkMode.BG_OUTDOOR


class TestExtras:
    def test_work_mode_enums_have_a_second_int_overload(self):
        assert int(qdc.TofWorkMode.HDR) == 5 and int(qdc.TofFrameWorkMode.CUSTOM) == 20
        for enum in (qdc.TofWorkMode, qdc.TofFrameWorkMode):
            doc = enum.__int__.__doc__
            assert "Overloaded function." in doc
            assert "1. __int__(" in doc and "2. __int__(" in doc and "3. __int__(" not in doc
        assert "Overloaded function." not in qdc.TOFControl.__int__.__doc__

    @pytest.mark.parametrize("code,text", [
        (0, "Success"), (1, "Invalid parameter"), (2, "No cache"), (3, "Unkown device"),
        (4, "Not implemented"), (240, "Skip frame"), (-2, "System error"),
        (-1, "Unknown error"), (5, "Unknown error"), (255, "Unknown error"),
        (-3, "Unknown error")])
    def test_error_code_str_method_gives_the_message(self, code, text):
        assert qdc.TOFErrorCode(code).str() == text
