#!/usr/bin/env python3
"""Builds the compiled-in translation catalog from the PO files.

usage: gen_catalog.py PO_DIR OUTPUT.cc

PO_DIR holds en.po (every key with its English text), one <code>.po per further language
and languages.tsv (code, native name, "rtl" or "ltr", in the order of the language menu).
msgctxt is the dotted key. An empty or missing translation falls back to the English text,
so every language's table is complete. The build fails, naming file and key, when a PO file
has a key that en.po lacks or a translation whose printf placeholders differ from the
English text's.
"""
import os
import re
import sys

PLACEHOLDER = re.compile(
    r"%(?:\d+\$)?[-+ #0']*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|q|j|z|t)?[diouxXeEfFgGaAcspn%]")
ESCAPES = {'n': '\n', 't': '\t', 'r': '\r', '\\': '\\', '"': '"', 'a': '\a', 'b': '\b',
           'f': '\f', 'v': '\v'}


class CatalogError(Exception):
    pass


def unquote(token, where):
    token = token.strip()
    if len(token) < 2 or token[0] != '"' or token[-1] != '"':
        raise CatalogError(f'{where}: expected a quoted string, got {token!r}')
    body, out, i = token[1:-1], [], 0
    while i < len(body):
        c = body[i]
        if c == '\\' and i + 1 < len(body):
            n = body[i + 1]
            if n in ESCAPES:
                out.append(ESCAPES[n]); i += 2; continue
            m = re.match(r'[0-7]{1,3}', body[i + 1:])
            if m:
                out.append(chr(int(m.group(), 8))); i += 1 + len(m.group()); continue
            raise CatalogError(f'{where}: unknown escape \\{n}')
        out.append(c); i += 1
    return ''.join(out)


def parse_po(path):
    """Returns {key: (msgid, msgstr)} for every entry with a msgctxt, in file order."""
    entries = {}
    cur, field = None, None

    def finish():
        if cur is None or 'msgctxt' not in cur:
            return
        key = cur['msgctxt']
        if key in entries:
            raise CatalogError(f'{path}: key {key} appears twice')
        entries[key] = (cur.get('msgid', ''), cur.get('msgstr', ''))

    with open(path, encoding='utf-8') as f:
        for lineno, line in enumerate(f, 1):
            where = f'{path}:{lineno}'
            line = line.rstrip('\n')
            stripped = line.strip()
            if not stripped:
                continue
            if stripped.startswith('#'):
                # A comment starts a new entry only when the previous one is complete.
                if cur is not None and 'msgstr' in cur:
                    finish(); cur, field = None, None
                continue
            word, _, rest = stripped.partition(' ')
            if word in ('msgctxt', 'msgid', 'msgstr'):
                if word in ('msgctxt', 'msgid') and cur is not None and 'msgstr' in cur:
                    finish(); cur = None
                if cur is None:
                    cur = {}
                cur[word] = unquote(rest, where)
                field = word
            elif word.startswith('msgid_plural') or word.startswith('msgstr['):
                raise CatalogError(f'{where}: plural forms are not used by this catalog')
            elif stripped.startswith('"'):
                if cur is None or field is None:
                    raise CatalogError(f'{where}: continuation line outside an entry')
                cur[field] += unquote(stripped, where)
            else:
                raise CatalogError(f'{where}: cannot read {stripped!r}')
    finish()
    return entries


def placeholders(text):
    return [p for p in PLACEHOLDER.findall(text) if p != '%%']


def c_string(text):
    """A C string literal; non-ASCII characters stay as they are in the UTF-8 output."""
    out = ['"']
    for c in text:
        if c in '"\\':
            out.append('\\' + c)
        elif c == '?':
            out.append('\\?')  # never a trigraph
        elif ord(c) < 0x20 or ord(c) == 0x7F:
            out.append('\\%03o' % ord(c))
        else:
            out.append(c)
    out.append('"')
    return ''.join(out)


def read_languages(po_dir):
    langs = []
    path = os.path.join(po_dir, 'languages.tsv')
    with open(path, encoding='utf-8') as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            parts = line.split('\t')
            if len(parts) != 3 or parts[2] not in ('rtl', 'ltr'):
                raise CatalogError(f'{path}:{lineno}: expected "code<TAB>native name<TAB>rtl|ltr"')
            langs.append((parts[0], parts[1], parts[2] == 'rtl'))
    return langs


