// The host console's script. It reaches the jukebox only through `external` (the main window's Door),
// whose members return promises. The phone remote runs in the frame named "remote", from the jukebox's
// own web server.
//
// The script mailbox: the program (Alt+D) or anyone holding the Door leaves script in
// external.NextScriptToExecute; the console empties the mailbox and runs the script, a few times a second.
'use strict';

var QUEUE_POLL_MS = 1500;
var MAILBOX_POLL_MS = 250;
var REMOTE_RETRY_MS = 4000;
// The settings the editor shows, with the program's defaults. The first read of a setting fixes its value
// for the run, so a setting the program reads later with a default of its own must be read with that same
// default here; the program seeds the others (undefined: no default) at start.
var SETTINGS = [
  ['setting:WebServerPort', 'Web server port', '8080'],
  ['setting:MtvRootDir', 'Karaoke video folder'],
  ['setting:MtvIndexDir', 'Song index folder'],
  ['setting:UserMtvRootDir', 'Your own song folders (separated by ";")', ''],
  ['setting:UserMtvExt', 'File types of your own folders', 'mp3,avi,dat,wmv,wma,rmvb'],
  ['setting:NaduMtvRootDir', 'Folder of ripped albums'],
  ['setting:PageSize', 'Songs per page', '200'],
  ['pref:FullScreen', 'Player full screen (true or false)']
];

function $(id) { return document.getElementById(id); }

function Say(text) { $('tools_status').textContent = text; }

function Failed(what) {
  return function (error) { Say(what + ' failed: ' + (error && error.message || error)); };
}

// Counts the loads of this page in this window, so that a reload can be noticed.
var pageLoads = (function () {
  try {
    var n = Number(sessionStorage.getItem('sinjo.console.loads') || '0') + 1;
    sessionStorage.setItem('sinjo.console.loads', String(n));
    return n;
  } catch (e) {
    return 1;
  }
})();
function PageLoads() { return pageLoads; }

// ---- the remote frame --------------------------------------------------------------------------------
var remoteUrl = '';
// Pages the frame has loaded (its first page, searches, views); its origin is another, so this is what the
// console can know of it.
var remoteLoads = 0;
function RemoteLoads() { return remoteLoads; }
$('remote').addEventListener('load', function () { if ($('remote').src) remoteLoads++; });

function ProbeRemote() {
  // A page of another origin cannot be read, but whether anything answers can be told.
  return fetch(remoteUrl + '/', { mode: 'no-cors', cache: 'no-store' }).then(function () { return true; },
                                                                             function () { return false; });
}

function ShowRemote() {
  ProbeRemote().then(function (up) {
    var frame = $('remote');
    if (up) {
      if (frame.hidden) {
        frame.src = remoteUrl + '/';
        frame.hidden = false;
        $('remote_down').hidden = true;
      }
      return;
    }
    frame.hidden = true;
    frame.removeAttribute('src');
    $('remote_url').textContent = remoteUrl;
    $('remote_down').hidden = false;
    setTimeout(ShowRemote, REMOTE_RETRY_MS);
  });
}

// Puts the cursor in the remote's search field (the mailbox's "SetFocusOnSearch()").
function SetFocusOnSearch() {
  var frame = $('remote');
  if (frame.hidden) return;
  frame.focus();
  external.ExecScript('remote', "var q = document.getElementById('q'); if (q) { q.focus(); q.select(); }");
}

function OpenBrowser() { external.OpenBrowser().catch(Failed('Opening the browser')); }

// ---- joining from a phone -----------------------------------------------------------------------------
function DrawQr(canvas, rows) {
  var lines = rows.split('\n');
  var modules = lines.length + 8;  // with the quiet zone of four modules a side
  var scale = Math.max(1, Math.floor(canvas.width / modules));
  var side = modules * scale;
  canvas.width = canvas.height = side;
  var g = canvas.getContext('2d');
  g.fillStyle = '#fff';
  g.fillRect(0, 0, side, side);
  g.fillStyle = '#000';
  for (var y = 0; y < lines.length; y++) {
    for (var x = 0; x < lines[y].length; x++) {
      if (lines[y].charAt(x) === '1') g.fillRect((x + 4) * scale, (y + 4) * scale, scale, scale);
    }
  }
}

