// The page side of the web backend, linked into quarvel.js with --js-library: the canvas, Escape,
// messages, the launcher dialog as an HTML form, and the soundtrack on Web Audio. The C++ side
// (src/platform/web/*.cpp) calls these; nothing here decides what the demo's logic decides.
// The page (index.html) provides #quarvel-canvas, #quarvel-message and #quarvel-dialog-layer.

mergeInto(LibraryManager.library, {
  $QuarvelPage: {
    escapeDown: false,
    escapeLatched: false,
    watchingKeys: false,
    wasFullscreen: false,
    dialog: null,       // {form, body, controls: Map(id -> element), defaultId, focusId}
    dialogWake: null,   // resumes the suspended runModalDialog
    fittingDialog: false,  // whether a resize refits the dialog
    audio: null,        // the one AudioContext, made by the Enter click (or the first decode)
    fetched: null,      // the bytes of the last fetch, until decoded or dropped
    sounds: {},         // sound id -> {buffer, source, offset, startedAt}
    framesShown: 0,

    setState: function(state) { document.body.dataset.quarvel = state; },
    isStill: function() { return !!(Module['quarvelStill']); },

    // Sends the dialog procedure one command, or Return with the control that has the focus;
    // when the procedure ends the dialog, the form goes and the waiting runModalDialog resumes,
    // within this event, so the Enter click is still the user gesture when the run then asks for
    // fullscreen and sound.
    command: function(controlId) { QuarvelPage.send('_quarvelWebDialogCommand', controlId); },
    returnKey: function(focusedId) { QuarvelPage.send('_quarvelWebDialogReturn', focusedId); },
    send: function(exported, controlId) {
      if (!QuarvelPage.dialog) return;
      if (!Module[exported](controlId)) return;
      QuarvelPage.closeDialog();
      var wake = QuarvelPage.dialogWake;
      QuarvelPage.dialogWake = null;
      if (wake) wake(0);
    },
    closeDialog: function() {
      if (!QuarvelPage.dialog) return;
      QuarvelPage.dialog.form.remove();
      QuarvelPage.dialog = null;
      document.getElementById('quarvel-dialog-layer').hidden = true;
    },
    // The sound's context is made in the Enter click itself, the user gesture every browser asks
    // for before a page may play; whether the launcher then starts the run is its own decision.
    primeAudio: function() {
      var Context = window.AudioContext || window.webkitAudioContext;
      if (!Context) return;
      if (!QuarvelPage.audio) QuarvelPage.audio = new Context();
      if (QuarvelPage.audio.state === 'suspended') QuarvelPage.resumeAudio();
    },
    // Asks the context to run; the promise says whether the browser agreed. resume() of a context
    // with no output to start settles only when the page goes ("Navigated away from page"), so
    // whenAudioRuns bounds the wait, and the page says it once.
    resumeAudio: function() {
      return QuarvelPage.audio.resume().then(function() { return true; }, function() { return false; });
    },
    // Calls done(true) once the context runs, or done(false) when the browser refuses, or when it
    // has not run within audioStartLimitMs: no sound device, or a browser that keeps the page silent.
    audioStartLimitMs: 4000,
    whenAudioRuns: function(done) {
      var context = QuarvelPage.audio;
      if (context.state === 'running') {
        done(true);
        return;
      }
      var timer = 0;
      var finished = false;
      var finish = function(running) {
        if (finished) return;
        finished = true;
        clearTimeout(timer);
        context.removeEventListener('statechange', check);
        done(running);
      };
      var check = function() {
        if (context.state === 'running') finish(true);
      };
      timer = setTimeout(function() { finish(false); }, QuarvelPage.audioStartLimitMs);
      context.addEventListener('statechange', check);
      QuarvelPage.resumeAudio().then(function(agreed) {
        if (agreed) check();
        else finish(false);
      });
    },
    // A line over the page that does not stop the show, unlike a message.
    showNote: function(text) {
      var note = document.getElementById('quarvel-note');
      note.textContent = text;
      note.hidden = false;
    },
    // The dialog at its template's size where that fits the window, smaller where it does not,
    // and as large as fits on a touch screen, whose finger needs more than a mouse pointer does.
    fitDialog: function() {
      if (!QuarvelPage.dialog) return;
      var form = QuarvelPage.dialog.form;
      var margin = 8;
      var most = window.matchMedia('(pointer: coarse)').matches ? 3 : 1;
      var scale = Math.min(most, (window.innerWidth - 2 * margin) / form.offsetWidth,
                           (window.innerHeight - 2 * margin) / form.offsetHeight);
      form.style.transform = 'translate(-50%, -50%) scale(' + Math.max(scale, 0.1) + ')';
    },
    control: function(id) {
      return QuarvelPage.dialog ? QuarvelPage.dialog.controls.get(id) : undefined;
    },
    // Plays the sound from its offset, a little ahead on the context's clock, so the start is a
    // known context time; returns when that time is heard, on performance.now()'s clock. The
    // output's timestamp pairs a context time with the moment it leaves the speakers, the output's
    // latency included; where a browser has none, its reported latency stands in.
    // Firefox is not asked: its first answer for a context is fetched from the audio server on the
    // page's thread while it holds the graph, and where the server's callback is waiting on that
    // graph at that moment (PulseAudio's, about one start in ten on a busy machine), the page
    // stops for good. There the clock starts when the context plays the first sample, ahead of
    // the speakers by the output's latency (tests/web/firefox-latency-deadlock shows the hang).
    startLeadS: 0.02,
    latencyAskable: function() { return !/\bFirefox\//.test(navigator.userAgent); },
    startSound: function(sound) {
      var context = QuarvelPage.audio;
      if (context.state === 'suspended') QuarvelPage.resumeAudio();
      var source = context.createBufferSource();
      source.buffer = sound.buffer;
      source.connect(context.destination);
      source.onended = function() { sound.source = null; sound.offset = 0; };
      var when = context.currentTime + QuarvelPage.startLeadS;
      source.start(when, sound.offset);
      sound.source = source;
      sound.startedAt = when - sound.offset;
      var now = performance.now();
      if (context.state !== 'running') return now;
      var ask = QuarvelPage.latencyAskable();
      var stamp = ask && context.getOutputTimestamp ? context.getOutputTimestamp() : null;
      var heard = stamp && stamp.performanceTime > 0 ?
          stamp.performanceTime + (when - stamp.contextTime) * 1000 :
          now + (when - context.currentTime + (ask && context.outputLatency || context.baseLatency || 0)) * 1000;
      // a timestamp from a stalled output says nothing: never more than a second
      var heardAt = now + Math.min(Math.max(heard - now, 0), 1000);
      Module['quarvelSoundHeardAt'] = heardAt;  // for the page's tests, beside the first frame's time
      return heardAt;
    },
    stopSound: function(sound) {
      if (!sound.source) return;
      sound.source.onended = null;
      sound.source.stop();
      sound.source.disconnect();
      sound.source = null;
    },
  },

  // --- canvas, keys, messages -------------------------------------------------------------------

  quarvelPageDisplaySize__deps: ['$QuarvelPage'],
  quarvelPageDisplaySize: function(widthOut, heightOut, depthOut) {
    var ratio = window.devicePixelRatio || 1;
    HEAP32[widthOut >> 2] = Math.round(screen.width * ratio);
    HEAP32[heightOut >> 2] = Math.round(screen.height * ratio);
    HEAP32[depthOut >> 2] = screen.colorDepth;
  },

  // Sizes the canvas to width x height device pixels (CSS pixels for a still) at the page's
  // top-left corner and shows it; fullscreen asks the browser to show it on the whole screen.
  quarvelPageOpenCanvas__deps: ['$QuarvelPage'],
  quarvelPageOpenCanvas: function(width, height, fullscreen) {
    var canvas = document.getElementById('quarvel-canvas');
    var scale = QuarvelPage.isStill() ? 1 : 1 / (window.devicePixelRatio || 1);
    canvas.width = width;
    canvas.height = height;
    canvas.style.width = (width * scale) + 'px';
    canvas.style.height = (height * scale) + 'px';
    canvas.hidden = false;
    QuarvelPage.setState(QuarvelPage.isStill() ? 'still' : 'running');
    if (fullscreen) {
      canvas.classList.add('quarvel-fullscreen');
      if (canvas.requestFullscreen) {
        canvas.requestFullscreen({navigationUI: 'hide'}).catch(function(error) {
          console.warn('quarvel: the page stays in the window, the browser refused fullscreen: ' + error);
        });
      }
    }
  },

  quarvelPageWatchKeys__deps: ['$QuarvelPage'],
  quarvelPageWatchKeys: function() {
    if (QuarvelPage.watchingKeys) return;
    QuarvelPage.watchingKeys = true;
    window.addEventListener('keydown', function(event) {
      if (event.key !== 'Escape') return;
      QuarvelPage.escapeDown = true;
      QuarvelPage.escapeLatched = true;
    });
    window.addEventListener('keyup', function(event) {
      if (event.key === 'Escape') QuarvelPage.escapeDown = false;
    });
    // in fullscreen the browser keeps Escape to itself and leaves fullscreen: that is the
    // viewer's Escape too
    document.addEventListener('fullscreenchange', function() {
      if (document.fullscreenElement) {
        QuarvelPage.wasFullscreen = true;
      } else if (QuarvelPage.wasFullscreen) {
        QuarvelPage.wasFullscreen = false;
        QuarvelPage.escapeLatched = true;
      }
    });
  },

  quarvelPageEscapePressed__deps: ['$QuarvelPage'],
  quarvelPageEscapePressed: function() {
    var pressed = QuarvelPage.escapeDown || QuarvelPage.escapeLatched;
    QuarvelPage.escapeLatched = false;
    return pressed;
  },

  quarvelPageFrameShown__deps: ['$QuarvelPage'],
  // counted where the page (and its tests) can read it
  quarvelPageFrameShown: function() {
    if (QuarvelPage.framesShown === 0) Module['quarvelFirstFrameAt'] = performance.now();
    Module['quarvelFramesShown'] = ++QuarvelPage.framesShown;
  },

  quarvelPageShowMessage__deps: ['$QuarvelPage'],
  quarvelPageShowMessage: function(text) {
    var box = document.getElementById('quarvel-message');
    box.textContent = UTF8ToString(text);
    box.hidden = false;
    // a message is a failure: the canvas has nothing more to show
    document.getElementById('quarvel-canvas').hidden = true;
    QuarvelPage.setState('message');
  },

  // The run is over: out of fullscreen, the canvas goes and `text` says so, unless a message
  // about a failure is already there.
  quarvelPageEnded__deps: ['$QuarvelPage'],
  quarvelPageEnded: function(text) {
    if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen().catch(function() {});
    document.getElementById('quarvel-canvas').hidden = true;
    var box = document.getElementById('quarvel-message');
    if (box.hidden) {
      box.textContent = UTF8ToString(text);
      box.hidden = false;
    }
    QuarvelPage.setState('ended');
  },

  // The still frame is drawn; once the browser has shown it, the title says so.
  quarvelPageStillRendered: function() {
    requestAnimationFrame(function() {
      requestAnimationFrame(function() { document.title = 'rendered'; });
    });
  },

  // --- the launcher dialog ----------------------------------------------------------------------

  // A form of cx x cy dialog units with `caption` in its title bar and a close box; Return presses
  // `defaultId` until the procedure names another default button.
  quarvelPageDialogBegin__deps: ['$QuarvelPage'],
  quarvelPageDialogBegin: function(caption, cx, cy, defaultId, cancelId) {
    QuarvelPage.closeDialog();
    var form = document.createElement('form');
    form.className = 'quarvel-dialog';
    form.setAttribute('role', 'dialog');
    form.style.setProperty('--cx', cx);
    form.style.setProperty('--cy', cy);
    var title = document.createElement('div');
    title.className = 'quarvel-dialog-caption';
    var captionText = document.createElement('span');
    captionText.textContent = UTF8ToString(caption);
    var close = document.createElement('button');
    close.type = 'button';
    close.className = 'quarvel-dialog-close';
    close.setAttribute('aria-label', 'Close');
    close.tabIndex = -1;
    close.textContent = '\u00d7';
    close.addEventListener('click', function() { QuarvelPage.command(cancelId); });
    title.append(captionText, close);
    var body = document.createElement('div');
    body.className = 'quarvel-dialog-body';
    form.append(title, body);
    form.addEventListener('submit', function(event) { event.preventDefault(); });
    var dialog = {form: form, body: body, controls: new Map(), defaultId: defaultId, focusId: -1};
    // the dialog manager's keys: Escape is Exit, and Return goes to the procedure with the
    // control that has the focus; the sound is primed first, as Return may press Enter
    form.addEventListener('keydown', function(event) {
      if (event.key === 'Escape') {
        event.preventDefault();
        QuarvelPage.command(cancelId);
      } else if (event.key === 'Enter') {
        event.preventDefault();
        QuarvelPage.primeAudio();
        var focused = event.target.dataset ? event.target.dataset.controlId : undefined;
        QuarvelPage.returnKey(focused !== undefined ? Number(focused) : -1);
      }
    });
    QuarvelPage.dialog = dialog;
  },

  // tag: the element that stands for the control (button, input for a check box, span for a
  // static text, select for a drop-down list); align: a static text's CSS text-align. Positions
  // and sizes in dialog units.
  quarvelPageDialogAddControl__deps: ['$QuarvelPage'],
  quarvelPageDialogAddControl: function(id, tag, text, align, x, y, cx, cy) {
    var dialog = QuarvelPage.dialog;
    var element = document.createElement(UTF8ToString(tag));
    var command = function() { QuarvelPage.command(id); };
    if (element instanceof HTMLButtonElement) {
      element.type = 'button';
      element.textContent = UTF8ToString(text);
      element.addEventListener('click', function() {
        if (id === dialog.defaultId) QuarvelPage.primeAudio();
        command();
      });
    } else if (element instanceof HTMLInputElement) {
      element.type = 'checkbox';
      element.addEventListener('click', command);
    } else if (element instanceof HTMLSelectElement) {
      // a combo box's height counts its dropped-down list; closed, it is one line high
      cy = Math.min(cy, 12);
      element.addEventListener('change', command);
    } else {
      element.textContent = UTF8ToString(text);
      element.style.textAlign = UTF8ToString(align);
    }
    element.className = 'quarvel-control';
    element.dataset.controlId = id;
    element.style.setProperty('--x', x);
    element.style.setProperty('--y', y);
    element.style.setProperty('--cx', cx);
    element.style.setProperty('--cy', cy);
    dialog.body.append(element);
    if (id !== -1) dialog.controls.set(id, element);
  },

  quarvelPageSetDefaultButton__deps: ['$QuarvelPage'],
  quarvelPageSetDefaultButton: function(id) {
    var dialog = QuarvelPage.dialog;
    var previous = QuarvelPage.control(dialog.defaultId);
    if (previous) previous.classList.remove('quarvel-default');
    dialog.defaultId = id;
    var button = QuarvelPage.control(id);
    if (button) button.classList.add('quarvel-default');
  },

  // The control the procedure gave the focus; it takes it once the form is shown.
  quarvelPageSetFocus__deps: ['$QuarvelPage'],
  quarvelPageSetFocus: function(id) {
    QuarvelPage.dialog.focusId = id;
    var control = QuarvelPage.control(id);
    if (control && control.isConnected) control.focus();
  },

  quarvelPageDialogShow__deps: ['$QuarvelPage'],
  quarvelPageDialogShow: function() {
    var layer = document.getElementById('quarvel-dialog-layer');
    layer.append(QuarvelPage.dialog.form);
    layer.hidden = false;
    QuarvelPage.fitDialog();
    if (!QuarvelPage.fittingDialog) {
      QuarvelPage.fittingDialog = true;
      window.addEventListener('resize', QuarvelPage.fitDialog);
    }
    QuarvelPage.setState('dialog');
    var focus = QuarvelPage.control(QuarvelPage.dialog.focusId);
    if (focus) focus.focus();
  },

  quarvelPageDialogWait__deps: ['$QuarvelPage'],
  quarvelPageDialogWait: function() {
    return Asyncify.handleSleep(function(wakeUp) { QuarvelPage.dialogWake = wakeUp; });
  },

  quarvelPageDialogClose__deps: ['$QuarvelPage'],
  quarvelPageDialogClose: function() { QuarvelPage.closeDialog(); },

  // Any control: a disabled one takes no clicks, and Enter in the form skips a disabled default.
  quarvelPageEnableControl__deps: ['$QuarvelPage'],
  quarvelPageEnableControl: function(id, enabled) {
    var control = QuarvelPage.control(id);
    if (control) control.disabled = !enabled;
  },

  quarvelPageAppendItem__deps: ['$QuarvelPage'],
  quarvelPageAppendItem: function(id, text) {
    var list = QuarvelPage.control(id);
    if (!(list instanceof HTMLSelectElement)) return;
    // a one-line list selects its first item by itself; the dialog's list does not
    var selected = list.selectedIndex;
    var option = document.createElement('option');
    option.textContent = UTF8ToString(text);
    list.append(option);
    list.selectedIndex = selected;
  },

  quarvelPageSelectItem__deps: ['$QuarvelPage'],
  quarvelPageSelectItem: function(id, index) {
    var list = QuarvelPage.control(id);
    if (list instanceof HTMLSelectElement) list.selectedIndex = index < list.length ? index : -1;
  },

  quarvelPageSelectedItem__deps: ['$QuarvelPage'],
  quarvelPageSelectedItem: function(id) {
    var list = QuarvelPage.control(id);
    return list instanceof HTMLSelectElement ? list.selectedIndex : -1;
  },

  quarvelPageSetChecked__deps: ['$QuarvelPage'],
  quarvelPageSetChecked: function(id, checked) {
    var box = QuarvelPage.control(id);
    if (box instanceof HTMLInputElement) box.checked = !!checked;
  },

  quarvelPageIsChecked__deps: ['$QuarvelPage'],
  quarvelPageIsChecked: function(id) {
    var box = QuarvelPage.control(id);
    return box instanceof HTMLInputElement && box.checked;
  },

  // --- the soundtrack ---------------------------------------------------------------------------

  // Fetches `name` relative to the page; its length in bytes, or -1 when it cannot be had.
  quarvelPageFetch__deps: ['$QuarvelPage'],
  quarvelPageFetch: function(name) {
    var url = UTF8ToString(name);
    return Asyncify.handleSleep(function(wakeUp) {
      fetch(url).then(function(response) {
        if (!response.ok) throw new Error('HTTP ' + response.status);
        return response.arrayBuffer();
      }).then(function(bytes) {
        QuarvelPage.fetched = bytes;
        wakeUp(bytes.byteLength);
      }).catch(function(error) {
        console.warn('quarvel: ' + url + ' cannot be fetched: ' + error.message);
        QuarvelPage.fetched = null;
        wakeUp(-1);
      });
    });
  },

  quarvelPageCopyFetched__deps: ['$QuarvelPage'],
  quarvelPageCopyFetched: function(to) {
    HEAPU8.set(new Uint8Array(QuarvelPage.fetched), to);
  },

  quarvelPageDropFetched__deps: ['$QuarvelPage'],
  quarvelPageDropFetched: function() { QuarvelPage.fetched = null; },

  // Decodes the fetched bytes into sound `id`; 1 when the whole file decoded and the context runs.
  quarvelPageDecodeAudio__deps: ['$QuarvelPage'],
  quarvelPageDecodeAudio: function(id) {
    return Asyncify.handleSleep(function(wakeUp) {
      var bytes = QuarvelPage.fetched;
      QuarvelPage.fetched = null;
      QuarvelPage.primeAudio();
      if (!bytes || !QuarvelPage.audio) {
        wakeUp(0);
        return;
      }
      QuarvelPage.audio.decodeAudioData(bytes).then(function(buffer) {
        // the show's clock starts with its sound, so a context that never runs is no sound at
        // all: the run goes on silent, with the failure line, as on a desktop without a device
        QuarvelPage.whenAudioRuns(function(running) {
          if (!running) {
            QuarvelPage.showNote('The show plays without sound: the browser did not start the page\'s audio ' +
                                 '(there may be no sound device, or it does not let this page play sound).');
            wakeUp(0);
            return;
          }
          QuarvelPage.sounds[id] = {buffer: buffer, source: null, offset: 0, startedAt: 0};
          wakeUp(1);
        });
      }, function(error) {
        console.warn('quarvel: the soundtrack cannot be decoded: ' + error);
        wakeUp(0);
      });
    });
  },

  // Suspends the run until the first sample is heard, so that the show's clock starts with the
  // sound, as on the desktop. A context that is not running (no device, or no gesture allowed it)
  // plays nothing yet, and the run goes on at once.
  quarvelPagePlaySound__deps: ['$QuarvelPage'],
  quarvelPagePlaySound: function(id) {
    return Asyncify.handleSleep(function(wakeUp) {
      var sound = QuarvelPage.sounds[id];
      if (!sound || sound.source) {
        wakeUp(0);
        return;
      }
      var heardAt = QuarvelPage.startSound(sound);
      // a timer may fire a little early on a clock the browser coarsens (Firefox's): the run
      // resumes only once that clock too has passed the moment the sound is heard
      var wake = function() {
        var left = heardAt - performance.now();
        if (left > 0) setTimeout(wake, left);
        else wakeUp(0);
      };
      wake();
    });
  },

  quarvelPagePauseSound__deps: ['$QuarvelPage'],
  quarvelPagePauseSound: function(id) {
    var sound = QuarvelPage.sounds[id];
    if (!sound || !sound.source) return;
    sound.offset = Math.max(QuarvelPage.audio.currentTime - sound.startedAt, 0);
    QuarvelPage.stopSound(sound);
  },

  quarvelPageSeekSoundToStart: function(id) {
    var sound = QuarvelPage.sounds[id];
    if (!sound) return;
    var playing = !!sound.source;
    QuarvelPage.stopSound(sound);
    sound.offset = 0;
    if (playing) QuarvelPage.startSound(sound);
  },
  quarvelPageSeekSoundToStart__deps: ['$QuarvelPage'],

  quarvelPageForgetSound__deps: ['$QuarvelPage'],
  quarvelPageForgetSound: function(id) {
    var sound = QuarvelPage.sounds[id];
    if (!sound) return;
    QuarvelPage.stopSound(sound);
    delete QuarvelPage.sounds[id];
  },
});
