#!/usr/bin/env python3
"""Lays out the demo site: OUT/Updates/PRODUCT/ holds the product's program, the
files of the demo tree, and the update manifest Resources/PRODUCT.ini whose
[UpdateFiles] section lists all of them, so that it never goes stale."""
import argparse
import os
import shutil


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--files", required=True)
    args = parser.parse_args()

    base = os.path.join(args.out, "Updates", args.product)
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    manifest = "Resources\\%s.ini" % args.product
    entries = [manifest, args.product + ".exe"]
    shutil.copyfile(args.exe, os.path.join(base, args.product + ".exe"))
    for folder, _, names in sorted(os.walk(args.files)):
        for name in sorted(names):
            source = os.path.join(folder, name)
            relative = os.path.relpath(source, args.files)
            target = os.path.join(base, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(source, target)
            entries.append(relative.replace("/", "\\"))

    path = os.path.join(base, manifest.replace("\\", "/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="ascii", newline="\r\n") as f:
        f.write("; The files of %s, relative to its folder.\n" % args.product)
        f.write("[UpdateFiles]\n")
        f.write("\n".join(entries) + "\n")


if __name__ == "__main__":
    main()
