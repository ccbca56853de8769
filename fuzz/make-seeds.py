#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the test data, into fuzz/corpus/<target>/.

frames: the golden frame tables as byte streams in the input layout of the frames target (a
head byte choosing the model, then chunks, each a length byte and its bytes): one file per
frame, split in two at a place that varies from frame to frame, and one file per model holding
all of its frames in chunks of 16 bytes. paradox_table: the tables of tests/data/tables as they
are. texts: a few typical limit texts. expressions: math channels, typical and hostile.
Run again after the tables change; the files it writes are kept in the repository."""
import os
import shutil

here = os.path.dirname(os.path.abspath(__file__))
data = os.path.join(here, '..', 'tests', 'data')
corpus = os.path.join(here, 'corpus')

# the order of the model table; the head byte's low nibble picks one, bit 4 is the variant box
models = ['KR31A', 'KR31E', 'PAX-900', '22-85', 'TS510/530', 'KR47B', 'KR31D', 'KR31F', 'KR31G']
VARIANT = 0x10


def head(boxes):
    b = 0
    for box in boxes.split('+'):
        if box == 'IF7263x':
            b |= VARIANT
        else:
            b |= models.index(box)
    return b


def segment_bytes(frame):
    # the low nibble from the text, the high nibble the position tag 1..E
    n = len(frame)
    return bytes(((min(i + 1, 13) if i < n - 1 else 14) << 4) | int(c, 16) for i, c in enumerate(frame))


def digit_bytes(frame):
    # the line feed of the previous frame first, printable bytes, the carriage return last
    out = []
    for i, c in enumerate(frame):
        v = int(c, 16)
        if i == 0 and v == 0xA:
            out.append(0x0A)
        elif i == len(frame) - 1 and v == 0xD:
            out.append(0x0D)
        else:
            out.append(0x30 | v)
    return bytes(out)


def chunks(stream, sizes):
    out = bytearray()
    i = 0
    k = 0
    while i < len(stream):
        n = sizes[k % len(sizes)]
        out.append(n)
        out += stream[i:i + n]
        i += n
        k += 1
    return bytes(out)


def rows(name):
    with open(os.path.join(data, name)) as f:
        for line in f:
            if line.startswith('#') or not line.strip():
                continue
            yield line.rstrip('\n').split('\t')


def write(target, name, content):
    folder = os.path.join(corpus, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(content)


def main():
    shutil.rmtree(corpus, ignore_errors=True)
    streams = {}
    frames = [(head('KR31E'), segment_bytes(r[0])) for r in rows('segment_frames.tsv')]
    frames += [(head(r[1]), digit_bytes(r[0])) for r in rows('digit_frames.tsv')]
    for k, (h, frame) in enumerate(frames):
        cut = 1 + k % (len(frame) - 1)
        write('frames', 'frame_%03d' % k, bytes([h]) + chunks(frame, [cut, len(frame) - cut]))
        streams.setdefault(h, bytearray()).extend(frame)
    for h, stream in streams.items():
        write('frames', 'stream_%02x' % h, bytes([h]) + chunks(bytes(stream), [16]))
    # every model with the first digit and segment frames, so each profile starts from a seed
    seg = next(f for h, f in frames if h == head('KR31E'))
    dig = next(f for h, f in frames if h == head('KR47B'))
    for m in range(len(models)):
        write('frames', 'model_%d' % m, bytes([m]) + chunks(seg + dig, [7]))

    tables = os.path.join(data, 'tables')
    for name in sorted(os.listdir(tables)):
        with open(os.path.join(tables, name), 'rb') as f:
            write('paradox_table', name, f.read())

    for k, text in enumerate(['4000', '-4000', '+250', '-', '', '25-', '2147483647', '-2147483648',
                              '2147483648', '00012', '1 2']):
        write('texts', 'limit_%02d' % k, bytes([0]) + text.encode())
    for k, text in enumerate(['10', '0', '', '-', '+', '+5', '-5', '+-5', '2147483648', '1a']):
        write('texts', 'interval_%02d' % k, bytes([1]) + text.encode())
    # points per page, with 0, 997 and 83,748 points in the chart
    for k, text in enumerate(['100', '0', '', ' 250 ', '-1', '2147483647', '1e3']):
        write('texts', 'perpage_%02d' % k, bytes([2 + 3 * [0, 1, 84][k % 3]]) + text.encode())

    # math channels: typical ones, loops, and texts past the length and depth limits
    expressions = {
        'power': 'P=U * I\nE=integral(P)\nR=[M-1] / I\n',
        'functions': 'A=abs(U - 2) + sqrt(U * U) * 1.5e3\nB=-(-U) + +I\n',
        'loop': 'A=B + 1\nB=C * 2\nC=A - U\n',
        'itself': 'X=X + [M-1]\n',
        'deep': 'D=' + '(' * 20000 + 'U' + ')' * 20000 + '\n',
        'minus': 'N=' + '-' * 30000 + 'U\n',
        'terms': 'T=' + '+'.join(['U'] * 25000) + '\n',
        'near_limits': 'L=' + '(' * 40 + 'U' + ')' * 40 + '\nM=' + '+'.join(['I'] * 499) + '\n',
    }
    for name, text in expressions.items():
        write('expressions', name, text.encode())

    # broker messages: a reading, its repeat, an older one, a status, hostile fields and names
    def message(client, payload, status=False):
        return bytes([len(client)]) + client + bytes([len(payload) & 0xFF, len(payload) >> 8]) + payload + \
            bytes([1 if status else 0])
    reading = b'{"seq":%d,"time":"2026-11-30T00:0%d:00.5+01:00","display":"1.234","value":1.234,' \
              b'"unit":"kV","acdc":"DC","range":"AUTO","overload":false,"counts":1234,"model":"KR31G"}'
    write('broker_message', 'in_order', message(b'U', b'online', True) + message(b'U', reading % (1, 1)) +
          message(b'U', reading % (2, 2)) + message(b'U', reading % (2, 2)) + message(b'U', reading % (1, 1)))
    write('broker_message', 'overload', message(b'I', b'{"time":"2026-11-30T00:00:00Z","display":"0.L",'
                                                      b'"value":null,"unit":"M\xce\xa9","overload":true}'))
    write('broker_message', 'hostile', message(b'a[1]=\nb', b'{"time":"9999-12-31T23:59:59Z","value":1e308,'
                                                             b'"unit":"V\\n2026,x"}') +
          message(b'\xc2\x85', b'offline', True) + message(b'x', b'{"value":NaN}'))


main()
