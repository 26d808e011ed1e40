#!/usr/bin/env python3
"""Fills a desktop entry, metainfo or polkit template with the catalog's translations.

usage: translate_data_file.py PO_DIR TEMPLATE OUTPUT [NAME=VALUE...]

Every @NAME@ is replaced by the value given on the command line (NAME=@NAME@ keeps it for a
later step); a name without a value is an error. A line that holds
@tr:KEY@ (or @tr:KEY:nodot@, which drops a closing full stop, as software centres want for
a summary) is written once with the English text of KEY and then once per language of
languages.tsv whose text differs from the English one: a desktop entry line "Comment=..."
becomes "Comment[de]=...", an XML line's first element gets xml:lang="de". So the menu and
the software centre speak the same words as the program, from the same PO files.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_catalog import CatalogError, build  # noqa: E402

TR = re.compile(r'@tr:([a-z0-9_.]+)(:nodot)?@')
FULL_STOPS = '.。।۔'


def xml_escape(text):
    return text.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')


def desktop_escape(text):
    return (text.replace('\\', '\\\\').replace('\n', '\\n').replace('\t', '\\t')
            .replace('\r', '\\r'))


def expand(line, where, texts_of, codes):
    """The line for English, then one per language whose text differs."""
    desktop = re.match(r'[A-Za-z0-9-]+=', line)
    if not desktop and not re.search(r'<[A-Za-z_]', line):
        raise CatalogError(f'{where}: @tr:@ only in "Key=" or XML element lines')
    escape = desktop_escape if desktop else xml_escape

    def fill(code):
        def one(m):
            text = texts_of(m.group(1), code)
            if m.group(2):
                text = text.rstrip(FULL_STOPS)
            return escape(text)
        return TR.sub(one, line)

    english = fill('en')
    out = [english]
    for code in codes:
        text = fill(code)
        if code == 'en' or text == english:
            continue
        if desktop:
            key, value = text.split('=', 1)
            out.append(f'{key}[{code}]={value}')
        else:
            out.append(re.sub(r'<([A-Za-z_][\w.-]*)', rf'<\1 xml:lang="{code}"', text, count=1))
    return out


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    po_dir, template, output = sys.argv[1:4]
    values = {}
    for arg in sys.argv[4:]:
        name, sep, value = arg.partition('=')
        if not sep:
            print(f'translate_data_file: expected NAME=VALUE, got {arg!r}', file=sys.stderr)
            return 2
        values[name] = value
    try:
        keys, langs, tables = build(po_dir)
        index = {k: i for i, k in enumerate(keys)}
        codes = [c for c, _, _ in langs]

        def texts_of(key, code):
            if key not in index:
                raise CatalogError(f'{template}: no catalog key {key}')
            return tables[code][index[key]]

        out = []
        with open(template, encoding='utf-8') as f:
            for lineno, line in enumerate(f, 1):
                line = line.rstrip('\n')
                for name in re.findall(r'@([A-Za-z_]+)@', line):
                    if name not in values:
                        raise CatalogError(f'{template}:{lineno}: @{name}@ was given no value')
                for name, value in values.items():
                    line = line.replace(f'@{name}@', value)
                if TR.search(line):
                    out += expand(line, f'{template}:{lineno}', texts_of, codes)
                else:
                    out.append(line)
    except (CatalogError, OSError, UnicodeDecodeError) as e:
        print(f'translate_data_file: {e}', file=sys.stderr)
        return 1
    tmp = output + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write('\n'.join(out) + '\n')
    os.replace(tmp, output)
    return 0


if __name__ == '__main__':
    sys.exit(main())
