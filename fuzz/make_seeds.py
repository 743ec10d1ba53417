#!/usr/bin/env python3
"""Writes the made-up seed inputs of the fuzz targets into corpus/<target>/.

Run from anywhere; files are overwritten, never removed. The third-party
archives in corpus/zip_reader (origin__name) and the legacy streams taken from
them (corpus/legacy/origin__*) were copied, not made here; see corpus/README.md.
"""
import os, struct, zipfile, zlib, io

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def comment(spelled):
    return bytes({'F': 0x8C, 'G': 0xA5, 'N': 0xA7, 'C': 0xBF}.get(c, ord(c)) for c in spelled)


# --- zip_reader: cabinets as zipfile writes them -----------------------------------
def cabinet(entries, method):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', method) as z:
        for name, data, note in entries:
            info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
            info.compress_type = method
            info.comment = note
            z.writestr(info, data)
    return buf.getvalue()


items = [('NewItems/Item0', b'hello\r\n' * 20, comment('F1FCG3GC')),
         ('Work/Code/Snippet', bytes(range(256)), comment('F2FCG4GCNa noteNC')),
         ('Caf\u00e9/Men\u00fc', b'', comment('G14GCF1FC'))]
put('zip_reader', 'cabinet-deflated.zip', cabinet(items, zipfile.ZIP_DEFLATED))
put('zip_reader', 'cabinet-stored.zip', cabinet(items, zipfile.ZIP_STORED))
put('zip_reader', 'empty.zip', b'PK\x05\x06' + bytes(18))
# User glyphs 22-25 in the glyph fields, a note after one, and a field that is no number.
glyphs = [('NewItems/Item0', b'one', comment('G22GCF1FC')),
          ('NewItems/Item1', b'two', comment('G23GCF1FCNgone glyphNC')),
          ('Work/Item2', b'three', comment('F2FCG24GC')),
          ('Work/Item3', b'four', comment('G25GCF1FC')),
          ('Work/Item4', b'five', comment('G2xGCF1FC'))]
put('zip_reader', 'user-glyphs.zip', cabinet(glyphs, zipfile.ZIP_DEFLATED))

# --- inflate: two bytes of room (in 64-byte units), then raw Deflate ---------------
texts = [b'', b'a', b'hello hello hello hello\n' * 40, bytes(range(256)) * 8,
         b'The quick brown fox jumps over the lazy dog. ' * 30 + bytes(300)]
for k, text in enumerate(texts):
    for level in (0, 1, 6, 9):
        for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FIXED):
            c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
            raw = c.compress(text) + c.flush()
            room = len(text) // 64 + 1
            put('inflate', f'text{k}-level{level}-s{strategy}', struct.pack('<H', room) + raw)
# Outputs beyond the streaming decoder's window, so that it slides: numbered
# lines, a random block repeated (matches reaching far back), zeros.
rand = __import__('random').Random(5)
block = bytes(rand.getrandbits(8) for _ in range(30000))
longs = {'lines': ''.join(f'line {i * 7919 % 100003} of the long seed\n' for i in range(12000)).encode(),
         'far-repeats': block * 4, 'zeros': bytes(1 << 20)}
for name, text in longs.items():
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    put('inflate', f'long-{name}', struct.pack('<H', len(text) // 64 + 1) + c.compress(text) + c.flush())

# --- deflate: a level byte, a shape byte (copies, changes, a fresh thread), data ---
# (texts as for inflate; the shapes reach long matches, long runs and slides)
for k, text in enumerate(texts):
    for level, shape in ((1, 0x00), (2, 0x41), (4, 0x9F), (6, 0x20), (6, 0x63), (8, 0x00), (9, 0x25)):
        put('deflate', f'text{k}-level{level}-shape{shape:02x}', bytes([level - 1, shape]) + text)
put('deflate', 'pixels-level9', bytes([8, 0x3F]) + (bytes(97) + b'\xff\x80\x10' * 11) * 3)

# --- picture: BMP, RLE, ICO, EMF, placeable WMF, RIFF palette, foreign headers -------
def bmp(width, height, bits, compression, palette, pixels):
    offset = 14 + 40 + 4 * len(palette)
    head = b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, compression, len(pixels), 0, 0,
                       len(palette), 0)
    return head + info + b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette) + pixels


grey = [(i * 17, i * 17, i * 17) for i in range(16)]
put('picture', 'bmp24.bmp', bmp(3, 2, 24, 0, [], bytes(range(12)) + bytes(12)[:0] + bytes(range(12))))
put('picture', 'bmp1.bmp', bmp(9, 3, 1, 0, [(0, 0, 0), (255, 255, 255)], b'\xAA\x80\0\0' * 3))
put('picture', 'bmp4.bmp', bmp(5, 2, 4, 0, grey, b'\x01\x23\x40\0' * 2))
put('picture', 'bmp32-fields.bmp',
    b'BM' + struct.pack('<IHHI', 14 + 40 + 12 + 8, 0, 0, 66) +
    struct.pack('<IiiHHIIiiII', 40, 2, -1, 1, 32, 3, 8, 0, 0, 0, 0) +
    struct.pack('<III', 0xFF0000, 0xFF00, 0xFF) + bytes(range(8)))
