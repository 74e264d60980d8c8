#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

Each seed is a small, valid input in the 8-bit build's formats: a few parameter blocks, stored
blobs and cache files, and short conversations between a master and a slave. The fuzzers start
from these and the replay suite in tests/fuzz_regressions/ runs every one of them.
Run it again after changing it; it replaces the folders' seed files (files it does not write,
such as inputs kept from fuzzing runs, are left alone).
"""
import pathlib
import struct
import zlib

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"
MAGIC = b"XVRO"


def words(*values):
    return b"".join(struct.pack("<i", v) for v in values)


def packet(body):
    return MAGIC + struct.pack("<i", len(body)) + body


def compressed_packet(body):
    plain = packet(body)
    data = zlib.compress(plain, 6)
    return MAGIC + struct.pack("<i", len(data) + 8) + words(255, len(plain)) + data


def params(*values):
    out = struct.pack("<i", len(values))
    for value in values:
        out += struct.pack("<i", len(value)) + value
    return out


def name_field(name):
    encoded = name.encode() + b"\0"
    return struct.pack("<i", len(encoded)) + encoded


def job_request(command, job_id, name, block, target=0, stream_size=0, priority=0):
    return words(command, job_id, target, stream_size, priority) + name_field(name) + block


def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def stream_block(target, offset, data):
    return words(162, target, offset, signed(crc(data))) + data


def stream_end(target, data, cancel=0):
    return words(163, target, signed(crc(data)) if data is not None else 0, cancel)


def write(target, seeds):
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


def parameter_seeds():
    return {
        "empty": params(),
        "integer_and_text": params(struct.pack("<i", 7), b"ab\0"),
        "double": params(struct.pack("<d", 2.5)),
        "utf16_text": params("ab".encode("utf-16-le") + b"\0\0"),
        "quad_and_memory": params(struct.pack("<q", -5), bytes(range(5)), b"x"),
    }


def stored_blob_seeds():
    text = b"stored blobs keep an eight byte header " * 4
    return {
        "plain": words(0, 5) + b"hello",
        "plain_other_flags": words(6, 3) + b"abc",
        "zeros_compressed": words(1, 1000) + zlib.compress(bytes(1000), 9),
        "text_compressed": words(1, len(text)) + zlib.compress(text, 6),
        "stored_level_0": words(3, 16) + zlib.compress(bytes(range(16)), 0),
    }


def cache_record(name, lifetime, xtra, data, end=b"\n"):
    return name + end + struct.pack("<iqq", lifetime, xtra, len(data)) + data


def cache_seeds():
    # The target puts the build's magic in front; these are the bytes after it.
    def header(max_size, age, hits):
        return struct.pack("<qiq", max_size, age, hits)

    return {
        "empty": header(0, 10, 2),
        "one_entry": header(0, 10, 2) + cache_record(b"ab", 60, 7, b"\x01\x02\x03"),
        "line_ends": header(0, 0, 0)
        + cache_record(b"crlf", 0, 1, b"one", b"\r\n")
        + cache_record(b"cr", 5, 2, b"two", b"\r")
        + cache_record(b"zero", 0, 3, b"three", b"\0"),
        "evicting": header(8, 1, 1)
        + cache_record(b"first", 0, 0, b"12345")
        + cache_record(b"second", 0, 0, b"6789")
        + cache_record(b"toolarge", 0, 0, b"0123456789"),
        "cut_short": header(0, 0, 0) + cache_record(b"cut", 0, 0, b"abcdef")[:-3],
    }


def master_seeds():
    # Option byte, then what slave 1 sends; jobs 1 to 3 exist (1 and 3 have a job callback).
    relay_data = b"relayed!"
    relay = (
        packet(job_request(161, 3, "relay", params(struct.pack("<i", 1)), 0, len(relay_data)))
        + packet(stream_block(3, 0, relay_data))
        + packet(stream_end(3, relay_data))
    )
    job_events = (
        packet(words(2, 3, 1))
        + packet(words(2, 2, 1))
        + packet(words(2, 4, 1, 4) + b"note")
        + packet(words(2, 1, 1, 4, 42))
        + packet(words(2, 1, 2, 3) + b"hi\0")
        + packet(words(2, 6, 3))
    )
    return {
        "job_events": b"\x00" + job_events,
        "job_events_callback_small_reads": b"\x03" + job_events,
        "query_replies": b"\x00"
        + packet(words(1, 0) + b"echo - echoes")
        + packet(words(3, 5))
        + packet(words(4, 2))
        + packet(words(5, 123)),
        "slave_states": b"\x00"
        + packet(words(2, 161, 0))
        + packet(words(2, 162, 0))
        + packet(words(2, 255, 0))
        + packet(words(160, 0, 1, 0))
        + packet(words(2, 0, 0, 1)),
        "goodbye_then_result": b"\x01" + packet(words(160)) + packet(words(2, 1, 1, 0)),
        "removed": b"\x00" + packet(words(2, 163, 0)) + packet(words(99)),
        "relayed_stream": b"\x00" + relay,
        "relayed_stream_kept": b"\x04" + relay,
        "compressed_result": b"\x00" + compressed_packet(words(2, 1, 2, 64) + bytes(64)),
    }


def slave_seeds():
    # Option byte, then what master 2 sends; master 1 is connected and reads.
    stream_data = bytes(range(8))
    echo = job_request(2, 1, "echo", params(struct.pack("<i", 5), b"text\0"))
    to_slave = (
        packet(job_request(161, 7, "stream", params(), 0, len(stream_data)))
        + packet(stream_block(0, 0, stream_data[:5]))
        + packet(stream_block(0, 5, stream_data[5:]))
        + packet(stream_end(0, stream_data))
    )
    relayed = (
        packet(job_request(161, 9, "relay", params(), 1, 4))
        + packet(stream_block(1, 0, b"data"))
        + packet(stream_end(1, b"data"))
        + packet(words(160, 1, 1, 0))
    )
    return {
        "queries": b"\x00"
        + packet(words(1, 0))
        + packet(words(3, 0))
        + packet(words(4, 0))
        + packet(words(5, 42)),
        "jobs": b"\x00"
        + packet(echo)
        + packet(job_request(2, 2, "note", params(b"x\0"), priority=2))
        + packet(job_request(2, 3, "missing", params()))
        + packet(job_request(2, 4, "echo", params(b""))),
        "jobs_limited_checked_paused": b"\x38" + packet(echo) + packet(job_request(2, 2, "note", params())),
        "stream_to_slave": b"\x00" + to_slave,
        "stream_small_reads_threads": b"\x05" + to_slave,
        "stream_canceled": b"\x00"
        + packet(job_request(161, 7, "stream", params(), 0, 8))
        + packet(stream_end(0, None, 1)),
        "relay": b"\x00" + relayed,
        "relay_refused": b"\x40" + relayed,
        "compressed": b"\x02" + compressed_packet(echo) + packet(words(77)),
    }


def main():
    write("decode_parameters", parameter_seeds())
    write("stored_blob", stored_blob_seeds())
    write("cache_file", cache_seeds())
    write("master_dispatch", master_seeds())
    write("slave_dispatch", slave_seeds())


if __name__ == "__main__":
    main()
