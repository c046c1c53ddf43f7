#!/usr/bin/python3
"""bench_web: the sample book's web folder in headless Chromium on loopback. Prints, and judges
nothing: navigation to page 1 painted (median of 5) next to an empty page with Ruffle alone
playing a one-colour movie, in the same run and the same browser, interleaved; a forward turn,
key to page painted (median and p95); and the folder's size over the book's content. "Painted"
is the first screenshot that shows it, so both sides of a ratio carry the same screenshot cost.

usage: bench_web.py PAGETURN-PACK SOURCE-ROOT WORKDIR"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
PACK, ROOT, WORK = sys.argv[1:4]
sys.argv[1:4] = [os.path.join(WORK, "unused")] * 3  # the test module reads its own arguments
import web_page_test as page  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402

EMPTY_COLOUR = (0x20, 0xA0, 0x50)
EMPTY_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Ruffle alone</title><link rel="icon" href="data:,">
<style>html, body { margin: 0; width: 100%; height: 100%; } ruffle-player { display: block;
width: 100%; height: 100%; }</style><script src="ruffle/ruffle.js"></script></head>
<body><script src="empty.js"></script></body></html>
"""
EMPTY_SCRIPT = """window.RufflePlayer.config = { polyfills: false, publicPath: "ruffle/" };
const player = window.RufflePlayer.newest().createPlayer();
document.body.appendChild(player);
player.ruffle().load({ url: "empty.swf", autoplay: "on", unmuteOverlay: "hidden",
  splashScreen: false, letterbox: "off" });
"""


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    player = os.path.join(WORK, "player.exe")
    with open(player, "wb") as f:
        f.write(b"MZ\x90\0 image " * 8)
    pages = os.path.join(WORK, "pages")
    subprocess.run([sys.executable, os.path.join(ROOT, "sample", "draw-pages.py"), pages,
                    "--pages", "6", "--jpeg-even"], check=True, capture_output=True)
    book = os.path.join(WORK, "Sample.exe")
    folder = os.path.join(WORK, "web")
    for args in (["make", pages, "-o", book, "--player", player, "--runtime", player],
                 ["web", book, "-o", folder]):
        r = subprocess.run([PACK, *args], capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit("bench_web: " + r.stderr)
    with open(os.path.join(folder, "empty.html"), "w") as f:
        f.write(EMPTY_PAGE)
    with open(os.path.join(folder, "empty.js"), "w") as f:
        f.write(EMPTY_SCRIPT)
    with open(os.path.join(folder, "empty.swf"), "wb") as f:
        f.write(page.swf(600, 800, [page.swf_tag(9, bytes(EMPTY_COLOUR)),
                                    page.solid_rectangle(1, 600, 800, EMPTY_COLOUR),
                                    page.place(1, 1), page.swf_tag(1)]))

    server = page.Server(folder)
    browser = page.chromium(os.path.join(WORK, "profile"))
    try:
        width, height = browser.execute_script("return [innerWidth, innerHeight]")
        band = (width // 2, int(height * 0.06))

        def painted_after(start, colour, point):
            while time.perf_counter() - start < 180:
                if page.close(page.pixels(browser.get_screenshot_as_png(), [point])[0], colour):
                    return time.perf_counter() - start
            raise RuntimeError("never painted")

        def navigate(address, colour, point):
            browser.get("about:blank")
            start = time.perf_counter()
            browser.get(server.url + address)
            return painted_after(start, colour, point)

        book_page = lambda: navigate("", page.BANDS[0], band)  # noqa: E731
        empty_page = lambda: navigate("empty.html", EMPTY_COLOUR, (width // 2, height // 2))  # noqa: E731
        cold_book = book_page()
        cold_empty = empty_page()
        books, empties = [], []
        for _ in range(5):
            books.append(book_page())
            empties.append(empty_page())
        b, e = statistics.median(books), statistics.median(empties)
        print("first visit (cold caches): book page 1 painted %.0f ms, Ruffle alone %.0f ms" %
              (cold_book * 1000, cold_empty * 1000))
        print("navigation to page 1 painted, median of 5: book %.0f ms, Ruffle alone %.0f ms, "
              "ratio %.2f" % (b * 1000, e * 1000, b / e))

        book_page()
        turns = []
        for _ in range(4):
            for number in range(2, 7):
                start = time.perf_counter()
                ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
                turns.append(painted_after(start, page.BANDS[number - 1], band))
            ActionChains(browser).send_keys(Keys.HOME).perform()
            painted_after(time.perf_counter(), page.BANDS[0], band)
        turns.sort()
        p95 = turns[min(len(turns) - 1, int(round(0.95 * len(turns))) - 1)]
        print("forward turn, key to page painted, %d turns: median %.0f ms, p95 %.0f ms" %
              (len(turns), statistics.median(turns) * 1000, p95 * 1000))
    finally:
        browser.quit()
        server.stop()

    def size(path):
        return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(path)
                   for n in names)
    for extra in ("empty.html", "empty.js", "empty.swf"):
        os.remove(os.path.join(folder, extra))
    total = size(folder)
    ruffle = size(os.path.join(folder, "ruffle"))
    content = total - ruffle - sum(os.path.getsize(os.path.join(folder, n))
                                   for n in ("index.html", "pageturn.js", "pageturn.css"))
    print("folder %d bytes over the book's content %d bytes (%.0f x); Ruffle %d bytes, "
          "the page %d bytes" % (total, content, total / content, ruffle,
                                 total - ruffle - content))


main()
