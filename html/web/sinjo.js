// Remote-control page script. Plain ES5 so that old phone browsers run it; no library.
//
// The server's page fragments call the global functions below (QueueSong, SearchFor, SortSongs,
// SortArtists, ShowArtists, ChangePage, MoveQSongFront, MoveQSongUp, RemoveQSong, ToggleBatchQueue)
// from javascript: links and onclick attributes, so they must stay global and keep their names.
//
// Commands go to /control?act=...; the player state comes from /update_control_status (a script that
// colours the audio-source buttons and random play, and sets the full-screen box) and the play queue
// from /queue_list. Both are fetched every few seconds and right after each command. Both answers are
// GB2312, which XMLHttpRequest decodes from the charset of their Content-Type.
//
// Views are page loads of index.htm with act, q or py, param, sortby and artist_sortby. They go through
// the hidden GB2312 form #nav, so that the browser itself encodes the search text in GB2312 as the server
// expects, whatever script calls SearchFor with.
//
// Two searches. The search box asks for "py" (pinyin initials or full pinyin, traditional or simplified
// characters; see help.htm) and searches as the singer types: a short pause after the last key, then the
// song list of the answer replaces the one shown, without loading the page, and an older request still
// on its way is cancelled; pressing Enter loads the page of that same "py" search. The links in the
// lists (an artist, an album, a file type) ask for "q", the exact search. Without script the box is the
// plain form it is in the page, which asks for "q": the remote control's exact search, as it always was.

var POLL_MS = 3000;
var QUEUE_LIMIT = 100;

// Messages shown to the singer.
var TEXT = {
  // "Queued: " + title
  queued: '\u5df2\u70b9\uff1a',
  // "%n songs added"
  queuedMany: '\u5df2\u52a0\u5165 %n \u9996\u6b4c\u66f2',
  // "The queue is full (100 songs)"
  queueFull: '\u5df2\u70b9\u6b4c\u66f2\u5df2\u6ee1 100 \u9996',
  // "Moved up: plays next"
  playNext: '\u5df2\u63d2\u64ad\uff0c\u4e0b\u4e00\u9996\u64ad\u653e',
  // "Removed"
  removed: '\u5df2\u5220\u9664',
  // "Tap again to clear"
  confirmClear: '\u518d\u70b9\u4e00\u6b21\u6e05\u7a7a',
  // "Queue cleared"
  cleared: '\u5df2\u6e05\u7a7a',
  // "Nothing is playing"
  nothingPlaying: '\u6ca1\u6709\u6b4c\u66f2\u5728\u64ad\u653e',
  // "Cannot reach the jukebox, try again later"
  offline: '\u8fde\u63a5\u4e0d\u4e0a\u70b9\u6b4c\u673a\uff0c\u8bf7\u7a0d\u540e\u518d\u8bd5'
};

function $(id) { return document.getElementById(id); }

// ---- page state -----------------------------------------------------------------------------------

