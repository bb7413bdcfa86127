#!/usr/bin/env bash
# The camera-card benchmark: real files made by real tools (Pillow and exiftool for the photos,
# ImageMagick, Ghostscript, sox, lame, oggenc, flac, ffmpeg, 7zz, gzip, Python's zipfile and
# sqlite3) copied by mtools onto a 512 MiB FAT32 volume, which is then quick-formatted with
# mkfs.fat. corvello-cli carve, PhotoRec and foremost carve it in one run; for each: the files
# back byte for byte, the files back whole (perhaps with bytes after them), the bytes written
# and the time, beside a plain read of the image (cat). Then 256 MiB of seeded noise: every
# file carved from it is a false one.
#   bench/carve/camera-card.sh [BUILD_DIR]     (a Release build; default build/release)
# Debian packages: python3-pil libimage-exiftool-perl imagemagick ghostscript sox lame
# vorbis-tools flac ffmpeg 7zip mtools dosfstools testdisk foremost.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
if [ ! -x "$build/src/corvello-cli" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVELLO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target corvello-cli corvello-carve-bench corvello_file_settings >/dev/null
fi
cli=$(cd "$build/src" && pwd)/corvello-cli
work=${CARVE_BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/corvello-camera.XXXXXX")}
[ -n "${CARVE_BENCH_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
files=$work/files
mkdir -p "$files"

# --- The real files -------------------------------------------------------------------------
/usr/bin/python3 - "$files" <<'PY'
import io, os, random, sqlite3, struct, sys, zipfile
from PIL import Image, ImageDraw, ImageFilter
d = sys.argv[1]
rng = random.Random(1912)

def photo(w, h, seed):
    r = random.Random(seed)
    img = Image.new("RGB", (w, h), (r.randrange(256), r.randrange(256), r.randrange(256)))
    draw = ImageDraw.Draw(img)
    for _ in range(60):
        x, y = r.randrange(w), r.randrange(h)
        s = r.randrange(w // 20, w // 3)
        draw.ellipse((x - s, y - s, x + s, y + s), fill=(r.randrange(256), r.randrange(256), r.randrange(256)))
    img = img.filter(ImageFilter.GaussianBlur(w / 200))
    grain = Image.effect_noise((w, h), 24).convert("RGB")
    return Image.blend(img, grain, 0.12)

os.makedirs(f"{d}/DCIM/100CORV", exist_ok=True)
for k in range(1, 31):
    w, h = rng.choice([(1600, 1200), (2048, 1536), (1280, 960), (1920, 1080)])
    photo(w, h, k).save(f"{d}/DCIM/100CORV/IMG_{k:04d}.JPG", quality=rng.choice([85, 90, 95]))
for k in (1, 2):
    photo(1024, 768, 100 + k).save(f"{d}/DCIM/100CORV/PROG_{k:04d}.JPG", quality=88, progressive=True)
# Multi-picture files (MPF): a large preview after the main picture, as many cameras write.
for k in (1, 2):
    main = photo(1600, 1200, 120 + k)
    main.save(f"{d}/DCIM/100CORV/DSCF{k:04d}.JPG", "MPO", save_all=True, append_images=[main.resize((640, 480))], quality=90)
os.makedirs(f"{d}/PICTURES", exist_ok=True)
for k in range(1, 7):
    img = photo(rng.choice([640, 800, 1024]), rng.choice([480, 600]), 200 + k)
    if k % 2:
        img = img.quantize(colors=128)
    img.save(f"{d}/PICTURES/shot{k}.png")
for k in range(1, 4):
    frames = [photo(320, 240, 300 + k * 10 + f).quantize(colors=64) for f in range(1 + 2 * (k == 3))]
    frames[0].save(f"{d}/PICTURES/anim{k}.gif", save_all=True, append_images=frames[1:], duration=200, loop=0)
for k in range(1, 4):
    photo(400 + 37 * k, 300 + 11 * k, 400 + k).save(f"{d}/PICTURES/scan{k}.bmp")
photo(800, 600, 501).save(f"{d}/PICTURES/scan-lzw.tif", compression="tiff_lzw")
photo(640, 480, 502).save(f"{d}/PICTURES/scan-raw.tif")
os.makedirs(f"{d}/DOCS", exist_ok=True)
pages = [photo(600, 800, 600 + k) for k in range(3)]
pages[0].save(f"{d}/DOCS/album.pdf", save_all=True, append_images=pages[1:], resolution=100)
photo(500, 700, 610).save(f"{d}/DOCS/updated.pdf", resolution=100)
photo(500, 700, 611).save(f"{d}/DOCS/updated.pdf", append=True, resolution=100)
text = ("".join(rng.choice("abcdefghijklmnopqrstuvwxyz      \n") for _ in range(200000))).encode()
open(f"{d}/DOCS/notes.txt", "wb").write(text)
def zinfo(name): return zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
with zipfile.ZipFile(f"{d}/DOCS/backup.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zinfo("notes.txt"), text, zipfile.ZIP_DEFLATED)
    z.write(f"{d}/PICTURES/shot2.png", "shot2.png")
with zipfile.ZipFile(f"{d}/DOCS/photos.zip", "w", zipfile.ZIP_STORED) as z:
    z.comment = b"holiday photos"
    for k in (1, 2):
        z.write(f"{d}/DCIM/100CORV/IMG_{k:04d}.JPG", f"IMG_{k:04d}.JPG")
class Stream(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(f"{d}/DOCS/streamed.zip", "wb") as f, zipfile.ZipFile(Stream(f), "w", zipfile.ZIP_DEFLATED) as z:
    with z.open(zinfo("notes.txt"), "w") as w:
        w.write(text[:100000])
for k in (1, 2):
    with zipfile.ZipFile(f"{d}/DOCS/report{k}.docx", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zinfo("[Content_Types].xml"), '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
        z.writestr(zinfo("_rels/.rels"), '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>')
        body = "".join(f"<w:p><w:r><w:t>Paragraph {i} of report {k}.</w:t></w:r></w:p>" for i in range(400 * k))
        z.writestr(zinfo("word/document.xml"), '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>' + body + '</w:body></w:document>')
        z.write(f"{d}/PICTURES/shot1.png", "word/media/image1.png")
for k, page in ((1, 1024), (2, 4096), (3, 8192)):
    db = sqlite3.connect(f"{d}/DOCS/data{k}.db")
    db.execute(f"PRAGMA page_size={page}")
    db.execute("PRAGMA journal_mode=DELETE")
    db.execute("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT, blob BLOB)")
    db.executemany("INSERT INTO t (name, blob) VALUES (?, ?)",
                   [(f"row {i}", bytes(rng.randrange(256) for _ in range(rng.randrange(10, 600)))) for i in range(600 * k)])
    db.execute("DELETE FROM t WHERE id % 7 = 0")
    db.commit(); db.close()
PY
mkdir -p "$files/AUDIO" "$files/VIDEO"
for k in 1 2 3 4; do
  sox -q -n -r $((8000 * k)) -b 16 -c $((1 + k % 2)) "$files/AUDIO/rec$k.wav" synth $((2 + k)) sine $((200 * k))-$((300 * k)) tremolo 3
done
lame --quiet -V 4 "$files/AUDIO/rec2.wav" "$files/AUDIO/song1.mp3"
lame --quiet -b 128 --add-id3v2 --tt "Bench song" "$files/AUDIO/rec4.wav" "$files/AUDIO/song2.mp3"
oggenc -Q --serial 3 -o "$files/AUDIO/voice.ogg" "$files/AUDIO/rec3.wav"
flac -s -o "$files/AUDIO/voice.flac" "$files/AUDIO/rec1.wav"
for f in clip1.mp4 clip2.mp4 clip3.mov clip4.avi; do
  ffmpeg -v error -f lavfi -i "testsrc=size=640x360:rate=25" -f lavfi -i "sine=frequency=330:sample_rate=44100" -t 3 \
    -c:v mpeg4 -q:v 5 -c:a aac -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1 "$files/VIDEO/$f"
done
/usr/bin/convert -seed 7 -size 512x384 plasma:fractal -define tiff:tile-geometry=128x128 -compress zip "$files/PICTURES/tiled.tif"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$files/DOCS/letter.pdf" \
  -c "/Helvetica findfont 14 scalefont setfont 1 1 40 { 72 exch 18 mul 720 exch sub moveto (A letter recovered from a card.) show } for showpage"
(cd "$files/DOCS" && 7zz a -bso0 -bsp0 notes.7z notes.txt && gzip -9 -n -k notes.txt && mv notes.txt.gz notes.gz && rm notes.txt)
# Thumbnails and camera tags for the photos.
for f in "$files"/DCIM/100CORV/*.JPG; do
  /usr/bin/convert "$f" -thumbnail 160x120 -quality 75 "$work/thumb.jpg"
  exiftool -q -overwrite_original -Make=Corvello -Model="Bench Camera" -DateTimeOriginal="2024:05:01 12:00:00" \
    "-ThumbnailImage<=$work/thumb.jpg" "$f"
done
rm -f "$work/thumb.jpg"

# --- The card: FAT32 by mtools, then quick-formatted ----------------------------------------
img=$work/card.img
rm -f "$img"
mkfs.fat -F 32 -n CAMERA -i 0CA4DCA4 -C "$img" $((512 * 1024)) >/dev/null
(cd "$files" && find . -type d ! -name . | sed 's|^\./||' | sort | while read -r dir; do mmd -i "$img" "::$dir"; done)
(cd "$files" && find . -type f | sed 's|^\./||' | sort | while read -r f; do mcopy -i "$img" "$f" "::$f"; done)
mkfs.fat -F 32 -n CAMERA -i 0CA4DCA5 "$img" >/dev/null
count=$(find "$files" -type f | wc -l)
real_bytes=$(find "$files" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
echo "card: $count real files, $real_bytes bytes, on a 512 MiB FAT32 volume (quick-formatted)"

noise=$work/noise.img
/usr/bin/python3 -c "import random,sys; r = random.Random(20241210); [sys.stdout.buffer.write(r.randbytes(1 << 20)) for _ in range(256)]" >"$noise"

now() { date +%s.%N; }
best() {  # best COMMAND...: "WALL CPU", the shortest of five runs each, in seconds (the machine may be shared)
  /usr/bin/python3 - "$@" <<'PY'
import os, subprocess, sys, time
walls, cpus = [], []
for _ in range(5):
    t0 = time.perf_counter()
    p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(p.pid, 0)
    walls.append(time.perf_counter() - t0)
    cpus.append(usage.ru_utime + usage.ru_stime)
print(f"{min(walls):.4f} {min(cpus):.4f}")
PY
}
run_tools() {  # run_tools IMAGE OUTDIR: one line per tool: name seconds
  local image=$1 out=$2 t0 t1
  mkdir -p "$out/photorec"
  cat "$image" >/dev/null
  echo "cat $(best cat "$image")"
  echo "corvello $(best bash -c '"$0" carve "$1" --out "$(mktemp -d "$2.XXXXXX")"' "$cli" "$image" "$out/timed")"
  rm -rf "$out"/timed.*
  "$cli" carve "$image" --out "$out/corvello" >/dev/null 2>&1
  echo "scan $(best "$build/tools/corvello-carve-bench" "$image" "$build/data/FileSetting.txt")"
  t0=$(now); (cd "$out" && photorec /d "$out/photorec/recup" /cmd "$image" partition_none,options,paranoid,wholespace,search >/dev/null 2>&1) || true; t1=$(now)
  echo "photorec $(echo "$t1 - $t0" | bc -l)"
  t0=$(now); foremost -q -i "$image" -o "$out/foremost" >/dev/null 2>&1 || true; t1=$(now); echo "foremost $(echo "$t1 - $t0" | bc -l)"
}
run_tools "$img" "$work/card" >"$work/card-times"
run_tools "$noise" "$work/noise" >"$work/noise-times"

/usr/bin/python3 - "$files" "$work" "$real_bytes" <<'PY'
import hashlib, os, sys
files, work, real_bytes = sys.argv[1], sys.argv[2], int(sys.argv[3])
def walk(top):
    for root, _, names in os.walk(top):
        for n in names:
            yield os.path.join(root, n)
originals = {}
for p in walk(files):
    b = open(p, "rb").read()
    originals[p] = (hashlib.sha256(b).hexdigest(), b)
def read_times(path):
    out = {}
    for line in open(path):
        name, *values = line.split()
        out[name] = [float(v) for v in values]
    return out
times = read_times(f"{work}/card-times")
noise_times = read_times(f"{work}/noise-times")
def outputs(top):
    # foremost and PhotoRec write their own report files beside the carved ones.
    return [p for p in walk(top) if os.path.basename(p) not in ("audit.txt", "report.xml") and not p.endswith(".log")]
print(f"| | files back byte for byte | files back whole (maybe with bytes after) | bytes written | time (s) | throughput vs cat |")
print("|---|---|---|---|---|---|")
cat = times["cat"][0]
for tool in ("corvello", "photorec", "foremost"):
    outs = outputs(f"{work}/card/{tool}")
    exact, whole, written = set(), set(), 0
    heads = {}
    for p in outs:
        b = open(p, "rb").read()
        written += len(b)
        exact.add(hashlib.sha256(b).hexdigest())
        heads.setdefault(b[:4096], []).append(b)
    n_exact = sum(1 for h, _ in originals.values() if h in exact)
    n_whole = 0
    for h, b in originals.values():
        if any(o[:len(b)] == b for o in heads.get(b[:4096], [])):
            n_whole += 1
    t = times[tool][0]
    print(f"| {tool} | {n_exact} of {len(originals)} | {n_whole} of {len(originals)} | {written:,} ({written / real_bytes:.2f}x) | {t:.3f} | {cat / t:.2f} |")
print(f"| cat | | | | {cat:.3f} | 1.00 |")
scan, scan_cpu = times["scan"]
cat_cpu, corvello_cpu = times["cat"][1], times["corvello"][1]
print(f"\ncorvello scan alone (no files written): {scan:.3f} s, {cat / scan:.2f}x the throughput of cat ({cat:.3f} s)")
print(f"processor time, best of five: cat {cat_cpu:.3f} s, corvello scan {scan_cpu:.3f} s ({cat_cpu / max(scan_cpu, 1e-3):.2f}x), "
      f"corvello carve with saving {corvello_cpu:.3f} s")
print("\n256 MiB of seeded noise: files carved (all false)")
for tool in ("corvello", "photorec", "foremost"):
    outs = outputs(f"{work}/noise/{tool}")
    print(f"  {tool}: {len(outs)} files, {sum(os.path.getsize(p) for p in outs):,} bytes, {noise_times[tool][0]:.2f} s")
print(f"  corvello scan alone: {noise_times['scan'][0]:.3f} s; cat: {noise_times['cat'][0]:.3f} s")
PY