put('picture', 'rle8.bmp', bmp(4, 3, 8, 1, grey, bytes([3, 1, 0, 0, 0, 3, 4, 5, 6, 0, 0, 2, 1, 1, 2, 9, 0, 1])))
put('picture', 'rle4.bmp', bmp(8, 2, 4, 2, grey, bytes([4, 0x12, 0, 4, 0x34, 0x56, 0, 0, 8, 0xAB, 0, 1])))
icon_image = struct.pack('<IiiHHIIiiII', 40, 2, 4, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(range(16)) + bytes(8)
put('picture', 'icon.ico', struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 2, 2, 0, 0, 1, 32,
                                                                     len(icon_image), 22) + icon_image)
emf_header = (struct.pack('<II', 1, 108) + struct.pack('<iiii', 0, 0, 9, 9) + struct.pack('<iiii', 0, 0, 254, 254) +
              struct.pack('<IIIIHH', 0x464D4520, 0x10000, 108 + 20, 2, 1, 0) + struct.pack('<III', 0, 0, 0) +
              struct.pack('<iiii', 1920, 1080, 508, 286) + struct.pack('<III', 0, 0, 0) + struct.pack('<ii', 508000, 286000))
put('picture', 'frame.emf', emf_header + struct.pack('<IIIII', 14, 20, 0, 16, 20))
wmf = struct.pack('<HHHIHIH', 1, 9, 0x300, 12, 0, 3, 0) + struct.pack('<IH', 3, 0)
placeable = struct.pack('<IHhhhhHI', 0x9AC6CDD7, 0, 0, 0, 100, 50, 1440, 0)
checksum = 0
for k in range(10):
    checksum ^= struct.unpack_from('<H', placeable, 2 * k)[0]
put('picture', 'placeable.wmf', placeable + struct.pack('<H', checksum) + wmf)
palette = struct.pack('<HH', 0x300, 2) + bytes([255, 0, 0, 0, 0, 0, 255, 0])
put('picture', 'palette.pal', b'RIFF' + struct.pack('<I', 4 + 8 + len(palette)) + b'PAL data' +
    struct.pack('<I', len(palette)) + palette)
put('picture', 'header.png', b'\x89PNG\r\n\x1a\n' + struct.pack('>I', 13) + b'IHDR' + struct.pack('>II', 640, 480) + bytes(5))
put('picture', 'header.gif', b'GIF89a' + struct.pack('<HH', 32, 16) + bytes(4))
put('picture', 'text', b'\x01some text\r\nsecond line\0slack')

# --- metadata: comment, a zero byte, then the note / typed path ---------------------
samples = [(comment('F1FCG3GC'), b'NewItems\\Item0'),
           (comment('G14GCF2FCNold noteNC'), b'Work/Meeting 10:30'),
           (comment('NunclosedF7FC'), b'C:\\D:\\\\server\\share\\x'),
           (comment('F12x4FCG-1GC'), 'caf\u00e9 \u09ff &#38; line\r\nnext'.encode()),
           (b'', b'a:b:c\\\\\\d\\'),
           (comment('FFCGGCNNC'), b'\xe9\x8c\xa5\xa7\xbf*?<a-z>'),
           # user glyphs B, A and C, A deleted (the text's top bits)
           (comment('G23GCF1FCNa noteNC'), b'\x01\x80\x02'),
           (comment('F2FCG24GC'), b'\x01\x80\x02Work\\Item')]
for k, (c, text) in enumerate(samples):
    put('metadata', f'sample{k}', c + b'\0' + text)

# --- highlight: mode byte, text, zero byte, then edits ------------------------------
def edit(line_from, col_from, line_to, col_to, text):
    return struct.pack('<HHHHB', line_from, col_from, line_to, col_to, len(text)) + text


texts = {
    1: b"program p;\n{ comment\nstill }\nbegin (* x *) writeln('a'); end.",
    2: b'#include <x>\nint main() { /* multi\nline */ return 0x1F; }\n"str',
    3: b'SELECT * FROM t /* c\n*/ WHERE a = 1; -- x',
    4: b'def f(x):\n    """doc\n    more"""\n    return None',
    5: b'class A { /** doc\n */ void f() { String s = "x"; } }',
    6: b"Dim x As String ' comment\nFormat x",
    7: b'<a href="x">text &amp; more <!-- c\n--> <b\nclass="y">',
    8: b'my $x = 1; # c\nprint @list; foreach (%h) {}',
    9: b'[Section]\nkey=value\n; comment',
}
for mode, text in texts.items():
    edits = (edit(0, 0, 0, 0, b'{') + edit(1, 2, 2, 1, b'*/\n/*') + edit(0, 3, 0, 3, b'"\n\'') +
             edit(2, 0, 3, 0, b''))
    put('highlight', f'mode{mode}', bytes([mode]) + text + b'\0' + edits)

