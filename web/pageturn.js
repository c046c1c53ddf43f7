// Plays a book that `pageturn-pack web` exported: Ruffle, in ruffle/ beside this page, plays
// book.swf, and this script does what the Windows player does around it (full screen on the
// movie's FSCommand, the keyboard focus) and keeps the page shown in the address (#p=N).
"use strict";

(function () {
  const book = JSON.parse(document.getElementById("pageturn-book").textContent);
  const stage = document.getElementById("stage");

  function showNotice(paragraphs) {
    const notice = document.getElementById("notice");
    notice.replaceChildren(
      ...paragraphs.map((text) => {
        const p = document.createElement("p");
        p.textContent = text;
        return p;
      }),
    );
    notice.hidden = false;
    stage.hidden = true;
  }

  // Browsers fetch neither WebAssembly nor the movies from disk, and Ruffle's own error panel
  // links out of the folder: say in plain words what to do instead.
  if (location.protocol === "file:") {
    showNotice([
      "This book must be opened from a web server: a browser does not play it from a file on disk.",
      "To try it on this computer, start any static web server in this folder, for example " +
        "\"python3 -m http.server --bind 127.0.0.1 8000\", and open http://127.0.0.1:8000/.",
    ]);
    return;
  }
  if (typeof WebAssembly !== "object") {
    showNotice([
      "This book plays through WebAssembly, which this browser does not offer or has switched off.",
      "Open it in a current browser with WebAssembly enabled.",
    ]);
    return;
  }

  if (book.mode === 1) {
    stage.classList.add("sized");
    stage.style.width = book.width + "px";
    stage.style.height = book.height + "px";
  }

  function pageInAddress() {
    const match = /^#p=([1-9][0-9]{0,5})$/.exec(location.hash);
    return match ? Number(match[1]) : 0;
  }

  // Bundle names are found without regard to letter case, as the player finds them; web servers
  // are case-sensitive. A request for a name of the book in any case is rewritten to its name.
  function nameRules() {
    const escape = (text) => text.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
    return book.names.map((name) => {
      const url = new URL(name, document.baseURI).href;
      return [new RegExp("^" + escape(url) + "$", "i"), url.replace(/\$/g, "$$$$")];
    });
  }

  let player = null;
  let shownPage = 0;  // the page the movie last reported, 0 before its first
  let awaitedPage = 0;  // a page that back or forward asked the movie for

  // Toggles on the browser's state, not on the movie's words: after Esc left full screen, the
  // navigator still believes it is on and says "false" on the next F.
  function toggleFullScreen() {
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else {
      document.documentElement.requestFullscreen().catch(() => {});
    }
  }

  function onPage(number) {
    if (!(number > 0)) return;
    const hash = "#p=" + number;
    if (shownPage === 0 || number === awaitedPage || location.hash === hash) {
      history.replaceState(null, "", hash);
    } else {
      history.pushState(null, "", hash);
    }
    shownPage = number;
    awaitedPage = 0;
    document.body.dataset.page = String(number);
  }

  // Ruffle offers no call to go to a frame or set a variable: one page either way is a key sent
  // to the movie, a jump a new start at that page.
  function sendKey(key, keyCode) {
    for (const type of ["keydown", "keyup"]) {
      player.dispatchEvent(
        new KeyboardEvent(type, { key, code: key, keyCode, bubbles: true, composed: true }),
      );
    }
  }
  window.addEventListener("popstate", () => {
    const wanted = pageInAddress() || 1;
    if (!player || shownPage === 0 || wanted === shownPage) return;
    if (Math.abs(wanted - shownPage) === 1) {
      awaitedPage = wanted;
      if (wanted > shownPage) sendKey("ArrowRight", 39);
      else sendKey("ArrowLeft", 37);
    } else {
      location.reload();
    }
  });

  function start() {
    player = window.RufflePlayer.newest().createPlayer();
    stage.appendChild(player);
    player.onFSCommand = (command, args) => {
      if (command === "fullscreen") toggleFullScreen();
      else if (command === "page") onPage(Number(args));
    };
    const parameters = {};
    const page = pageInAddress();
    if (page > 0) parameters.page = String(page);
    player
      .ruffle()
      .load({
        url: "book.swf",
        parameters,
        publicPath: "ruffle/",
        polyfills: false,
        autoplay: "on",
        unmuteOverlay: "hidden",
        splashScreen: false,
        letterbox: "off",
        backgroundColor: book.background,
        scale: "showAll",
        allowScriptAccess: true,
        allowNetworking: "all",
        allowFullscreen: true,
        openUrlMode: "confirm",
        upgradeToHttps: false,
        warnOnUnsupportedContent: false,
        showSwfDownload: false,
        logLevel: "error",
        urlRewriteRules: nameRules(),
      })
      .then(() => {
        // The movie has the keyboard from the start, and the first click is the movie's.
        player.focus({ preventScroll: true });
        document.body.dataset.loaded = "yes";
      })
      .catch((error) => {
        showNotice(["The book could not be started: " + error]);
      });
    player.focus({ preventScroll: true });
  }

  window.RufflePlayer = window.RufflePlayer || {};
  window.RufflePlayer.config = { polyfills: false, publicPath: "ruffle/" };
  const script = document.createElement("script");
  script.src = "ruffle/ruffle.js";
  script.onload = start;
  script.onerror = () => showNotice(["The player files in ruffle/ beside this page are missing."]);
  document.head.appendChild(script);
})();
