#!/usr/bin/env python3
"""Validates velador-image's JSON documents against the schemas of their commands.

Usage: json_schema_check.py <schema folder> <command> <document file> [<command> <document file>]...

Each document is validated against <schema folder>/<command>.schema.json, each schema once it
has itself been checked against the JSON Schema meta-schema of draft 2020-12. For each document
that breaks its schema (or is no JSON), prints one line per error: "<document file>: <where>:
<what>", <where> the path of the member at fault ("/" for the document itself).

Exit status: 0 when every document is valid, 1 when one is not, 2 when a schema cannot be read
or is no valid schema, or the words are wrong.
"""

import json
import sys

from jsonschema import Draft202012Validator
from jsonschema.exceptions import SchemaError


def main(words):
    if len(words) < 3 or len(words) % 2 == 0:
        print(__doc__, file=sys.stderr)
        return 2
    folder = words[0]
    validators = {}
    invalid = False
    for command, document_file in zip(words[1::2], words[2::2]):
        if command not in validators:
            path = f"{folder}/{command}.schema.json"
            try:
                with open(path, encoding="utf-8") as schema_file:
                    schema = json.load(schema_file)
                Draft202012Validator.check_schema(schema)
            except (OSError, ValueError, SchemaError) as error:
                print(f"{path}: {error}", file=sys.stderr)
                return 2
            validators[command] = Draft202012Validator(schema)
        try:
            with open(document_file, encoding="utf-8") as text:
                document = json.load(text)
        except (OSError, ValueError) as error:
            print(f"{document_file}: /: no JSON document: {error}")
            invalid = True
            continue
        errors = validators[command].iter_errors(document)
        for error in sorted(errors, key=lambda e: [str(part) for part in e.absolute_path]):
            where = "/" + "/".join(str(part) for part in error.absolute_path)
            print(f"{document_file}: {where}: {error.message}")
            invalid = True
    return 1 if invalid else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
