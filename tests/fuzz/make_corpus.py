#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/TARGET/. Each seed is a
realistic case in the input layout its target describes at the top of its source."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def i16(n):
    return struct.pack("<h", n)


def i32(n):
    return struct.pack("<i", n)


def receive(newline=1, enter=1, reverse=1, fixed=None, decimals=0, bits=8, prebits=0,
            other=b"=", cuts=(), stream=b""):
    """fixed: (frame length, which enabled separator, repeats)."""
    flags = newline | enter << 1 | reverse << 2 | (fixed is not None) << 3 | len(other) << 4
    out = bytes([flags]) + i16(decimals) + i16(bits) + i16(prebits) + other
    out += bytes([len(cuts)]) + bytes(cuts)
    if fixed is not None:
        length, chosen, repeats = fixed
        out += bytes([length - 1, chosen, repeats - 1])
    return out + stream


def reversed_frames(*displays):
    return b"".join(d[::-1].encode() for d in displays)


RECEIVE = {
    # The default stream, cut inside frames.
    "default_cut": receive(cuts=(5, 9, 1), stream=b"=05.21000=05.21000=05.2"),
    # Whole frames with implied decimals, whole against cut.
    "fixed_decimals": receive(fixed=(8, 2, 4), decimals=2, cuts=(7, 3),
                              stream=reversed_frames("00001250", "-0012.50", "00.0000-", "0000012O")),
    # CR LF after frames in display order.
    "crlf_display_order": receive(newline=0, enter=0, reverse=0, other=b"\r\n", cuts=(1, 4),
                                  stream=b"00012.50\r\n00013.00\r\n-0012.50\r\n0001"),
    # Line feed only; values that show in exponent form.
    "lf_exponent": receive(enter=0, other=b"", fixed=(8, 0, 2), decimals=9, cuts=(3,),
                           stream=reversed_frames("00001250", "1.25E+15", "00000001")),
    # Values multiplied by a negative decimals.
    "negative_decimals": receive(fixed=(8, 2, 1), decimals=-12, cuts=(10,),
                                 stream=reversed_frames("99999999", "1.5E+300", "-0000001")),
    # A frame that does not decode (beyond the double range) among good ones, long enough that
    # the 4096-character buffer is filled behind it.
    "undecodable_frame": receive(newline=0, enter=0, fixed=(8, 0, 16), cuts=(9,),
                                 stream=reversed_frames("00012.50", "1E999999", "00013.50",
                                                        "00014.50", "00015.50", "00016.50",
                                                        "00017.50", "00018.50", "00019.50",
                                                        "00020.50", "00021.50", "00022.50",
                                                        "00023.50", "00024.50", "00025.50",
                                                        "00026.50", "00027.50", "00028.50",
                                                        "00029.50", "00030.50", "00031.50",
                                                        "00032.50", "00033.50", "00034.50",
                                                        "00035.50", "00036.50", "00037.50",
                                                        "00038.50", "00039.50", "00040.50")),
    # decimals so large that no numeric frame can be scaled.
    "decimals_overflow": receive(decimals=400, cuts=(2,),
                                 stream=b"=05.21000=05.21O00=05.21000="),
    # A two-character separator, cut between its characters.
    "two_char_separator": receive(newline=0, enter=0, other=b"ab", fixed=(6, 0, 3), cuts=(4, 1),
                                  stream=reversed_frames("0012.5", "0013.5", "-001.5")),
    # The minimum length overflows 16 bits: no pass can run.
    "minimum_overflow": receive(bits=32767, prebits=1, cuts=(3,), stream=b"=05.21000=05.21000"),
    # Every piece a frame, the empty ones too.
    "minimum_zero": receive(bits=0, cuts=(1,), stream=b"==5=\r\n=05.2"),
}


def call_dispid(index, args=()):
    return bytes([0, index]) + arguments(args)


def call_name(name, args=(), mask=None):
    if mask is None:
        return bytes([2, 128, len(name)]) + name.encode() + arguments(args)
    return bytes([2, NAMES.index(name)]) + i32(mask) + arguments(args)


def arguments(args):
    out = bytes([len(args)])
    for a in args:
        if a is None:
            out += bytes([0])
        elif isinstance(a, int):
            out += bytes([1]) + i16(a)
        else:
            out += bytes([2, len(a)]) + a.encode()
    return out


