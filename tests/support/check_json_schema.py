#!/usr/bin/python3
"""Checks JSON files against a JSON Schema: check_json_schema.py SCHEMA FILE...

Prints each violation with its path and ends with 1; silent and 0 when every
file holds. Needs Debian's python3-jsonschema (scripts/bootstrap installs it).
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("python3-jsonschema is missing: run scripts/bootstrap")


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    bad = False
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as f:
            document = json.load(f)
        for error in validator.iter_errors(document):
            where = "/".join(str(part) for part in error.absolute_path)
            print(f"{path}: /{where}: {error.message}")
            bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
