#!/usr/bin/env python3
"""Checks JSON reports as strictly as a careful consumer would: the bytes are UTF-8, the text
is JSON without duplicate keys, NaN or Infinity, every string is real text (no lone
surrogates), and the document matches the schema.

usage: validate_report_json.py SCHEMA REPORT.json...
"""
import json
import sys

import jsonschema


def no_duplicates(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key")
    return dict(pairs)


def no_constants(name):
    raise ValueError("not JSON: " + name)


def check_strings(value):
    if isinstance(value, str):
        value.encode("utf-8")  # a lone surrogate from a \\ud800 escape fails here
    elif isinstance(value, list):
        for v in value:
            check_strings(v)
    elif isinstance(value, dict):
        for k, v in value.items():
            check_strings(k)
            check_strings(v)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    failed = 0
    for path in sys.argv[2:]:
        try:
            with open(path, "rb") as f:
                text = f.read().decode("utf-8", "strict")
            doc = json.loads(text, object_pairs_hook=no_duplicates, parse_constant=no_constants)
            check_strings(doc)
            error = jsonschema.exceptions.best_match(validator.iter_errors(doc))
            if error is not None:
                raise ValueError(f"{error.message} at {list(error.absolute_path)}")
        except (ValueError, UnicodeError) as e:
            print(f"{path}: {e}")
            failed += 1
    print(f"{len(sys.argv) - 2 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