function ShowJoin() {
  external.LanUrl.then(function (url) {
    if (!url) {
      $('join_url').textContent = 'This PC is on no network, so phones cannot join. Connect it to the party\'s Wi-Fi.';
      $('join_qr').hidden = true;
      return;
    }
    $('join_url').textContent = url;
    $('join_qr').setAttribute('aria-label', 'QR code of ' + url);
    return external.GetQrCode(url).then(function (rows) { DrawQr($('join_qr'), rows); });
  }).catch(Failed('Finding the address'));
}

// ---- player and audio source ---------------------------------------------------------------------------
function Player(member, argument) {
  var call = argument === undefined ? external[member]() : external[member](argument);
  call.then(RefreshQueue, Failed(member));
}

function ShowSource() {
  external.AudioSource.then(function (name) {
    var inputs = document.querySelectorAll('#sources input');
    for (var i = 0; i < inputs.length; i++) inputs[i].checked = inputs[i].value === name;
  });
}

document.addEventListener('change', function (event) {
  var target = event.target;
  if (target.name === 'source' && target.checked) {
    external.AudioSource = target.value;
    ShowSource();
  }
});

// ---- the queue ------------------------------------------------------------------------------------------
var shownQueue = '';

function ReadQueue() {
  return external.GetQSongCount().then(function (count) {
    var songs = [];
    for (var i = 0; i < count; i++) {
      songs.push(Promise.all([external.GetQSong(i, 'id'), external.GetQSong(i, 'name'), external.GetQSong(i, 'artist')])
        .then(function (p) { return { id: Number(p[0]), name: p[1], artist: p[2] }; }, function () { return null; }));
    }
    return Promise.all(songs);
  });
}

function QueueButton(text, label, action) {
  var b = document.createElement('button');
  b.type = 'button';
  b.textContent = text;
  b.setAttribute('aria-label', label);
  b.onclick = action;
  return b;
}

function ShowQueue(songs) {
  songs = songs.filter(function (s) { return s !== null; });
  var key = JSON.stringify(songs);
  if (key === shownQueue) return;
  shownQueue = key;
  var list = $('queue_list');
  list.textContent = '';
  songs.forEach(function (song, index) {
    var item = document.createElement('li');
    var title = document.createElement('span');
    title.className = 'title';
    title.textContent = song.name + ' ';
    var artist = document.createElement('span');
    artist.className = 'artist';
    artist.textContent = song.artist;
    title.appendChild(artist);
    if (index === 0) {
      var playing = document.createElement('span');
      playing.className = 'playing';
      playing.textContent = 'playing';
      item.appendChild(playing);
    }
    item.appendChild(title);
    if (index >= 2) {
      item.appendChild(QueueButton('Up', 'Move ' + song.name + ' up', function () {
        external.MoveQSongUp(index, song.id).then(RefreshQueue);
      }));
      item.appendChild(QueueButton('Next', 'Sing ' + song.name + ' next', function () {
        external.MoveQSongFront(index, song.id).then(RefreshQueue);
      }));
    }
    if (index >= 1) {
      item.appendChild(QueueButton('Remove', 'Remove ' + song.name, function () {
        external.RemoveQSong(index, song.id).then(RefreshQueue);
      }));
    }
    list.appendChild(item);
  });
  $('queue_count').textContent = String(songs.length);
  $('queue_empty').hidden = songs.length > 0;
  var now = $('now_song');
  now.textContent = songs.length ? songs[0].name + ' ' : 'Nothing is playing.';
  if (songs.length) {
    var who = document.createElement('span');
    who.className = 'artist';
    who.textContent = songs[0].artist;
    now.appendChild(who);
  }
}

function RefreshQueue() {
  return ReadQueue().then(ShowQueue).catch(function () {});
}

function QueueByNumber(begin) {
  var field = $('song_number');
  var id = parseInt(field.value, 10);
  if (isNaN(id) || id < 0) {
    field.focus();
    return;
  }
  external.QueueSong(id, begin).then(function () {
    field.value = '';
    RefreshQueue();
  }, Failed('Queueing'));
}

$('add_song').addEventListener('submit', function (event) {
  event.preventDefault();
  QueueByNumber(false);
});
$('sing_next').addEventListener('click', function () { QueueByNumber(true); });