// The view of this page: the "act" of its address ("" for the song list).
function CurrentAct() {
  var m = /[?&]act=([^&#]*)/.exec(location.search);
  if (!m) return '';
  try { return decodeURIComponent(m[1].replace(/\+/g, ' ')); } catch (e) { return m[1]; }
}

function IsSongView(act) { return act !== 'artist' && act !== 'album' && act !== 'help'; }

// Which search the page shows: "py" when its address asks for one and not for "q", else "q".
function SearchName() {
  var q = /[?&]q=([^&#]*)/.exec(location.search);
  if (q && q[1] !== '') return 'q';
  return /[?&]py=[^&#]/.test(location.search) ? 'py' : 'q';
}

// What the server put into the page: the search text (as "q" or "py"), the page or category, and both
// sort keys.
function State() {
  var name = SearchName();
  return {
    q: name === 'q' ? $('q').defaultValue : '',
    py: name === 'py' ? $('q').defaultValue : '',
    act: CurrentAct(),
    param: $('param').value,
    sortby: $('sortby').value,
    artist_sortby: $('artist_sortby').value
  };
}

// Loads index.htm with the given fields; empty fields are left out of the address.
function Navigate(fields) {
  var form = $('nav');
  var names = ['q', 'py', 'act', 'param', 'sortby', 'artist_sortby'];
  for (var i = 0; i < names.length; i++) {
    var input = form.elements[names[i]];
    var v = fields[names[i]];
    input.value = v === undefined || v === null ? '' : String(v);
    input.disabled = input.value === '';
  }
  form.submit();
}

// ---- functions the fragments call ----------------------------------------------------------------

function SearchFor(text) {
  var s = State();
  Navigate({ q: text, sortby: s.sortby, artist_sortby: s.artist_sortby });
}

function SortSongs(key) {
  var s = State();
  Navigate({ q: s.q, py: s.py, act: IsSongView(s.act) ? s.act : '', sortby: key, artist_sortby: s.artist_sortby });
}

function ChangePage(page) {
  var s = State();
  Navigate({ q: s.q, py: s.py, act: IsSongView(s.act) ? s.act : '', param: page, sortby: s.sortby,
             artist_sortby: s.artist_sortby });
}

function ShowArtists(category) {
  var s = State();
  Navigate({ q: s.q, py: s.py, act: 'artist', param: category, sortby: s.sortby, artist_sortby: s.artist_sortby });
}

function SortArtists(key) {
  var s = State();
  Navigate({ q: s.q, py: s.py, act: 'artist', param: s.act === 'artist' ? s.param : '', sortby: s.sortby,
             artist_sortby: key });
}

// The tabs: "" (songs), "artist", "album" or "help". The search text and sort keys stay.
function ShowView(act) {
  var s = State();
  Navigate({ q: s.q, py: s.py, act: act, sortby: s.sortby, artist_sortby: s.artist_sortby });
}

// ---- searching as the singer types -----------------------------------------------------------------

var LIVE_PAUSE_MS = 300;
var liveTimer = null;
var liveRequest = null;
var liveShown = null;  // the text whose answer the song list shows

// The search text percent-encoded in GB2312/GBK, as the server reads "py"; null when this browser cannot
// say how (the form is used then). The table of GBK characters is made once from the browser's own GBK
// decoder.
var gbkTable = null;
function GbkEncode(text) {
  var out = '';
  for (var i = 0; i < text.length; i++) {
    var c = text.charAt(i);
    if (c.charCodeAt(0) < 0x80) { out += encodeURIComponent(c); continue; }
    if (gbkTable === null) {
      if (typeof TextDecoder === 'undefined') return null;
      gbkTable = {};
      var decoder;
      try { decoder = new TextDecoder('gbk'); } catch (e) { gbkTable = null; return null; }
      var bytes = new Uint8Array(2);
      for (var lead = 0x81; lead <= 0xFE; lead++) {
        for (var trail = 0x40; trail <= 0xFE; trail++) {
          if (trail === 0x7F) continue;
          bytes[0] = lead; bytes[1] = trail;
          var ch = decoder.decode(bytes);
          if (ch.length === 1 && ch !== '\ufffd' && !(ch in gbkTable)) {
            gbkTable[ch] = '%' + lead.toString(16).toUpperCase() + '%' + trail.toString(16).toUpperCase();
          }
        }
      }
    }
    out += gbkTable[c] || '%3F';  // a character GBK lacks reaches the server as "?", as the form sends it
  }
  return out;
}

function LiveSearchSoon() {
  clearTimeout(liveTimer);
  liveTimer = setTimeout(LiveSearch, LIVE_PAUSE_MS);
}

function LiveSearch() {
  var text = $('q').value.replace(/^\s+|\s+$/g, '');
  if (text === liveShown) return;
  var encoded = GbkEncode(text);
  if (encoded === null || typeof history.replaceState !== 'function') return;  // the form still works
  var s = State();
  var query = (text !== '' ? 'py=' + encoded : '') +
              (s.sortby ? (text !== '' ? '&' : '') + 'sortby=' + encodeURIComponent(s.sortby) : '');
  var url = 'index.htm' + (query ? '?' + query : '');
  if (liveRequest) liveRequest.abort();  // its answer would be older than what is typed now
  var r = new XMLHttpRequest();
  liveRequest = r;
  r.open('GET', url, true);
  r.responseType = 'document';
  r.timeout = 8000;
  r.onload = function () {
    if (liveRequest !== r) return;
    liveRequest = null;
    var doc = r.response;
    var songs = r.status === 200 && doc ? doc.getElementById('songs') : null;
    if (!songs) return;
    $('songs').innerHTML = songs.innerHTML;
    liveShown = text;
    // The page now shows this search: paging, sorting and the tabs keep it.
    history.replaceState(null, '', url);
    $('q').defaultValue = text;
    $('param').value = '';
    ShowSongView();
    MarkColumnHeaders();
    MarkSortOrder();
  };
  r.onerror = r.ontimeout = function () { if (liveRequest === r) liveRequest = null; };
  r.send();
}

function ShowSongView() {
  document.body.className = document.body.className.replace(/\bview_\w+/g, '').replace(/\s+/g, ' ') +
                            ' view_songs';
  var tabs = document.querySelectorAll('#tabs a');
  for (var i = 0; i < tabs.length; i++) tabs[i].className = tabs[i].id === 'tab_songs' ? 'on' : '';
}

function ToggleBatchQueue() {
  var span = $('batch_queue');
  if (!span) return;
  var open = span.style.display === 'none';
  span.style.display = open ? '' : 'none';
  if (span.parentNode) span.parentNode.className = open ? 'batch open' : 'batch';
}

// Queues one song (a number) or several (identifiers joined by ","). A second tap on the same link
// within a moment is taken for a bounce of the finger, not for a wish to sing the song twice.
var lastQueued = { text: '', at: 0 };
function QueueSong(ids) {
  var text = String(ids);
  var now = Date.now();
  if (text === lastQueued.text && now - lastQueued.at < 1000) return;
  lastQueued = { text: text, at: now };
  var count = text.split(/[ ,]+/).filter(function (x) { return x !== ''; }).length;
  if (queueCount >= QUEUE_LIMIT) {
    Toast(TEXT.queueFull);
  } else if (count > 1) {
    Toast(TEXT.queuedMany.replace('%n', count));
  } else {
    Toast(TEXT.queued + SongTitle(text));
  }
  Control('queue_song', text);
}

function MoveQSongFront(index, id) { Control('queue_front', index, id); Toast(TEXT.playNext); }
function MoveQSongUp(index, id) { Control('queue_up', index, id); }
function RemoveQSong(index, id) { Control('queue_remove', index, id); Toast(TEXT.removed); }

// ---- controls of the page itself ----------------------------------------------------------------

function PlayPause() { Control('play_pause'); }
function Next() { Control('next'); }
function Jump(seconds) { Control('jump', seconds); }
function Volume(step) { Control('change_volume', step); }
function RandomPlay() { Control('random_play'); }
function AudioSource(name) { Control('audio_source', name); }
function SetFullScreen(on) { Control('set_setting', 'pref:FullScreen=' + (on ? 'true' : 'false')); }

// Clearing stops the song for everyone, so it takes a second tap within three seconds.
var clearArmed = null;
function ClearQueue() {
  var button = $('clear_queue');
  if (!clearArmed) {
    button.setAttribute('data-label', button.textContent);
    button.textContent = TEXT.confirmClear;
    button.className = 'armed';
    clearArmed = setTimeout(DisarmClear, 3000);
    return;
  }
  DisarmClear();
  Control('clear_queue');
  Toast(TEXT.cleared);
}
function DisarmClear() {
  var button = $('clear_queue');
  clearTimeout(clearArmed);
  clearArmed = null;
  button.textContent = button.getAttribute('data-label') || button.textContent;
  button.className = '';
}

function ToggleQueue() { ToggleClass(document.body, 'queue_open'); }
function ToggleMore() { ToggleClass($('controls'), 'more_open'); FitLayout(); }

function ToggleClass(el, name) {
  var re = new RegExp('(^| )' + name + '( |$)');
  el.className = re.test(el.className) ? el.className.replace(re, ' ').trim() : (el.className + ' ' + name).trim();
}

// The title of a song link on this page, for the confirmation.
function SongTitle(id) {
  if (!/^\d+$/.test(id)) return '';
  var a = document.querySelector('a[href="javascript:QueueSong(' + id + ')"]');
  return a ? a.textContent : '';
}

var toastTimer = null;
function Toast(text) {
  var t = $('toast');
  t.textContent = text;
  t.className = 'show';
  clearTimeout(toastTimer);
  toastTimer = setTimeout(function () { t.className = ''; }, 2200);
}

// ---- talking to the jukebox ----------------------------------------------------------------------

function Get(url, done) {
  var r = new XMLHttpRequest();
  r.open('GET', url, true);
  r.timeout = 8000;
  r.onload = function () { done(r.status === 200 ? r.responseText : null); };
  r.onerror = r.ontimeout = function () { done(null); };
  r.send();
}

function Control(act, param, param2) {
  var url = 'control?act=' + encodeURIComponent(act);
  if (param !== undefined) url += '&param=' + encodeURIComponent(param);
  if (param2 !== undefined) url += '&param2=' + encodeURIComponent(param2);
  Get(url, function (answer) {
    if (answer === null) Toast(TEXT.offline);
    Refresh();
  });
}

// Answers can overtake each other (separate connections); a newer refresh's answer is never replaced
// by an older one's.
var refreshSerial = 0;
var statusShown = 0;
var queueShown = 0;
var queueCount = 0;

function Refresh() {
  var serial = ++refreshSerial;
  Get('update_control_status', function (text) {
    if (text === null) {
      $('now_playing').textContent = TEXT.offline;
      queueHtml = null;
      return;
    }
    if (serial < statusShown) return;
    statusShown = serial;
    // The server's own script: sets the colours of the source buttons and random play, the source
    // name and the full-screen box, by the ids of this page.
    (new Function(text))();
  });
  Get('queue_list', function (html) {
    if (html === null || serial < queueShown) return;
    queueShown = serial;
    ShowQueue(html);
  });
}

var queueHtml = null;

function ShowQueue(html) {
  // Unchanged lists stay as they are, so that a tap on a button is never lost to a refresh.
  if (html === queueHtml) return;
  queueHtml = html;
  var box = $('queue_list');
  box.innerHTML = html;
  // Buttons say what they do, in words, rather than "^" and "X".
  var buttons = box.querySelectorAll('input[type=button]');
  for (var i = 0; i < buttons.length; i++) {
    if (buttons[i].title) buttons[i].value = buttons[i].title;
  }
  var table = box.querySelector('table');
  queueCount = table ? table.rows.length : 0;
  $('queue_count').textContent = String(queueCount);
  document.body.className = document.body.className.replace(/ ?queue_empty/, '') +
                            (queueCount === 0 ? ' queue_empty' : '');
  var top = box.querySelector('tr.top td');
  $('now_playing').textContent = top ? top.textContent : TEXT.nothingPlaying;
}

// ---- start ---------------------------------------------------------------------------------------

// The sort order in use, on the song list's header.
function MarkSortOrder() {
  var headers = document.querySelectorAll('#songs .header');
  var key = (State().sortby || 'artist').toLowerCase();
  for (var i = 0; i < headers.length; i++) {
    if ((headers[i].getAttribute('onclick') || '').indexOf("'" + key + "'") >= 0) headers[i].className += ' on';
  }
}

function MarkCurrent() {
  var s = State();
  var view = IsSongView(s.act) ? 'songs' : s.act;
  document.body.className += ' view_' + view;
  var tab = $('tab_' + view);
  if (tab) tab.className = 'on';
  MarkSortOrder();
  var sorts = document.querySelectorAll('#artists a[href*=SortArtists]');
  var akey = s.artist_sortby.toLowerCase() === 'song_count' ? 'song_count' : 'name';
  for (var j = 0; j < sorts.length; j++) {
    if (sorts[j].getAttribute('href').indexOf("'" + akey + "'") >= 0) sorts[j].className = 'on';
  }
}

// The lists put catalogue text into their SearchFor links as it is, so a name with a quote ("Don't
// Cry") would be a broken script and a "%" would be taken for an escape when the browser runs the link.
// Such links are handled here from the text of the link's address instead.
document.addEventListener('click', function (e) {
  var a = e.target;
  while (a && a.nodeName !== 'A') a = a.parentNode;
  if (!a) return;
  var m = /^javascript:SearchFor\('([\s\S]*)'\)$/i.exec(a.getAttribute('href') || '');
  if (!m) return;
  e.preventDefault();
  SearchFor(m[1]);
});

$('search').onsubmit = function () {
  clearTimeout(liveTimer);
  if (liveRequest) liveRequest.abort();
  liveRequest = null;
  var s = State();
  Navigate({ py: $('q').value.replace(/^\s+|\s+$/g, ''), sortby: s.sortby, artist_sortby: s.artist_sortby });
  return false;
};
$('q').addEventListener('input', LiveSearchSoon);
liveShown = $('q').defaultValue;

// The song table's first row names its columns (and sorts by them): its cells become column headers, so
// that a screen reader names each song's artist, album, title and type by its column.
function MarkColumnHeaders() {
  var cells = document.querySelectorAll('#songs > table[cellpadding] tr:first-child > td.header');
  for (var i = 0; i < cells.length; i++) {
    var td = cells[i];
    var th = document.createElement('th');
    for (var j = 0; j < td.attributes.length; j++) th.setAttribute(td.attributes[j].name, td.attributes[j].value);
    th.setAttribute('scope', 'col');
    while (td.firstChild) th.appendChild(td.firstChild);
    td.parentNode.replaceChild(th, td);
  }
}

MarkColumnHeaders();
MarkCurrent();
Refresh();
setInterval(function () { if (!document.hidden) Refresh(); }, POLL_MS);
document.addEventListener('visibilitychange', function () { if (!document.hidden) Refresh(); });
// Back to this page from the browser's history: what it shows may be old.
window.addEventListener('pageshow', function (e) { if (e.persisted) Refresh(); });

// Wide screens place the queue column right under the header, whose height depends on the fonts.
function FitLayout() {
  document.documentElement.style.setProperty('--head-h', $('top').offsetHeight + 'px');
  document.documentElement.style.setProperty('--bar', $('controls').offsetHeight + 'px');
}
window.addEventListener('resize', FitLayout);
FitLayout();
