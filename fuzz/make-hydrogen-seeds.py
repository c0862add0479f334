#!/usr/bin/env python3
"""Writes seeds for fuzz_hydrogen_kit and fuzz_hydrogen_song made from the Hydrogen data installed
on this machine (Debian's hydrogen-data): OUT/hydrogen_kit/ gets each drumkit.xml and a small
.h2drumkit archive of it (with one short sample), OUT/hydrogen_song/ each demo song cut down to a
few patterns and columns, so the seeds stay small. Nothing is written when the data is missing.

  fuzz/make-hydrogen-seeds.py OUT
"""
import io
import os
import sys
import tarfile
import wave
import xml.etree.ElementTree as ET

DATA = '/usr/share/hydrogen/data'


def tiny_wav():
    buffer = io.BytesIO()
    with wave.open(buffer, 'wb') as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(44100)
        out.writeframes(b'\x10\x00' * 32)
    return buffer.getvalue()


def add(tar, name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    tar.addfile(info, io.BytesIO(data))


def kit_seeds(out):
    kits = os.path.join(DATA, 'drumkits')
    if not os.path.isdir(kits):
        return
    folder = os.path.join(out, 'hydrogen_kit')
    os.makedirs(folder, exist_ok=True)
    for kit in sorted(os.listdir(kits)):
        path = os.path.join(kits, kit, 'drumkit.xml')
        if not os.path.isfile(path):
            continue
        with open(path, 'rb') as source:
            xml = source.read()
        with open(os.path.join(folder, kit + '.xml'), 'wb') as seed:
            seed.write(xml)
        # The archive holds the kit's drumkit.xml and one short sample under its first layer's name.
        names = [e.text for e in ET.fromstring(xml).iter('{http://www.hydrogen-music.org/drumkit}filename')]
        buffer = io.BytesIO()
        with tarfile.open(fileobj=buffer, mode='w:gz') as tar:
            add(tar, kit + '/drumkit.xml', xml)
            if names:
                add(tar, kit + '/' + names[0], tiny_wav())
        with open(os.path.join(folder, kit + '.h2drumkit'), 'wb') as seed:
            seed.write(buffer.getvalue())


def song_seeds(out):
    songs = os.path.join(DATA, 'demo_songs')
    if not os.path.isdir(songs):
        return
    folder = os.path.join(out, 'hydrogen_song')
    os.makedirs(folder, exist_ok=True)
    for name in sorted(os.listdir(songs)):
        if not name.endswith('.h2song'):
            continue
        root = ET.parse(os.path.join(songs, name)).getroot()
        # Instruments with only what notes need, three patterns of at most 24 notes, six columns.
        keep = {'id', 'name', 'drumkit', 'volume', 'pan', 'muteGroup'}
        for instrument in root.iter('instrument'):
            for child in list(instrument):
                if child.tag not in keep:
                    instrument.remove(child)
        patterns = root.find('patternList')
        if patterns is not None:
            for pattern in list(patterns)[3:]:
                patterns.remove(pattern)
            for notes in patterns.iter('noteList'):
                for note in list(notes)[24:]:
                    notes.remove(note)
        sequence = root.find('patternSequence')
        if sequence is not None:
            for group in list(sequence)[6:]:
                sequence.remove(group)
        with open(os.path.join(folder, name), 'wb') as seed:
            seed.write(ET.tostring(root, encoding='utf-8'))


if __name__ == '__main__':
    if len(sys.argv) != 2:
        sys.exit('usage: fuzz/make-hydrogen-seeds.py OUT')
    kit_seeds(sys.argv[1])
    song_seeds(sys.argv[1])