def receive_event(chunk):
    return bytes([4, len(chunk)]) + chunk


NAMES = ["getLocalHostName", "GetLocalIPAddress", "getLocalMacAddress", "setWinFontSize",
         "setWinWidth", "setWinHeight", "RndStart", "RndEnd", "setDecimals", "setEloadPrebits",
         "setEloadbits", "setBufferLength", "setNewLineSepChar", "setEnterkeySepChar",
         "setOtherSepChar", "setIsReservChar", "setPortNum", "setBandRate", "setDataBit",
         "setParity", "setStopBit", "getTolvakValue", "getDebugInfo", "getRawData", "OpenComm",
         "CloseComm"]


def by_dispid(name, *args):
    return call_dispid(NAMES.index(name), args)


DISPATCH = {
    # A host's usual session: settings, open, readings, close.
    "host_session": b"".join([
        by_dispid("setPortNum", 3), by_dispid("setBandRate", "9600"), by_dispid("setDecimals", 2),
        by_dispid("OpenComm"), receive_event(b"=05210000=0521"), by_dispid("getTolvakValue"),
        receive_event(b"0000="), by_dispid("getRawData"), by_dispid("getDebugInfo"),
        by_dispid("CloseComm")]),
    # Names in other cases, texts for shorts, wrong argument counts, unknown names.
    "names_and_arguments": b"".join([
        call_name("setDecimals", ("2",), mask=0x5), call_name("SETOTHERSEPCHAR", (3,)),
        call_name("setWinFontSize", ("1e9",)), call_name("getTolvakValue", (1,)),
        call_name("setParity", ()), call_name("noSuchMethod"), call_name("setBandRate", (None,)),
        bytes([0, 128]) + i32(0x60030055) + arguments(())]),
    # The simulated readings, the buttons and the save step.
    "simulation_and_buttons": b"".join([
        by_dispid("RndStart"), bytes([6, 0]), bytes([6, 0]), by_dispid("getTolvakValue"),
        by_dispid("RndEnd"), bytes([6, 1]), receive_event(b"=05.21000="), bytes([6, 2]),
        by_dispid("setWinWidth", 2000), by_dispid("setWinHeight", -5), bytes([6, 3])]),
    # Seams that fail: the receive handler's report, OpenComm's message box, the sockets.
    "failing_seams": b"".join([
        by_dispid("OpenComm"), bytes([7, 8]) + i32(8012) + bytes([1]),
        receive_event(b"=05.2"), receive_event(b"1000="), bytes([7, 0x88]) + i32(0) + bytes([0]),
        bytes([7, 10]) + i32(380) + bytes([0]), receive_event(b"=05.21000="),
        bytes([5]) + i16(1010), bytes([7, 20]) + i32(10093) + bytes([0]),
        by_dispid("getLocalHostName"), by_dispid("GetLocalIPAddress"),
        by_dispid("getLocalMacAddress")]),
}


def value(v):
    return bytes([0]) + struct.pack("<d", v)


def text(t):
    return bytes([1, len(t)]) + t.encode()


NUMBER_TEXT = {
    # Weights, and the forms far from 1 one after the other.
    "values": b"".join(value(v) for v in [
        12.5, 12, -12.5, 0.05, 0.0, -0.0, 1250 / 100, 0.0000123456789012345, 1e15, 1e-6,
        999999999999999.5, 999999999999999.4, 123456789012345678.0, 0.1 + 0.2, 1 / 3,
        5e-324, 1.7976931348623157e308, -2.2250738585072014e-308]),
    # Texts as frames and hosts give them.
    "texts": b"".join(text(t) for t in [
        "12.50", " -0012.50 ", "00012.50", "1E999999", "1e-400", "5.", ".5", "+1.5e+3", "abc",
        "1E", "0x10", "1 2", "-", "", "9" * 40, "0." + "0" * 30 + "1", "1.2.3", "1E+", "E5"]),
}


def main():
    for target, seeds in [("receive", RECEIVE), ("dispatch", DISPATCH),
                          ("number_text", NUMBER_TEXT)]:
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for old in os.listdir(folder):
            os.remove(os.path.join(folder, old))
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


sys.exit(main())
