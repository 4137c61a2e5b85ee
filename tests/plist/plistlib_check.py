"""Reads a keyed archive with Python's plistlib and prints what it finds.

Used by keyed_archive_test.cc to show that an independent reader accepts
the archives we write. Prints one "classes" line per class description
(its chain, comma-separated, sorted by line), then "root" and the resolved
root object as JSON: records as dictionaries with "$class", mutable
dictionaries and arrays as themselves, dates as {"NS.time": t}, bytes as
hex, nil as null.
"""
import json
import plistlib
import sys


def main(path):
    with open(path, "rb") as f:
        archive = plistlib.load(f)
    assert archive["$archiver"] == "NSKeyedArchiver"
    assert archive["$version"] == 100000
    objects = archive["$objects"]
    assert objects[0] == "$null"

    def resolve(ref):
        if isinstance(ref, plistlib.UID):
            return resolve_object(ref.data)
        if isinstance(ref, bytes):
            return ref.hex()
        return ref

    def resolve_object(index):
        if index == 0:
            return None
        o = objects[index]
        if not isinstance(o, dict):
            return resolve(o)
        name = objects[o["$class"].data]["$classname"]
        if name == "NSMutableArray":
            return [resolve(e) for e in o["NS.objects"]]
        if name == "NSMutableDictionary":
            return {resolve(k): resolve(v) for k, v in zip(o["NS.keys"], o["NS.objects"])}
        if name == "NSDate":
            return {"NS.time": o["NS.time"]}
        record = {"$class": name}
        for key, value in o.items():
            if key != "$class":
                record[key] = resolve(value)
        return record

    chains = sorted(",".join(o["$classes"]) for o in objects
                    if isinstance(o, dict) and "$classname" in o)
    for chain in chains:
        print("classes", chain)
    print("root", json.dumps(resolve(archive["$top"]["root"]), sort_keys=True))


if __name__ == "__main__":
    main(sys.argv[1])
