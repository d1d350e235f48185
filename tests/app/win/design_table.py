#!/usr/bin/env python3
"""Writes the design of the main window, as the Qt form app/u_main.ui holds it, as a C++ table:
every widget with its place and size in the window's client area (the offsets of its parents
added), its caption and its accessible name. The Win32 window's tests compare the window with
it, so that the form stays the one record of the design.

    design_table.py FORM.ui OUT.h
"""
import sys
import xml.etree.ElementTree as ElementTree


def literal(text):
    # A C++ string literal; the source is UTF-8, as the compiler reads it.
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"').replace('\n', '\\n') + '"'


def prop(widget, name, kind):
    node = widget.find(f"property[@name='{name}']/{kind}")
    return node


def text_of(widget, name):
    node = prop(widget, name, 'string')
    return None if node is None else (node.text or '')


def rows(widget, left, top, parent, out):
    for child in widget.findall('widget'):
        rect = prop(child, 'geometry', 'rect')
        if rect is None:
            sys.exit(f"design_table: {child.get('name')} has no geometry")
        x, y, w, h = (int(rect.find(k).text) for k in ('x', 'y', 'width', 'height'))
        caption = text_of(child, 'text')
        if caption is None:
            caption = text_of(child, 'title') or ''
        name = text_of(child, 'accessibleName') or ''
        out.append((child.get('name'), child.get('class'), parent, left + x, top + y, w, h,
                    caption, name))
        rows(child, left + x, top + y, child.get('name'), out)


def main():
    form, target = sys.argv[1], sys.argv[2]
    window = ElementTree.parse(form).getroot().find('widget')
    rect = prop(window, 'geometry', 'rect')
    out = []
    rows(window, 0, 0, '', out)
    lines = [
        '// Made at build time from app/u_main.ui by tests/app/win/design_table.py.',
        '#pragma once',
        '',
        'namespace offline_upgrade {',
        '',
        'struct DesignControl {',
        '    const char *Name;',
        '    const char *Class; // the Qt class of the form',
        '    const char *Parent; // empty: the window',
        '    int X, Y, Width, Height; // in the client area at 96 dpi',
        '    const char *Caption; // text or title; empty when none',
        '    const char *AccessibleName; // set in the form; empty when the caption serves',
        '};',
        '',
        f"inline constexpr int kDesignClientWidth = {int(rect.find('width').text)};",
        f"inline constexpr int kDesignClientHeight = {int(rect.find('height').text)};",
        f"inline constexpr char kDesignCaption[] = {literal(text_of(window, 'windowTitle'))};",
        '',
        'inline constexpr DesignControl kDesign[] = {',
    ]
    for name, cls, parent, x, y, w, h, caption, accessible in out:
        lines.append(f'    {{{literal(name)}, {literal(cls)}, {literal(parent)}, {x}, {y}, {w}, {h}, '
                     f'{literal(caption)}, {literal(accessible)}}},')
    lines += ['};', '', '} // namespace offline_upgrade', '']
    with open(target, 'w', encoding='utf-8') as file:
        file.write('\n'.join(lines))


if __name__ == '__main__':
    main()
