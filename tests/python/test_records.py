"""QuarvelFormat and QuarvelInfo: no constructor, typed read-write properties, own copies."""
import pytest

import QuarvelDepthCamera as qdc

U32_MAX = 2**32 - 1
U64_MAX = 2**64 - 1


class Index:
    """Not an int, but usable as one."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.fixture
def info(camera):
    return camera.getCameraInfo()


class TestConstruction:
    @pytest.mark.parametrize("name", ["QuarvelFormat", "QuarvelInfo"])
    def test_records_cannot_be_constructed(self, name):
        with pytest.raises(TypeError, match=r": No constructor defined!$"):
            getattr(qdc, name)()

    def test_info_of_a_new_camera_is_all_zero(self, info):
        assert isinstance(info, qdc.QuarvelInfo)
        assert (info.index, info.width, info.height, info.bit_width, info.bpp) == (0, 0, 0, 0, 0)
        assert info.connect == qdc.TOFConnect.CSI
        assert info.device_type == qdc.TOFDeviceType.VGA
        assert info.type == qdc.TOFOutput.RAW

    def test_properties_in_registration_order(self):
        def properties(cls):
            return [name for name, value in vars(cls).items() if isinstance(value, property)]
        assert properties(qdc.QuarvelFormat) == ["width", "height", "timestamp", "type"]
        assert properties(qdc.QuarvelInfo) == [
            "index", "connect", "device_type", "type", "width", "height", "bit_width", "bpp"]


class TestUnsignedProperties:
    @pytest.mark.parametrize("name", ["index", "width", "height", "bit_width", "bpp"])
    def test_32_bit_fields_take_their_whole_range(self, info, name):
        setattr(info, name, U32_MAX)
        assert getattr(info, name) == U32_MAX
        setattr(info, name, Index(7))
        assert getattr(info, name) == 7

    @pytest.mark.parametrize("name", ["index", "width", "height", "bit_width", "bpp"])
    @pytest.mark.parametrize("bad", [-1, U32_MAX + 1, 1.5, "3", None])
    def test_32_bit_fields_refuse_and_keep_their_value(self, info, name, bad):
        setattr(info, name, 42)
        with pytest.raises(TypeError):
            setattr(info, name, bad)
        assert getattr(info, name) == 42


class TestFormatRecord:
    """A QuarvelFormat only comes from a frame: these take one from the simulated camera."""

    def test_timestamp_takes_64_bits_and_refuses_beyond(self, frame_format):
        frame_format.timestamp = U64_MAX
        assert frame_format.timestamp == U64_MAX
        for bad in (U64_MAX + 1, -1, 2.0):
            with pytest.raises(TypeError):
                frame_format.timestamp = bad
            assert frame_format.timestamp == U64_MAX

    def test_width_refuses_a_float(self, frame_format):
        frame_format.width = 17
        with pytest.raises(TypeError):
            frame_format.width = 1.5
        assert frame_format.width == 17

    def test_type_takes_only_output_members(self, frame_format):
        frame_format.type = qdc.TOFOutput.CACHE
        assert frame_format.type == qdc.TOFOutput.CACHE
        for bad in (2, qdc.TOFConnect.USB, None):
            with pytest.raises(TypeError):
                frame_format.type = bad
        assert frame_format.type == qdc.TOFOutput.CACHE


class TestEnumProperties:
    def test_enum_fields_take_only_their_own_members(self, info):
        info.connect = qdc.TOFConnect.USB
        info.device_type = qdc.TOFDeviceType.HQVGA
        info.type = qdc.TOFOutput.DEPTH
        for name, bad in (("connect", 1), ("connect", qdc.TOFOutput.RAW),
                          ("device_type", 1), ("device_type", qdc.TOFConnect.USB),
                          ("type", qdc.TOFControl.RANGE), ("type", 2)):
            with pytest.raises(TypeError):
                setattr(info, name, bad)
        assert info.connect == qdc.TOFConnect.USB
        assert info.device_type == qdc.TOFDeviceType.HQVGA
        assert info.type == qdc.TOFOutput.DEPTH

    def test_unnamed_values_are_kept(self, info):
        info.type = qdc.TOFOutput(3)
        assert info.type.value == 3


class TestCopies:
    def test_each_info_is_an_independent_copy(self, camera):
        first = camera.getCameraInfo()
        first.width = 99
        first.connect = qdc.TOFConnect.USB
        second = camera.getCameraInfo()
        assert second.width == 0
        assert second.connect == qdc.TOFConnect.CSI
        assert first is not second