# --- zip_update: the operation byte (add, rename, remove, repair; the top bit makes
# a rename a note and a removal a glyph shift; bits 2-6 pick the entry), then an
# archive: the reader's seeds, each under every operation --------------------------
reader_seeds = os.path.join(HERE, 'corpus', 'zip_reader')
for name in sorted(os.listdir(reader_seeds)):
    with open(os.path.join(reader_seeds, name), 'rb') as f:
        archive = f.read()
    for operation in range(4):
        put('zip_update', f'{name}.op{operation}', bytes([operation | 4]) + archive)
    put('zip_update', f'{name}.note', bytes([1 | 4 | 0x80]) + archive)
    put('zip_update', f'{name}.reindex', bytes([2 | 4 | 0x80]) + archive)

# --- settings: a registry file, a zero byte, a settings file, a zero byte, a layout
# file, as the program writes them, then with damage of the kinds met by hand -------
registry = (b'; Quiverbox registry: CurrentUser\n\n'
            b'[Software\\Quiverbox\\FileCabinets\\FileHistory]\n'
            b'"File1"="/home/u/clips.qvf"\n"File2"="/tmp/a \\"b\\"\\x01\\n.qvf"\n@="default"\n')
settings = (b'[TMainForm]\nFlags=0\nShowCmd=3\nPixelsPerInch=96\nMinMaxPos=-1,-1,-1,-1\n'
            b'NormPos=10,20,610,470\nFormVersion=0\nZip1_ZipName=/home/u/clips.qvf\n'
            b'LSplitter_Hint=/home/u/old.qvf\nCurrentDrawerMi_Checked=True\n'
            b'GlobalHotkey_ShortCut=Ctrl+Alt+F5\nKeepInTrayMi_Checked=1\n\n'
            b'[TViewerForm]\nNormPos=40,50,426,299\n\n[TTabDockHost]\nNormPos=300,0,509,345\n\n'
            b'[TMainFormSpeedBar1]\nPosition=2\nWidth=31\nVersion=1\nPixelsPerInch=96\nBtnWidth=24\n'
            b'BtnHeight=23\nButton1=ExitSi,3,3\nButton2=OpenSi,27,3\nButton3=HelpSi,51,3\nCount=3\n')
layout = (b'LeftDockPanel.Width=200\nLeftDockPanel.DockClients=DockableForm;\n'
          b'RightDockPanel.Width=209\nRightDockPanel.DockClients=TabDockHost;\n'
          b'BottomDockPanel.DockClients=0\nBottomDockPanel.Height=0\n'
          b'Container.Visible=1\nContainer.Top=200\nContainer.Width=209\nContainer.Height=345\n'
          b'Container.DockClients=ViewerForm;NoteForm;\n'
          b'Viewer.Visible=1\nNote.Visible=1\nExplorer.Visible=1\n')
put('settings', 'as-written', registry + b'\0' + settings + b'\0' + layout)
put('settings', 'damaged',
    b'[Software\\\\x]\n"a"="\\xZZ"\n[]\n"b"=\n@=""junk\n\0'
    b'[TMainForm\nNormPos=1,2,3\n[TNoteForm]\nNormPos=5,5,-5,99999999999\nShowCmd=2\n'
    b'[TMainFormSpeedBar1]\nCount=99999\nButton1=Nobody,x,y\nButton2=HelpSi\nButton3=HelpSi,1,1\n'
    b'GlobalHotkey_ShortCut=Shift+A\n\0'
    b'LeftDockPanel.Width=12abc\r\nleftdockpanel.dockclients=dockableFORM;Nobody;NoteForm;ViewerForm\r\n'
    b'RightDockPanel.DockClients=NoteForm;\r\nConjoin.Visible=1\r\nConjoin.DockClients=ViewerForm;\r\n'
    b'Container.Width=-5\r\nNote.Visible=yes\r\n')

# --- finder: a byte of changes, the query, then each item's path, note and text,
# all zero-separated ------------------------------------------------------------------
def finder_seed(changes, query, items):
    parts = [query] + [field for item in items for field in item]
    return bytes([changes]) + b'\0'.join(parts)


clips = [(b'NewItems\\Item0', b'', b'Hello World\r\nsecond line'),
         (b'Work\\Stra\xc3\x9fe', 'Σίσυφος note'.encode(), b'STRASSE and the \xe2\x84\xaaelvin sign'),
         (b'Work\\Code', b'snippet', b'int main() { return 0; }\n' * 8),
         (b'NewItems\\Item1', b'', b'\xff\xfe not UTF-8 \xc3'),
         (b'Work\\Long', b'', b'abcdefghijklmnopqrstuvwxyz0123456789' * 4 + b'needle')]
for name, query in [('plain', b'world'), ('folded', b'strasse'), ('sigma', 'ΣΊΣΥΦΟΣ'.encode()),
                    ('kelvin', b'kelvin'), ('long', b'xyz0123456789needle'), ('empty', b'')]:
    put('finder', name, finder_seed(3 if name != 'plain' else 0, query, clips))
