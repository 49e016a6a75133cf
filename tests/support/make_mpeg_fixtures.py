#!/usr/bin/env python3
"""Encodes the MPEG streams the MPEG framing tests wrap into banks.

    make_mpeg_fixtures.py LAME TWOLAME OUT_DIR

Half a second of a two-tone chord at 44.1 kHz, encoded by Debian's encoders:
  layer2_160k.mp2     twolame, stereo 160 kbit/s: 522-byte frames back to back
  layer3_tagged.mp3   lame, stereo 128 kbit/s, with the LAME "Info" frame first
  layer3_untagged.mp3 the same with -t: the same audio frames, no tag
  layer3_mono40.mp3   lame, mono 40 kbit/s without bit reservoir: a first
                      frame of 130 bytes that decodes on its own
  mono_default.mp3    lame's defaults, mono: the LAME "Info" frame first and
                      frames using the bit reservoir
  stereo48_tags.mp3   lame's defaults, stereo at 48 kHz, between ID3v2 and
                      ID3v1 tags
Writes OUT_DIR/stamp last, so a failed run is run again.
"""
import math
import os
import struct
import subprocess
import sys
import wave


def tone(path, channels, frames, rate=44100):
    samples = bytearray()
    for i in range(frames):
        for c in range(channels):
            v = 8000 * math.sin(2 * math.pi * (440 + 220 * c) * i / rate) + 4000 * math.sin(2 * math.pi * 1234 * i / rate)
            samples += struct.pack("<h", int(v))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(samples))


def main():
    lame, twolame, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    stereo = os.path.join(out, "stereo.wav")
    mono = os.path.join(out, "mono.wav")
    tone(stereo, 2, 22050)
    tone(mono, 1, 22050)
    stereo48 = os.path.join(out, "stereo48.wav")
    tone(stereo48, 2, 36000, 48000)
    runs = [
        [twolame, "--quiet", "-b", "160", "-m", "s", stereo, os.path.join(out, "layer2_160k.mp2")],
        [lame, "--quiet", "-m", "s", "-b", "128", "--cbr", stereo, os.path.join(out, "layer3_tagged.mp3")],
        [lame, "--quiet", "-t", "-m", "s", "-b", "128", "--cbr", stereo, os.path.join(out, "layer3_untagged.mp3")],
        [lame, "--quiet", "-t", "--nores", "--resample", "44.1", "-m", "m", "-b", "40", "--cbr", mono,
         os.path.join(out, "layer3_mono40.mp3")],
        [lame, "--quiet", mono, os.path.join(out, "mono_default.mp3")],
        [lame, "--quiet", "--add-id3v2", "--tt", "tone", stereo48, os.path.join(out, "stereo48_tags.mp3")],
    ]
    for command in runs:
        subprocess.run(command, check=True, stdin=subprocess.DEVNULL)
    os.remove(stereo)
    os.remove(mono)
    os.remove(stereo48)
    with open(os.path.join(out, "stamp"), "w") as f:
        f.write("done\n")


if __name__ == "__main__":
    main()
