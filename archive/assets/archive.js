/* The archive's script: the search of the start page, and the navigation of mail pages
   (neighbours by date and in the thread, the thread's tree). Data comes from the script
   files in ../data, loaded with <script> elements because pages opened from disk may not
   fetch. No network, no library. */
(function () {
  "use strict";
  if (window.QM && window.QM.started) return; // a page may load this more than once
  var me = document.currentScript;
  var base = me ? me.src.replace(/assets\/archive\.js(\?.*)?$/, "") : ""; // .../_archive/
  var root = base.replace(/_archive\/$/, "");
  /* years: [[year, mails, word files], ...]; a year's mails come in files of `per` rows
     ("m<year>-<part>.js"), its words in files by their first two letters ("w<year>-<n>.js"). */
  var db = { years: null, per: 1000, mails: {}, words: {}, threads: {} };
  var waiting = {};
  var QM = window.QM = {
    started: true,
    years: function (y, per) { db.years = y; db.per = per || 1000; done("data/years.js"); },
    mails: function (y, part, rows) {
      var all = db.mails[y] || (db.mails[y] = []);
      for (var k = 0; k < rows.length; k++) all[part * db.per + k] = rows[k];
      done("data/m" + y + "-" + part + ".js");
    },
    words: function (y, n, s) { db.words[y + "-" + n] = s; done("data/w" + y + "-" + n + ".js"); },
    threads: function (k, list) { db.threads[k] = list; done("data/t" + k + ".js"); }
  };
  function done(name) { var w = waiting[name]; if (w) { w.ok = true; w.resolve(); } }
  function load(name) {
    var w = waiting[name];
    if (w) return w.promise;
    w = waiting[name] = {};
    w.promise = new Promise(function (resolve, reject) {
      w.resolve = resolve;
      var s = document.createElement("script");
      s.src = base + name;
      s.async = true;
      s.onerror = function () { reject(new Error("cannot load " + name)); };
      document.head.appendChild(s);
    });
    return w.promise;
  }

  function yearOf(y) {
    for (var k = 0; k < db.years.length; k++) if (db.years[k][0] === y) return db.years[k];
    return [y, 0, 1];
  }
  /* The files holding the mails at the given places of a year. */
  function loadRows(y, places) {
    var parts = {};
    places.forEach(function (i) { parts[Math.floor(i / db.per)] = true; });
    return Promise.all(Object.keys(parts).map(function (p) { return load("data/m" + y + "-" + p + ".js"); }));
  }
  function loadYear(y) {
    var places = [];
    for (var i = 0; i < yearOf(y)[1]; i += db.per) places.push(i);
    return loadRows(y, places);
  }
  /* The word file of a word: the same sum as WordShard in the program that writes them. */
  function wordShard(w, files) {
    var a = w.codePointAt(0), b = w.codePointAt(a > 0xFFFF ? 2 : 1) || 0;
    return (a * 31 + b) % files;
  }

  /* Words: the same rules as the program that writes the word lists (SearchWords). */
  function fold(c) {
    if (c >= 65 && c <= 90) return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE && c !== 0xD7) return c + 32;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c % 2 === 0 ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 === 1 ? c + 1 : c;
    if (c === 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c !== 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
  }
  function isWordChar(c) {
    if (c < 0x80) return (c >= 48 && c <= 57) || (c >= 97 && c <= 122) || (c >= 65 && c <= 90);
    if (c <= 0xBF || c === 0xD7 || c === 0xF7 || c === 0xFFFD) return false;
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) ||
        (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20)) return false;
    return c < 0xD800 || c > 0xDFFF;
  }
  /* Words of text with their places: [{w, from, to}] (to: end index in the string). */
  function words(text) {
    var out = [], w = "", n = 0, from = 0, i = 0;
    function flush(at) { if (n >= 2 && n <= 40) out.push({ w: w, from: from, to: at }); w = ""; n = 0; }
    while (i < text.length) {
      var c = text.codePointAt(i), len = c > 0xFFFF ? 2 : 1;
      if (isWordChar(c)) { if (!n) from = i; w += String.fromCodePoint(fold(c)); n++; } else flush(i);
      i += len;
    }
    flush(i);
    return out;
  }

  function esc(s) {
    return String(s).replace(/[&<>"']/g, function (c) {
      return { "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" }[c];
    });
  }
  function href(page) { return root + page.split("/").map(encodeURIComponent).join("/"); }
  /* A row's page, relative to the root: pages in their year's folder are listed without it. */
  function pageOf(y, r) { return r[0].charAt(0) === "/" ? r[0].substring(1) : y + "/" + r[0]; }
  var B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  var LAST = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef", MORE = "ghijklmnopqrstuvwxyz0123456789+/";
  /* By character code: its value in B64, and as a digit of a difference (0-31 ends a
     number, 32-63 is a leading digit plus 32). */
  var B64V = new Int8Array(128), DIGV = new Int8Array(128);
  for (var ci = 0; ci < 64; ci++) { B64V[B64.charCodeAt(ci)] = ci; DIGV[(LAST + MORE).charCodeAt(ci)] = ci; }

  /* The places (in its year of `size` mails) of the mails holding word, or a word starting
     with it, in order. */
  function postings(list, word, prefix, size) {
    var out = [], key = "|" + word, at = list.indexOf(key);
    /* Words begun alike may share mails: marks in a byte per mail, read out in order (a
       common start of a word matches tens of thousands of places a year). */
    var seen = prefix ? new Uint8Array(size) : null;
    function add(v) { if (seen) seen[v] = 1; else out.push(v); }
    while (at >= 0) {
      var end = list.indexOf("|", at + 1), sep = at + 1;
      while (list[sep] !== ":" && list[sep] !== "=") sep++;
      /* The words are in order: the word itself, if there, comes before longer ones. */
      if (!prefix && sep !== at + key.length) break;
      if (list[sep] === ":") {
        /* Differences in base 32: a digit of LAST ends a number, one of MORE goes on. */
        var v = 0, d = 0;
        for (var k = sep + 1; k < end; k++) {
          var c = DIGV[list.charCodeAt(k)];
          if (c < 32) { v += d * 32 + c; add(v); d = 0; } else d = d * 32 + c - 32;
        }
      } else {
        for (var b = sep + 1; b < end; b++) {
          var bits = B64V[list.charCodeAt(b)], base = (b - sep - 1) * 6;
          if (bits) for (var j = 0; j < 6; j++) if (bits & (1 << j)) add(base + j);
        }
      }
      if (!prefix || !list.startsWith(key, end)) break;
      at = end;
    }
    if (seen) for (var i = 0; i < size; i++) if (seen[i]) out.push(i);
    return out;
  }
  function intersect(a, b) {
    var out = [], i = 0, j = 0;
    while (i < a.length && j < b.length) {
      if (a[i] === b[j]) { if (out[out.length - 1] !== a[i]) out.push(a[i]); i++; j++; }
      else if (a[i] < b[j]) i++; else j++;
    }
    return out;
  }
  function mark(text, terms) {
    var ws = words(text), out = "", at = 0;
    ws.forEach(function (x) {
      if (terms.some(function (t) { return x.w.startsWith(t); })) {
        out += esc(text.substring(at, x.from)) + "<mark>" + esc(text.substring(x.from, x.to)) + "</mark>";
        at = x.to;
      }
    });
    return out + esc(text.substring(at));
  }

  var LIMIT = 500, generation = 0;
  function search(query, box) {
    var mine = ++generation, started = performance.now();
    var terms = words(query).map(function (x) { return x.w; });
    box.removeAttribute("data-done");
    if (!terms.length) { box.innerHTML = ""; return; }
    /* The last word is taken as the start of a word while it is being typed. */
    var open = !/[\s]$/.test(query);
    load("data/years.js").then(function () {
      var years = db.years.map(function (y) { return y[0]; }).reverse(); // newest first
      var hits = {};
      /* In each year, the word files of the terms; then the mails of only as many of the
         newest hits as the first LIMIT rows need. */
      return Promise.all(years.map(function (y) {
        var files = yearOf(y)[2] || 1, need = {};
        terms.forEach(function (t) { need[wordShard(t, files)] = true; });
        return Promise.all(Object.keys(need).map(function (n) { return load("data/w" + y + "-" + n + ".js"); })).then(function () {
          var found = null;
          for (var t = 0; t < terms.length; t++) {
            var p = postings(db.words[y + "-" + wordShard(terms[t], files)] || "", terms[t], open && t === terms.length - 1,
                             yearOf(y)[1]);
            found = found === null ? p : intersect(found, p);
            if (!found.length) break;
          }
          if (found && found.length) hits[y] = found;
        }).catch(function () {});
      })).then(function () {
        if (mine !== generation) return;
        var total = 0, picks = [];
        years.forEach(function (y) {
          var h = hits[y]; if (!h) return;
          total += h.length;
          for (var k = h.length - 1; k >= 0 && picks.length < LIMIT; k--) picks.push([y, h[k]]);
        });
        var byYear = {};
        picks.forEach(function (p) { (byYear[p[0]] = byYear[p[0]] || []).push(p[1]); });
        return Promise.all(Object.keys(byYear).map(function (y) { return loadRows(+y, byYear[y]); })).then(function () {
          if (mine === generation) render(total, picks);
        });
      });
    });
    function render(total, picks) {
      var html = "<p>" + total + (total === 1 ? " mail" : " mails") +
        (total > LIMIT ? " (the newest " + LIMIT + " shown)" : "") + "</p>";
      if (picks.length) {
        html += '<table class="mails"><tbody>';
        picks.forEach(function (p) {
          var r = db.mails[p[0]][p[1]], page = pageOf(p[0], r);
          html += '<tr data-page="' + esc(page) + '"><td>' + esc(r[1]) + "<td>" + mark(r[2], terms) +
            '<td><a href="' + esc(href(page)) + '">' + mark(r[3] || "(no subject)", terms) + "</a><td>" + (r[5] ? "\u2713" : "") + "\n";
        });
        html += "</tbody></table>";
      }
      box.innerHTML = html;
      box.setAttribute("data-count", String(total));
      /* Milliseconds since the page began to load, and since the search began. */
      box.setAttribute("data-ms", String(Math.round(performance.now())));
      box.setAttribute("data-search-ms", String(Math.round(performance.now() - started)));
      box.setAttribute("data-done", "1");
    }
  }

  function queryOf(loc) {
    var m = /[#&?]q=([^&#]*)/.exec(loc.hash) || /[?&]q=([^&#]*)/.exec(loc.search);
    if (!m) return "";
    try { return decodeURIComponent(m[1].replace(/\+/g, " ")); } catch (e) { return m[1]; }
  }
  function startSearch() {
    var input = document.getElementById("q"), box = document.getElementById("results");
    if (!input || !box) return;
    var q = queryOf(location);
    input.value = q;
    if (q) search(q, box);
    var timer = 0;
    input.addEventListener("input", function () {
      clearTimeout(timer);
      timer = setTimeout(function () {
        var v = input.value;
        history.replaceState(null, "", v ? "#q=" + encodeURIComponent(v) : location.pathname);
        search(v, box);
      }, 120);
    });
    input.form.addEventListener("submit", function (e) { e.preventDefault(); search(input.value, box); });
    window.addEventListener("hashchange", function () {
      var v = queryOf(location);
      if (v !== input.value) { input.value = v; search(v, box); }
    });
  }

  /* A mail page: find it in the data, then its neighbours. */
  /* A mail of the data as {page, when, from, subject}. */
  function mailAt(y, i) {
    var r = db.mails[y][i];
    return { page: pageOf(y, r), when: r[1], from: r[2], subject: r[3] || "(no subject)" };
  }
  function yearRow(y, i) {
    return loadRows(y, [i]).then(function () { return mailAt(y, i); });
  }
  function setLink(role, mail) {
    document.querySelectorAll('[data-qm="' + role + '"]').forEach(function (a) {
      if (mail) { a.href = href(mail.page); a.title = mail.subject; } else a.hidden = true;
    });
  }
  function navigate() {
    if (!document.querySelector(".qm-nav, .qm-thread")) return;
    var here = decodeURIComponent(location.href.split(/[?#]/)[0]);
    var rootPath = decodeURIComponent(root);
    if (here.indexOf(rootPath) !== 0) return;
    var self = here.substring(rootPath.length);
    load("data/years.js").then(function () {
      var years = db.years.map(function (y) { return y[0]; });
      var guess = parseInt(self, 10);
      var order = years.indexOf(guess) >= 0 ? [guess] : years;
      return Promise.all(order.map(loadYear)).then(function () {
        for (var k = 0; k < order.length; k++) {
          var rows = db.mails[order[k]];
          for (var i = 0; i < rows.length; i++) if (pageOf(order[k], rows[i]) === self) return { y: order[k], i: i, years: years };
        }
        return null;
      });
    }).then(function (at) {
      if (!at) return;
      var rows = db.mails[at.y], yi = at.years.indexOf(at.y);
      if (at.i > 0) setLink("prev-date", mailAt(at.y, at.i - 1));
      else if (yi > 0) { var py = at.years[yi - 1]; yearRow(py, db.years[yi - 1][1] - 1).then(function (r) { setLink("prev-date", r); }); }
      else setLink("prev-date", null);
      if (at.i < rows.length - 1) setLink("next-date", mailAt(at.y, at.i + 1));
      else if (yi < at.years.length - 1) yearRow(at.years[yi + 1], 0).then(function (r) { setLink("next-date", r); });
      else setLink("next-date", null);
      var tid = rows[at.i][4], file = Math.floor(tid / 1000);
      /* A mail nobody answered and that answers none: no thread to show. */
      if (tid < 0) { setLink("prev-thread", null); setLink("next-thread", null); return; }
      return load("data/t" + file + ".js").then(function () {
        var members = db.threads[file][tid % 1000].split(" ").map(function (m) {
          var p = m.split("."); return { y: +p[0], i: +p[1], d: +p[2] };
        });
        var pos = -1;
        members.forEach(function (m, k) { if (m.y === at.y && m.i === at.i) pos = k; });
        return Promise.all(members.map(function (m) { return yearRow(m.y, m.i); })).then(function (list) {
          setLink("prev-thread", pos > 0 ? list[pos - 1] : null);
          setLink("next-thread", pos >= 0 && pos < list.length - 1 ? list[pos + 1] : null);
          var html = '<ol class="qm-tree">';
          list.forEach(function (r, k) {
            html += '<li style="margin-left:' + Math.min(members[k].d, 12) * 1.1 + 'em"' + (k === pos ? ' class="self"' : "") + ">" +
              (k === pos ? esc(r.subject) : '<a href="' + esc(href(r.page)) + '">' + esc(r.subject) + "</a>") +
              " <small>" + esc(r.from) + ", " + esc(r.when) + "</small></li>";
          });
          html += "</ol>";
          document.querySelectorAll('[data-qm="thread"]').forEach(function (d) { d.innerHTML = list.length > 1 ? html : ""; });
        });
      });
    }).catch(function () {});
  }

  /* The senders page: the mails of the sender named by #s=NAME, newest first. */
  function startSenders() {
    var box = document.getElementById("sender-mails");
    if (!box) return;
    function show() {
      var m = /^#s=(.*)$/.exec(location.hash), name;
      if (!m) { box.innerHTML = ""; return; }
      try { name = decodeURIComponent(m[1]); } catch (e) { name = m[1]; }
      box.innerHTML = "<p>Loading\u2026</p>";
      load("data/years.js").then(function () {
        var years = db.years.map(function (y) { return y[0]; }).reverse();
        return Promise.all(years.map(loadYear)).then(function () {
          var html = "", n = 0;
          years.forEach(function (y) {
            var rows = db.mails[y];
            for (var i = rows.length - 1; i >= 0; i--) {
              if (rows[i][2] !== name) continue;
              var r = mailAt(y, i);
              html += '<tr><td>' + esc(r.when) + '<td><a href="' + esc(href(r.page)) + '">' + esc(r.subject) + "</a>\n";
              n++;
            }
          });
          box.innerHTML = "<h2>" + esc(name || "(no sender)") + " <small>" + n + (n === 1 ? " mail" : " mails") +
            '</small></h2><table class="mails"><tbody>' + html + "</tbody></table>";
          box.scrollIntoView();
        });
      }).catch(function () { box.innerHTML = ""; });
    }
    window.addEventListener("hashchange", show);
    show();
  }

  function start() { startSearch(); startSenders(); navigate(); }
  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start); else start();
})();
