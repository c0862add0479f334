#!/usr/bin/env python3
"""Writes the seed archives of fuzz_keyed_unarchiver into fuzz/corpus/keyed_unarchiver/.

Each seed is a tiny keyed archive (binary property list) built with Python's plistlib:
  thing-values      an FZThing with a boolean, a negative integer, a real, a string and data
  thing-shared      an FZThing whose child and array share one object; an old class name
  foundation        NSMutableArray of NSDictionary, NSMutableString, NSDate, NSMutableData
  unknown-class     an object of a class nobody registered (read generically by the target)
"""
import os
import plistlib
from plistlib import UID

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'keyed_unarchiver')
os.makedirs(here, exist_ok=True)


def cls(name, *supers):
    return {'$classname': name, '$classes': [name, *supers, 'NSObject']}


def write(name, objects):
    archive = {'$version': 100000, '$archiver': 'NSKeyedArchiver', '$top': {'root': UID(1)},
               '$objects': ['$null', *objects]}
    with open(os.path.join(here, name), 'wb') as f:
        plistlib.dump(archive, f, fmt=plistlib.FMT_BINARY, sort_keys=False)


write('thing-values', [
    {'$class': UID(2), 'a': True, 'b': -12, 'c': UID(3), 'child': UID(4)},
    cls('FZThing'), 'h\u00e9llo', b'\x00\x01',
])
write('thing-shared', [
    {'$class': UID(2), 'a': 1.5, 'child': UID(3), 'items': UID(4)},
    cls('FZThing'),
    {'$class': UID(6), 'b': 70000},
    {'$class': UID(5), 'NS.objects': [UID(3), UID(0)]},
    cls('NSMutableArray', 'NSArray'), cls('FZOldThing'),
])
write('foundation', [
    {'$class': UID(2), 'NS.objects': [UID(3), UID(6), UID(8), UID(10)]},
    cls('NSMutableArray', 'NSArray'),
    {'$class': UID(4), 'NS.keys': [UID(5)], 'NS.objects': [UID(5)]},
    cls('NSDictionary'), 'k',
    {'$class': UID(7), 'NS.string': 'text'}, cls('NSMutableString', 'NSString'),
    {'$class': UID(9), 'NS.time': 1.25}, cls('NSDate'),
    {'$class': UID(11), 'NS.data': b'\xff'}, cls('NSMutableData', 'NSData'),
])
write('unknown-class', [
    {'$class': UID(2), 'x': [1, {'y': UID(3)}], 'z': UID(3)},
    cls('SomeoneElsesClass'), 'shared',
])
