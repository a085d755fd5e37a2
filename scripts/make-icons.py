#!/usr/bin/env python3
"""Writes the program's icons as small SVG files under resources/ and lists them in
resources/resources.qrc. Every icon is drawn on a 16-unit grid with one stroke style, in three
colour states: normal, "_hover" and "_ban" (disabled)."""
import os

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")

BLUE, WHITE, GREY = "#15a4fa", "#FFFFFF", "#cad2e2"
TITLE_NORMAL, TITLE_HOVER, TITLE_BAN = "#FFFFFF", "#d8f0ff", "#9aa4b4"

# Shapes on a 16 x 16 grid; "S" strokes, "F" fills with the state colour.
GLYPHS = {
    # firmware upgrade: an arrow rising out of a tray
    "update": '<path class="S" d="M8 11V2M4.5 5.5L8 2l3.5 3.5M2 10v4h12v-4"/>',
    # camera configuration: a camera body and its lens
    "video": '<rect class="S" x="1.5" y="4" width="9" height="8" rx="1.5"/><path class="S" d="M10.5 7l4-2.5v7l-4-2.5"/>',
    # network parameters: three sliders
    "sliders": '<path class="S" d="M2 4h12M2 8h12M2 12h12"/><circle class="F" cx="5" cy="4" r="1.8"/><circle class="F" cx="11" cy="8" r="1.8"/><circle class="F" cx="7" cy="12" r="1.8"/>',
    # configuration export: two stacked sheets
    "files": '<path class="S" d="M5 1.5h6l3 3v8H5z"/><path class="S" d="M3 4.5v10h8"/>',
    # list export: indented lines
    "textindent": '<path class="S" d="M2 2.5h12M7 6.5h7M7 10h7M2 13.5h12"/><path class="F" d="M2 5.5l3 2.5-3 2.5z"/>',
    # time: a clock
    "watch": '<circle class="S" cx="8" cy="8" r="6.3"/><path class="S" d="M8 4.2V8l2.8 1.8"/>',
    # ONVIF: three linked nodes
    "network": '<path class="S" d="M8 4.5v3.5M8 8L3.5 11.5M8 8l4.5 3.5"/><circle class="F" cx="8" cy="3" r="2"/><circle class="F" cx="3" cy="12.5" r="2"/><circle class="F" cx="13" cy="12.5" r="2"/>',
    # restore: two arrows chasing each other
    "repeat": '<path class="S" d="M2.5 7V5.5a2 2 0 0 1 2-2H13M11 1.5l2 2-2 2M13.5 9v1.5a2 2 0 0 1-2 2H3M5 14.5l-2-2 2-2"/>',
    # reboot and upload: the power sign
    "load": '<path class="S" d="M8 1.5v6"/><path class="S" d="M4.6 3.8a5.8 5.8 0 1 0 6.8 0"/>',
    # refresh: one circular arrow
    "refresh": '<path class="S" d="M13.5 8a5.5 5.5 0 1 1-1.6-3.9"/><path class="F" d="M14.5 1.5v5h-5z"/>',
    # panel cancel: a cross in a circle
    "cancel": '<circle class="S" cx="8" cy="8" r="6.3"/><path class="S" d="M5.5 5.5l5 5M10.5 5.5l-5 5"/>',
    # browse: a folder
    "folder": '<path class="S" d="M1.5 3.5h5l1.5 2h6.5v8h-13z"/>',
    # web page: a globe
    "ie": '<circle class="S" cx="8" cy="8" r="6.3"/><path class="S" d="M1.7 8h12.6M8 1.7c-3 3.4-3 9.2 0 12.6M8 1.7c3 3.4 3 9.2 0 12.6"/>',
}

TITLE_GLYPHS = {
    "min": '<path class="S" d="M4 10h8"/>',
    "max": '<rect class="S" x="4" y="4" width="8" height="8"/>',
    "restore": '<rect class="S" x="3.5" y="6" width="6.5" height="6.5"/><path class="S" d="M6 6V3.5h6.5V10H10"/>',
    "close": '<path class="S" d="M4.5 4.5l7 7M11.5 4.5l-7 7"/>',
}


def svg(glyph, colour, size, stroke=1.4):
    # Attributes inline: the toolkit's SVG renderer supports only a little CSS.
    strokes = (f'fill="none" stroke="{colour}" stroke-width="{stroke}" '
               f'stroke-linecap="round" stroke-linejoin="round"')
    body = glyph.replace('class="S"', strokes).replace('class="F"', f'fill="{colour}"')
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size[0]}" height="{size[1]}" '
            f'viewBox="0 0 16 16">{body}</svg>\n')


def write(rel, text, entries):
    path = os.path.join(ROOT, rel + ".svg")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    entries.append((rel, rel + ".svg"))


def main():
    entries = []
    for name, glyph in GLYPHS.items():
        for suffix, colour in (("", BLUE), ("_hover", WHITE), ("_ban", GREY)):
            write(f"base/{name}{suffix}", svg(glyph, colour, (16, 16)), entries)
    # The path row's start button names its disabled image this way.
    write("base/updateo_ban", svg(GLYPHS["update"], GREY, (16, 16)), entries)

    for name, glyph in TITLE_GLYPHS.items():
        for suffix, colour in (("", TITLE_NORMAL), ("_hover", TITLE_HOVER), ("_ban", TITLE_BAN)):
            write(f"title/{name}{suffix}", svg(glyph, colour, (20, 20)), entries)

    logo = ('<svg xmlns="http://www.w3.org/2000/svg" width="120" height="30" viewBox="0 0 120 30">'
            '<rect x="4" y="6" width="26" height="18" rx="4" fill="#15a4fa"/>'
            '<circle cx="17" cy="15" r="6" fill="#FFFFFF"/><circle cx="17" cy="15" r="3" fill="#0b6fb0"/>'
            '<rect x="36" y="9" width="70" height="4" rx="2" fill="#FFFFFF"/>'
            '<rect x="36" y="17" width="48" height="4" rx="2" fill="#d8f0ff"/></svg>\n')
    write("base/logo", logo, entries)

    player = ('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">'
              '<circle cx="16" cy="16" r="14" fill="#15a4fa"/>'
              '<path d="M12.5 9.5v13l10.5-6.5z" fill="#FFFFFF"/></svg>\n')
    write("ico/player", player, entries)

    lines = ['<!DOCTYPE RCC><RCC version="1.0">', '<qresource prefix="/">',
             '    <file>qss/flatwhite.css</file>', '    <file>qss/lightblue.css</file>']
    for alias, path in entries:
        lines.append(f'    <file alias="{alias}">{path}</file>')
    lines += ['</qresource>', '</RCC>']
    with open(os.path.join(ROOT, "resources.qrc"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