def build(po_dir):
    english = parse_po(os.path.join(po_dir, 'en.po'))
    keys = sorted(english, key=lambda k: k.encode('utf-8'))
    for key in keys:
        if not english[key][0]:
            raise CatalogError(f'{po_dir}/en.po: key {key} has no English text')
    langs = read_languages(po_dir)
    codes = [c for c, _, _ in langs]
    if 'en' not in codes:
        raise CatalogError('languages.tsv lacks en')
    present = sorted(f[:-3] for f in os.listdir(po_dir) if f.endswith('.po'))
    for code in present:
        if code not in codes:
            raise CatalogError(f'{po_dir}/{code}.po: language not listed in languages.tsv')
    tables = {}
    for code in codes:
        path = os.path.join(po_dir, code + '.po')
        if not os.path.exists(path):
            raise CatalogError(f'{path}: missing PO file for a listed language')
        entries = english if code == 'en' else parse_po(path)
        table = []
        for key in entries:
            if key not in english:
                raise CatalogError(f'{path}: key {key} is not in en.po')
        for key in keys:
            en_text = english[key][1] or english[key][0]
            text = entries.get(key, ('', ''))[1] or en_text
            if placeholders(text) != placeholders(english[key][0]):
                raise CatalogError(f'{path}: key {key}: placeholders {placeholders(text)} '
                                   f'differ from the English {placeholders(english[key][0])}')
            table.append(text)
        tables[code] = table
    return keys, langs, tables


def key_hash(key):
    """FNV-1a over the key's UTF-8 bytes, as i18n.cc computes it."""
    h = 2166136261
    for b in key.encode('utf-8'):
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


def key_slots(keys):
    """An open-addressed table of the keys by key_hash, linear probing, at most a quarter
    full: each slot holds a key's index + 1, or 0 where none is."""
    size = 1
    while size < 4 * len(keys):
        size *= 2
    slots = [0] * size
    for i, key in enumerate(keys):
        at = key_hash(key) & (size - 1)
        while slots[at]:
            at = (at + 1) & (size - 1)
        slots[at] = i + 1
    if len(keys) >= 0xFFFF:
        raise CatalogError(f'{len(keys)} keys do not fit the 16-bit slots')
    return slots


def emit(keys, langs, tables):
    # Every text lives once in one character array and the tables hold offsets into it:
    # tables of pointers would need a relocation for each of the tens of thousands of texts
    # when the program starts.
    offsets = {}
    pieces = []
    size = 0

    def offset(text):
        nonlocal size
        if text not in offsets:
            offsets[text] = size
            pieces.append(text)
            size += len(text.encode('utf-8')) + 1
        return offsets[text]

    key_offsets = [offset(k) for k in keys]
    lang_offsets = {code: [offset(t) for t in tables[code]] for code, _, _ in langs}
    ident = lambda code: 'VALUES_' + code.replace('-', '_')
    out = ['// Generated by tools/gen_catalog.py from po/*.po. Do not edit.',
           '#include "i18n_data.h"', '', 'namespace i18n_data {', '',
           f'const size_t KEY_COUNT = {len(keys)};', f'const size_t LANG_COUNT = {len(langs)};',
           '', 'const char TEXT[] =']
    out += [f'    {c_string(t)} "\\0"' for t in pieces]
    out += ['    "";', '', 'const uint32_t KEYS[] = {']
    out += [f'    {o},' for o in key_offsets]
    out += ['};', '']
    slots = key_slots(keys)
    out += [f'const size_t KEY_SLOT_COUNT = {len(slots)};', 'const uint16_t KEY_SLOTS[] = {']
    out += ['    ' + ', '.join(str(v) for v in slots[i:i + 16]) + ',' for i in range(0, len(slots), 16)]
    out += ['};', '']
    for code, _, _ in langs:
        out.append(f'static const uint32_t {ident(code)}[] = {{')
        out += [f'    {o},' for o in lang_offsets[code]]
        out += ['};', '']
    out.append('const LangEntry LANGS[] = {')
    for code, native, rtl in langs:
        out.append(f'    {{{c_string(code)}, {c_string(native)}, {"true" if rtl else "false"}, '
                   f'{ident(code)}}},')
    out += ['};', '', '} // namespace i18n_data', '']
    return '\n'.join(out)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        keys, langs, tables = build(sys.argv[1])
    except (CatalogError, OSError, UnicodeDecodeError) as e:
        print(f'gen_catalog: {e}', file=sys.stderr)
        return 1
    text = emit(keys, langs, tables)
    tmp = sys.argv[2] + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
    os.replace(tmp, sys.argv[2])
    return 0


if __name__ == '__main__':
    sys.exit(main())