// ---- catalogue, settings, renaming ---------------------------------------------------------------------
function ReloadCatalogue() {
  Say('Reloading the catalogue...');
  external.Reload().then(function () { return external.GetAlbumCount(); }).then(function (albums) {
    Say('The catalogue was reloaded: ' + albums + ' albums.');
    ShowAlbums();
    RefreshQueue();
  }, Failed('Reloading'));
}

function ShowSettings() {
  var form = $('settings_form');
  SETTINGS.forEach(function (entry, i) {
    var label = document.createElement('label');
    label.htmlFor = 'setting_' + i;
    label.textContent = entry[1];
    var input = document.createElement('input');
    input.type = 'text';
    input.id = 'setting_' + i;
    input.dataset.key = entry[0];
    input.title = entry[0];
    form.appendChild(label);
    form.appendChild(input);
    var read = entry.length > 2 ? external.GetSetting(entry[0], entry[2]) : external.GetSetting(entry[0]);
    read.then(function (value) { input.value = value; });
  });
  var save = document.createElement('button');
  save.type = 'submit';
  save.textContent = 'Save the settings';
  form.appendChild(save);
  form.addEventListener('submit', function (event) {
    event.preventDefault();
    var inputs = form.querySelectorAll('input');
    var saves = [];
    for (var i = 0; i < inputs.length; i++) saves.push(external.SetSetting(inputs[i].dataset.key, inputs[i].value));
    Promise.all(saves).then(function () { Say('Settings saved. They take effect at the next start.'); },
                            Failed('Saving the settings'));
  });
}

function ShowAlbums() {
  var select = $('rename_album');
  external.GetAlbumCount().then(function (count) {
    var names = [];
    for (var i = 0; i < count; i++) {
      names.push(Promise.all([external.GetAlbum(i, 'name'), external.GetAlbum(i, 'artist'),
                              external.GetAlbum(i, 'song_count')]));
    }
    return Promise.all(names);
  }).then(function (albums) {
    select.textContent = '';
    albums.forEach(function (a, i) {
      var option = document.createElement('option');
      option.value = String(i);
      option.textContent = a[0] + (a[1] ? ' - ' + a[1] : '') + ' (' + a[2] + ' songs)';
      select.appendChild(option);
    });
  }).catch(function () {});
}

$('rename_folder_form').addEventListener('submit', function (event) {
  event.preventDefault();
  external.RenameFolder($('rename_folder').value, $('rename_description').value).then(function () {
    Say('The files were renamed; the log shows how it went.');
  }, Failed('Renaming'));
});

$('rename_album_form').addEventListener('submit', function (event) {
  event.preventDefault();
  var index = parseInt($('rename_album').value, 10);
  if (isNaN(index)) return;
  external.RenameAlbum(index, $('rename_kind').value).then(function () {
    Say('The album was renamed; the log shows how it went.');
  }, Failed('Renaming'));
});

// ---- the mailbox ----------------------------------------------------------------------------------------
var mailboxPausedUntil = 0;

// Leaves the mailbox alone for `ms` milliseconds, so that another client of the jukebox (a test, an
// automation script) can read what was left there first.
function PauseMailbox(ms) { mailboxPausedUntil = Date.now() + ms; }

function ReadMailbox() {
  if (Date.now() < mailboxPausedUntil) {
    setTimeout(ReadMailbox, MAILBOX_POLL_MS);
    return;
  }
  external.NextScriptToExecute.then(function (script) {
    if (!script) return;
    external.NextScriptToExecute = '';
    try {
      (0, eval)(script);
    } catch (e) {
      console.error('mailbox script: ' + e.message);
    }
  }).catch(function () {}).then(function () { setTimeout(ReadMailbox, MAILBOX_POLL_MS); });
}

// ---- start ---------------------------------------------------------------------------------------------
function Start() {
  if (typeof external === 'undefined' || !external || typeof external.GetQSongCount !== 'function') {
    Say('This page is the host console of the Sinjobox program and works only inside it.');
    return;
  }
  external.ServeUrl.then(function (url) {
    remoteUrl = url;
    ShowRemote();
  });
  ShowJoin();
  ShowSource();
  ShowSettings();
  ShowAlbums();
  RefreshQueue();
  setInterval(function () { RefreshQueue(); ShowSource(); }, QUEUE_POLL_MS);
  ReadMailbox();
}

Start();
